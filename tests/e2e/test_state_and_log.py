#!/usr/bin/env python3
"""What the updater keeps between passes (the highest versions it installed, the state file) and what
it writes to its log, against a hostile catalogue and a second user.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_update_pass as base  # noqa: E402


if __name__ == "__main__":
    base.main()
