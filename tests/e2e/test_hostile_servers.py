#!/usr/bin/env python3
"""Servers that lie: replies, notes, sizes and signatures that never end, and a slow drip; each is cut
at its bound and the pass says why.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_update_pass as base  # noqa: E402


if __name__ == "__main__":
    base.main()
