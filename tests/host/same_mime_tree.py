#!/usr/bin/env python3
"""Compares the MIME trees of two messages as Python's email package reads
them: at every message level the same subject, the same leaf parts (type and
decoded bytes; text compared without regard to line ends and trailing blanks)
and the same embedded messages, in any order. The second may be a Maildir
tree: its message of the first's subject is taken. Prints the number of
messages compared; exit status 1 and the first difference when they differ."""
import email
import email.policy
import mailbox
import os
import sys


def leaves_and_messages(message):
    """The leaf parts (type, bytes) and the embedded messages of one level."""
    leaves, embedded = [], []

    def visit(part):
        if part is not message and part.get_content_type() == "message/rfc822":
            embedded.append(part.get_payload(0))
        elif part.is_multipart():
            for child in part.get_payload():
                visit(child)
        else:
            data = part.get_payload(decode=True) or b""
            if part.get_content_maintype() == "text":
                data = data.replace(b"\r\n", b"\n").rstrip()
            leaves.append((part.get_content_type(), data))

    visit(message)
    return sorted(leaves), embedded


def compare(a, b, path):
    if str(a.get("Subject")) != str(b.get("Subject")):
        return f"{path}: subject {a.get('Subject')!r} != {b.get('Subject')!r}", 0
    leaves_a, inner_a = leaves_and_messages(a)
    leaves_b, inner_b = leaves_and_messages(b)
    if leaves_a != leaves_b:
        return f"{path}: leaves differ:\n{[(t, d[:60]) for t, d in leaves_a]}\n{[(t, d[:60]) for t, d in leaves_b]}", 0
    if len(inner_a) != len(inner_b):
        return f"{path}: {len(inner_a)} embedded messages against {len(inner_b)}", 0
    count = 1
    for i, (x, y) in enumerate(zip(inner_a, inner_b)):
        error, n = compare(x, y, f"{path}/{i}")
        if error:
            return error, 0
        count += n
    return None, count


def main():
    with open(sys.argv[1], "rb") as f:
        a = email.message_from_binary_file(f, policy=email.policy.compat32)
    b = None
    if os.path.isdir(sys.argv[2]):
        root = mailbox.Maildir(sys.argv[2], factory=None, create=False)
        for folder in [root] + [root.get_folder(name) for name in root.list_folders()]:
            b = next((m for m in folder if m["Subject"] == a["Subject"]), b)
    else:
        with open(sys.argv[2], "rb") as f:
            b = email.message_from_binary_file(f, policy=email.policy.compat32)
    error, count = compare(a, b, "top")
    if error:
        print(error)
        return 1
    print(f"{count} messages compared, same tree")
    return 0


sys.exit(main())
