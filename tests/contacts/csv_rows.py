#!/usr/bin/env python3
"""Reads a CSV file with Python's csv module and prints each row as its
fields joined by the unit separator (0x1f), one row per line, so a test can
check that every field arrives whole in its own column."""
import csv
import sys

with open(sys.argv[1], newline="", encoding="latin-1") as f:
    for row in csv.reader(f, strict=True):
        print("\x1f".join(row))
