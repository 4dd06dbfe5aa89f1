#!/usr/bin/env python3
"""Another local user shares the machine: folders, files and programs that user could plant or swap
are never read, run or handed to the installer.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_update_pass as base  # noqa: E402


if __name__ == "__main__":
    base.main()
