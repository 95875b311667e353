#!/usr/bin/env python3
"""Independent count of the contacts a contact CSV file holds.

Prints the number of data records with more than one column, or 0 when the
first line is too short or names none of the columns a contact needs (e-mail,
company, distribution list, first or last name) under the default labels.
Uses Python's csv module for the records.
"""
import csv
import io
import sys

NEEDED = {"e-mail address", "e-mail", "email", "emailaddress", "company", "dlist",
          "first name", "firstname", "last name", "lastname"}


def count(path):
    data = open(path, "rb").read()
    end = data.find(b"\n")
    first = data[: end + 1] if end >= 0 else data
    first = first[:2999]
    if len(first) < 20:
        return 0
    rest = data[len(first):]
    line = first.rstrip(b"\r\n")
    if line.startswith(b"\xef\xbb"):
        line = line[3:]
    if line[:1] in (b"\xfe", b"\xff"):
        line = line[2:]
    text = line.decode("latin-1")
    names = []
    for token in text.replace(";", ",").split(","):
        if not token:
            continue
        if token.startswith('"'):
            token = token[1:].split('"', 1)[0]
        names.append(token.strip().lower())
    if not NEEDED.intersection(names):
        return 0
    separator = ";" if ";" in text else ","
    reader = csv.reader(io.StringIO(rest.decode("latin-1"), newline=""), delimiter=separator)
    return sum(1 for row in reader if len(row) > 1)


if __name__ == "__main__":
    for path in sys.argv[1:]:
        print(count(path), path)
