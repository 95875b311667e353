#!/usr/bin/env python3
"""Writes a mailbox for the mail store benchmark: COUNT messages, about
SIZE_MB megabytes, as an mbox file whose messages are cut by "From -" lines
(the separator the store reader splits at). Mixed plain, quoted-printable and
multipart messages with base64 attachments; deterministic for a given seed.

    mailstore_gen.py OUT.mbox COUNT SIZE_MB [SEED]
"""
import base64
import random
import sys

WORDS = ("meeting report budget plan review draft invoice travel schedule update "
         "project release figures minutes agenda summary contract offer order "
         "delivery question answer thanks regards weekend office team").split()


def sentence(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n)).capitalize() + "."


def body_lines(rng, size):
    out, total = [], 0
    while total < size:
        line = sentence(rng, rng.randint(6, 12))
        out.append(line)
        total += len(line) + 2
    return out


def message(rng, i, target):
    day = 1 + i % 28
    head = [
        f"From: Sender {i % 97} <sender{i % 97}@example.org>",
        f"To: Reader {i % 13} <reader{i % 13}@example.net>",
        f"Subject: {sentence(rng, 4)[:-1]} #{i}",
        f"Date: Mon, {day} Jan 2024 {i % 24:02d}:{i % 60:02d}:00 +0000",
        f"Message-ID: <bench-{i}@example.org>",
        "MIME-Version: 1.0",
    ]
    kind = i % 3
    if kind == 0:
        head.append("Content-Type: text/plain; charset=us-ascii")
        lines = head + [""] + body_lines(rng, target)
    elif kind == 1:
        head.append("Content-Type: text/plain; charset=ISO-8859-1")
        head.append("Content-Transfer-Encoding: quoted-printable")
        text = [l.replace("e", "=E9", 1) for l in body_lines(rng, target)]
        lines = head + [""] + text
    else:
        b = f"bnd{i}"
        head.append(f'Content-Type: multipart/mixed; boundary="{b}"')
        text = body_lines(rng, target // 3)
        blob = base64.b64encode(rng.randbytes(target // 2)).decode()
        att = [blob[k:k + 76] for k in range(0, len(blob), 76)]
        lines = head + ["", f"--{b}", "Content-Type: text/plain; charset=us-ascii", ""] + text + [
            f"--{b}", f'Content-Type: application/octet-stream; name="data{i}.bin"',
            f'Content-Disposition: attachment; filename="data{i}.bin"',
            "Content-Transfer-Encoding: base64", ""] + att + [f"--{b}--"]
    return "\r\n".join(lines) + "\r\n"


def main():
    out, count, size_mb = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 7)
    per_message = int(size_mb * 1024 * 1024 / count)
    with open(out, "w", newline="", encoding="ascii") as f:
        for i in range(count):
            f.write("From - Mon Jan 15 14:00:00 2024\r\n")
            f.write(message(rng, i, rng.randint(per_message // 2, per_message * 3 // 2)))


if __name__ == "__main__":
    main()
