#!/usr/bin/env python3
"""Real mail through the whole migration, checked by other mail software.

  mail_fidelity.py BIN_DIR CORPUS_DIR SCRATCH_DIR
    builds a store directory from the corpus (every .eml file in one DBX
    file, each mbox file as a DBX file and as a mailbox text file read in
    place), migrates it with `bvhost migrate` into a Maildir store, compares
    every message with its source, and has Dovecot's doveadm, as a user
    without privileges, list every folder of a copy and fetch every body
    structure.
  mail_fidelity.py --migrated SOURCE_DIR MAILDIR
    compares every message of a migrated Maildir tree with the .eml file
    below SOURCE_DIR that has its Message-ID, and has Dovecot serve each.

Compared through Python's email package: From, To, Cc, Reply-To, Subject,
the Date as an instant, Message-ID, and every leaf part (content type, file
name, decoded bytes; text as text). Exit 0 when every message arrived and
every difference is a known one (known_differences.tsv); otherwise the
differences are printed and the exit status is 1.
"""
import base64
import email
import email.header
import email.message
import email.policy
import email.utils
import hashlib
import mailbox
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile

# (folder, source file or "#<number>") -> why the copy may differ from its source.
KNOWN = {}
for line in open(os.path.join(os.path.dirname(os.path.abspath(__file__)), 'known_differences.tsv'), encoding='utf-8'):
    if line.strip() and not line.startswith('#'):
        folder, source, reason = line.rstrip('\n').split('\t')
        KNOWN[(folder, source)] = reason

NAMES = {}  # folder -> the source file of each message, where it has one

MBOX_DATE = re.compile(rb'^From \S+ +(Mon|Tue|Wed|Thu|Fri|Sat|Sun)[ ,]*[0-9 ]*'
                       rb'(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec).*[0-9]:[0-9][0-9]')


def split_mbox(data):
    """Messages of a mailbox text file, cut as the reader cuts them: at
    "From -" lines and at RFC 4155 separators after an empty line; the
    separator line itself is dropped here."""
    messages, current, after_empty, first = [], None, True, True
    for line in data.splitlines(keepends=True):
        bare = line.rstrip(b'\r\n')
        is_sep = bare[:6].lower() == b'from -' or (after_empty and MBOX_DATE.match(bare))
        if is_sep or first:
            if current is not None:
                messages.append(b''.join(current))
            current = []
            first = False
        else:
            current.append(line)
        after_empty = bare == b''
    if current is not None:
        messages.append(b''.join(current))
    return messages


def text(value):
    if value is None:
        return ''
    try:
        return ' '.join(str(email.header.make_header(email.header.decode_header(str(value)))).split())
    except Exception:
        return ' '.join(str(value).split())


def addresses(msg, name):
    pairs = email.utils.getaddresses([str(v) for v in msg.get_all(name, [])])
    return sorted((text(n), a.lower()) for n, a in pairs if a or n)


def instant(msg):
    try:
        return email.utils.parsedate_to_datetime(str(msg['Date'])).timestamp()
    except Exception:
        return None


# Documented cosmetic changes, applied to every message before comparing:
# - an HTML body gains a first line naming its charset (a META tag);
# - a part without a file name may get the parser's descriptive name;
# - an empty part is not kept.
HTML_META_LINE = re.compile(r'^<html><META http-equiv="Content-Type" content="text/html; charset=[^"]*">\n')
DEFAULT_NAMES = re.compile(r'^(embedded image\.(jpg|gif|png)|embedded mpeg\.mpg|embedded_document\.pdf|'
                           r'image\.png|Inline\.txt|event\.ics|.*\.ics|Message\.rtf|Message\.eml|pgp message)$')


def leaf_digest(part):
    payload = part.get_payload(decode=True) or b''
    if part.get_content_maintype() == 'text':
        charset = part.get_content_charset() or 'us-ascii'
        try:
            body = payload.decode(charset, errors='replace')
        except LookupError:
            body = payload.decode('latin-1')
        body = HTML_META_LINE.sub('', body.replace('\r\n', '\n')).rstrip()
        return 'text:' + hashlib.sha256(body.encode('utf-8')).hexdigest()[:16]
    return 'bytes:' + hashlib.sha256(payload).hexdigest()[:16]


EMPTY = ('text:' + hashlib.sha256(b'').hexdigest()[:16], 'bytes:' + hashlib.sha256(b'').hexdigest()[:16])


def raw_utf8(value):
    """A header value whose raw 8-bit bytes are UTF-8 (RFC 6532), as text."""
    try:
        return str(value).encode('utf-8', 'surrogateescape').decode('utf-8')
    except UnicodeError:
        return str(value)


def filename(part):
    name = part.get_filename()
    if name and '\ufffd' in name:  # Python reads raw 8-bit header bytes as unknown
        fixed = email.message.Message()
        for key, value in part.raw_items():
            if key.lower() in ('content-disposition', 'content-type'):
                fixed[key] = raw_utf8(value)
        name = fixed.get_filename()
    return name


def leaves(msg):
    found = []
    for part in msg.walk():
        if part.is_multipart() or part.get_content_type() == 'message/rfc822':
            continue
        name = filename(part)
        digest = leaf_digest(part)
        if digest not in EMPTY:
            found.append((part.get_content_type(), text(name) if name else '', digest))
    return sorted(found)


def without_default_names(want_parts, got_parts):
    """Our copy's leaves, with a descriptive name dropped where the source
    leaf of the same content had none."""
    unnamed = {(t, d) for t, n, d in want_parts if not n}
    return sorted((t, '' if (t, d) in unnamed and DEFAULT_NAMES.match(n) else n, d) for t, n, d in got_parts)


def snapshot(raw):
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    return {
        'From': addresses(msg, 'from'),
        'To': addresses(msg, 'to'),
        'Cc': addresses(msg, 'cc'),
        'Reply-To': addresses(msg, 'reply-to'),
        'Subject': text(msg['Subject']),
        'Date': instant(msg),
        'Message-ID': ' '.join(str(msg['Message-ID'] or '').split()),
        'parts': leaves(msg),
    }


def differences(want, got):
    found = []
    for key in ('From', 'To', 'Cc', 'Reply-To', 'Subject', 'Date', 'Message-ID'):
        if want[key] != got[key] and not (key == 'Date' and want[key] is None):
            found.append('%s: %r -> %r' % (key, want[key], got[key]))
    got_parts = without_default_names(want['parts'], got['parts'])
    if want['parts'] != got_parts:
        found.append('parts: %r -> %r' % (want['parts'], got_parts))
    return found


def run(command, **kw):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)


def build_store(bin_dir, corpus, store):
    """Folder name -> source messages, in the order the store holds them."""
    os.makedirs(store)
    folders = {}
    emls = sorted(os.path.join(corpus, 'eml', f) for f in os.listdir(os.path.join(corpus, 'eml'))
                  if f.endswith('.eml'))
    subprocess.check_call([os.path.join(bin_dir, 'dbx_writer'), os.path.join(store, 'eml.dbx')] + emls)
    folders['eml'] = [open(f, 'rb').read() for f in emls]
    NAMES['eml'] = [os.path.basename(f) for f in emls]
    for name in sorted(os.listdir(os.path.join(corpus, 'mbox'))):
        path = os.path.join(corpus, 'mbox', name)
        stem = os.path.splitext(name)[0]
        messages = split_mbox(open(path, 'rb').read())
        os.symlink(path, os.path.join(store, stem + '.mbx'))
        folders[stem] = messages
        subprocess.check_call([os.path.join(bin_dir, 'dbx_writer'), '--mbox', path,
                               os.path.join(store, stem + ' dbx.dbx')])
        folders[stem + ' dbx'] = messages
    return folders


def folder_name(name):
    """A Maildir++ folder name as text: levels joined by '/', each in IMAP
    modified UTF-7 with separators escaped."""
    def run(m):
        if not m.group(1):
            return '&'
        data = m.group(1).replace(',', '/')
        return base64.b64decode(data + '=' * (-len(data) % 4)).decode('utf-16-be')
    def unescape(level):  # Dovecot's list escape: "\2e" for '.'
        return re.sub(r'\\([0-9a-fA-F]{2})', lambda m: chr(int(m.group(1), 16)), level)
    return '/'.join(unescape(re.sub(r'&([^-]*)-', run, level)) for level in name.split('.'))


def maildir_messages(root, folder):
    box = mailbox.Maildir(root, factory=None, create=False)
    for name in box.list_folders():
        if folder_name(name) == folder:
            sub = box.get_folder(name)
            # delivery order: the store object numbers its files (Q<n>)
            order = [(int((re.findall(r'Q(\d+)', k) or ['0'])[0]), k) for k in sub.keys()]
            return [sub.get_bytes(k) for _, k in sorted(order)]
    return []


def check_dovecot(maildir):
    """doveadm as an unprivileged user over a copy: every folder listed,
    every message's body structure fetched. Returns the problems."""
    if not shutil.which('doveadm'):
        return ['doveadm not installed'], 0
    # The unprivileged user must reach the copy: the checkout may sit below a
    # directory only root can enter (mktemp -d), so the copy goes to /tmp.
    copy = tempfile.mkdtemp(prefix='bvole-dovecot-', dir='/tmp')
    os.chmod(copy, 0o755)
    shutil.copytree(maildir, os.path.join(copy, 'Maildir'), symlinks=True)
    user, prefix = pwd.getpwuid(os.getuid()).pw_name, []
    if os.getuid() == 0:
        user = 'nobody'
        entry = pwd.getpwnam(user)
        for base, dirs, files in os.walk(copy):
            for n in [base] + [os.path.join(base, f) for f in files + dirs]:
                os.chown(n, entry.pw_uid, entry.pw_gid)
        prefix = ['setpriv', '--reuid', str(entry.pw_uid), '--regid', str(entry.pw_gid), '--clear-groups']
    config = os.path.join(copy, 'dovecot.conf')
    with open(config, 'w') as f:
        f.write('mail_location = maildir:%s\nmail_home = %s\nssl = no\n'
                'log_path = %s\n' % (os.path.join(copy, 'Maildir'), copy, os.path.join(copy, 'dovecot.log')))
    # the user is the one in the environment: no userdb, no running server
    base = prefix + ['env', 'USER=' + user, 'HOME=' + copy, 'doveadm', '-c', config, '-o', 'base_dir=' + copy]
    problems = []
    listed = run(base + ['mailbox', 'list'])
    if listed.returncode != 0:
        problems.append('doveadm mailbox list: %s' % listed.stdout.decode('utf-8', 'replace'))
    boxes = [b for b in listed.stdout.decode('utf-8').split('\n') if b] if listed.returncode == 0 else []
    fetched = 0
    for name in boxes:
        got = run(base + ['-f', 'flow', 'fetch', 'uid imap.bodystructure', 'mailbox', name, 'all'])
        out = got.stdout.decode('utf-8', 'replace')
        if got.returncode != 0:
            problems.append('doveadm fetch %s: %s' % (name, out[:500]))
        fetched += sum(1 for line in out.split('\n') if line.startswith('uid='))
    log = os.path.join(copy, 'dovecot.log')
    if os.path.exists(log) and 'rror' in open(log, errors='replace').read():
        problems.append('dovecot log: ' + open(log, errors='replace').read()[:2000])
    print('dovecot: %d folders listed, %d body structures fetched' % (len(boxes), fetched))
    shutil.rmtree(copy, ignore_errors=True)
    return problems, fetched


def files_below(root, keep):
    return sorted(os.path.join(base, f) for base, _, files in os.walk(root) for f in files if keep(base, f))


def check_migrated(sources, maildir):
    """Every message of the Maildir tree against its source by Message-ID,
    and every one served by Dovecot."""
    wants = {}
    for path in files_below(sources, lambda base, f: f.endswith('.eml')):
        want = snapshot(open(path, 'rb').read())
        wants[want['Message-ID']] = want
    failures, copies = [], files_below(maildir, lambda base, f: os.path.basename(base) in ('cur', 'new'))
    for path in copies:
        got = snapshot(open(path, 'rb').read())
        want = wants.pop(got['Message-ID'], None)
        diff = differences(want, got) if want else ['no source']
        failures += ['%s %s: %s' % (os.path.basename(path), got['Message-ID'], d) for d in diff]
    failures += ['did not arrive: ' + key for key in wants]
    problems, fetched = check_dovecot(maildir)
    failures += problems
    if fetched != len(copies):
        failures.append('dovecot fetched %d body structures of %d messages' % (fetched, len(copies)))
    print('%d messages compared; %d problems' % (len(copies), len(failures)))
    for f in failures:
        print(f)
    return 1 if failures else 0


def main():
    if sys.argv[1] == '--migrated':
        return check_migrated(*sys.argv[2:4])
    bin_dir, corpus, scratch = sys.argv[1:4]
    shutil.rmtree(scratch, ignore_errors=True)
    store, maildir = os.path.join(scratch, 'store'), os.path.join(scratch, 'maildir')
    folders = build_store(bin_dir, corpus, store)
    result = run([os.path.join(bin_dir, 'bvhost'), 'migrate', '--source', 'oe-dir:' + store,
                  '--target', 'oe:' + maildir, '--work-dir', os.path.join(scratch, 'work')])
    print(result.stdout.decode('utf-8', 'replace').strip())
    failures, known_seen, total = [], 0, 0
    for folder, sources in sorted(folders.items()):
        copies = [snapshot(c) for c in maildir_messages(maildir, folder)]
        wants = [snapshot(m) for m in sources]
        total += len(sources)
        # Copies arrive in source order: each source takes the first copy not
        # yet taken with its key, else the first with its Message-ID.
        paired, taken = {}, set()
        for match in (lambda s: (s['Message-ID'], s['Subject'], s['Date'], str(s['From'])), lambda s: s['Message-ID']):
            for number, want in enumerate(wants):
                free = [i for i, c in enumerate(copies) if i not in taken and match(c) == match(want)]
                if number not in paired and free:
                    paired[number] = free[0]
                    taken.add(free[0])
        for number, want in enumerate(wants):
            label = NAMES.get(folder, [None] * (number + 1))[number] or '#%d' % number
            diff = differences(want, copies[paired[number]]) if number in paired else ['did not arrive']
            if diff and (folder, label) in KNOWN:
                known_seen += 1
            elif diff:
                failures.append('%s #%d %s:\n    %s' % (folder, number, label, '\n    '.join(diff)))
        unpaired = len(copies) - len(paired)
        if unpaired > 0:
            failures.append('%s: %d messages arrived that have no source' % (folder, unpaired))
    problems, fetched = check_dovecot(maildir)
    failures += problems
    arrived = sum(len(maildir_messages(maildir, f)) for f in folders)
    if fetched != arrived:
        failures.append('dovecot fetched %d body structures of %d messages' % (fetched, arrived))
    print('%d messages in %d folders; %d known differences; %d problems' %
          (total, len(folders), known_seen, len(failures)))
    for f in failures:
        print(f)
    return 1 if failures or result.returncode != 0 else 0


if __name__ == '__main__':
    sys.exit(main())
