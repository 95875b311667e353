#!/usr/bin/env python3
"""Decodes RFC 2047 header values independently of the module. Each line of
the file named by the argument is a header value's bytes in hex; each output
line is
  <hex of the decoded text as UTF-8> <words> <longest word> <longest line> <bad>
where white space between two encoded words disappears, the first line's
length counts "Original-Sender: " (17), and <bad> counts the faults: a line
break without folding white space, an encoded word that is malformed, does not
decode strictly in its charset, or holds '?' or a stray '='."""
import binascii
import re
import sys

WORD = re.compile(rb'=\?([^?]+)\?([QqBb])\?([^?]*)\?=')


def decode_word(match):
    charset, mode, payload = match.group(1).decode(), match.group(2).upper(), match.group(3)
    if mode == b'B':
        return binascii.a2b_base64(payload, strict_mode=True).decode(charset)
    if re.search(rb'=(?![0-9A-Fa-f]{2})', payload):
        raise ValueError('stray =')
    return binascii.a2b_qp(payload, header=True).decode(charset)


def report(value):
    lines = value.split(b'\r\n')
    bad = sum(1 for line in lines[1:] if line[:1] not in (b' ', b'\t'))
    longest_line = max(len(line) + (17 if i == 0 else 0) for i, line in enumerate(lines))
    unfolded = b''.join(lines)
    out, end, words = b'', 0, []
    for match in WORD.finditer(unfolded):
        between = unfolded[end:match.start()]
        if not (words and end == words[-1][1] and between.strip(b' \t') == b''):
            out += between
        try:
            out += decode_word(match).encode('utf-8')
        except (ValueError, LookupError, binascii.Error):
            bad += 1
        words.append((match.group(0), match.end()))
        end = match.end()
    out += unfolded[end:]
    longest_word = max((len(w) for w, _ in words), default=0)
    return '%s %d %d %d %d' % (out.hex() or '-', len(words), longest_word, longest_line, bad)


for line in open(sys.argv[1]):
    print(report(bytes.fromhex(line.strip())))
