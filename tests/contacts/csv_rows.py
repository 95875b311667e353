#!/usr/bin/env python3
"""Reads a CSV file with Python's csv module and prints each row as its
fields joined by the unit separator (0x1f), each row ended by 0x1e, so a test can
check that every field arrives whole in its own column. Bytes pass through
unchanged (latin-1 both ways). An optional second argument is the
separator."""
import csv
import sys

with open(sys.argv[1], newline="", encoding="latin-1") as f:
    for row in csv.reader(f, strict=True, delimiter=sys.argv[2] if len(sys.argv) > 2 else ","):
        if row:
            sys.stdout.buffer.write(("\x1f".join(row) + "\x1e").encode("latin-1"))
