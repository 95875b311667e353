#!/usr/bin/env python3
"""Lists a Maildir++ tree the way a mail program sees it, with Python's
mailbox module: one line per folder and per message.

  F <hex of the folder path> <message count>
  M <hex of the folder path> <unread 0/1> <sha256 of the message bytes>

The folder path is the decoded levels joined by U+001F, as UTF-8; the root
maildir has the empty path ("-"). Levels are IMAP modified UTF-7, with
separators escaped as Dovecot's listescape plugin does ("\\2e" for '.').
"""
import base64
import hashlib
import mailbox
import re
import sys


def decode_level(level):
    def run(m):
        text = m.group(1)
        if not text:
            return '&'
        data = text.replace(',', '/')
        data += '=' * (-len(data) % 4)
        return base64.b64decode(data).decode('utf-16-be')
    level = re.sub(r'&([^-]*)-', run, level)
    return re.sub(r'\\([0-9a-fA-F]{2})', lambda m: chr(int(m.group(1), 16)), level)  # Dovecot's list escape


def folder_path(name):
    return '\x1f'.join(decode_level(level) for level in name.split('.'))


def report(box, path):
    hexpath = path.encode('utf-8').hex() or '-'
    keys = list(box.keys())
    print('F %s %d' % (hexpath, len(keys)))
    for key in keys:
        msg = box.get_message(key)
        unread = 1 if msg.get_subdir() == 'new' or 'S' not in msg.get_flags() else 0
        digest = hashlib.sha256(box.get_bytes(key)).hexdigest()
        print('M %s %d %s' % (hexpath, unread, digest))


def main():
    root = mailbox.Maildir(sys.argv[1], factory=None, create=False)
    report(root, '')
    for name in sorted(root.list_folders()):
        report(root.get_folder(name), folder_path(name))


if __name__ == '__main__':
    main()
