#!/bin/sh
# The demo: migrates the sample Outlook Express store (written from samples/
# at build time) into a fresh Maildir store under out/, prints the folder
# list and the summary, and checks with Python's mailbox module that every
# folder and message arrived.
#   scripts/demo.sh [BUILD_DIR]
set -eu
BUILD=${1:-build/release}
HERE=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$BUILD" --target demo_store bvhost bvole bvoeapi >/dev/null 2>&1 ||
  cmake --build "$BUILD" --target demo_store bvhost bvole bvoeapi
STORE="$BUILD/demo-store"
OUT="$HERE/out/demo-maildir"
rm -rf "$OUT"
mkdir -p "$HERE/out"

echo "== source folders ($STORE)"
"$BUILD/bin/bvhost" folders --source "oe-dir:$STORE"
echo
echo "== migrating into $OUT"
"$BUILD/bin/bvhost" migrate --source "oe-dir:$STORE" --target "oe:$OUT"
echo
echo "== checking the Maildir store with Python's mailbox module"
python3 - "$HERE/samples" "$OUT" <<'PY'
import email, email.policy, mailbox, os, re, sys, base64

samples, root = sys.argv[1], sys.argv[2]

def imap_utf7(name):
    out, i = "", 0
    while i < len(name):
        if name[i] == "&":
            j = name.index("-", i)
            chunk = name[i + 1:j]
            if chunk:
                raw = chunk.replace(",", "/")
                raw += "=" * (-len(raw) % 4)
                out += base64.b64decode(raw).decode("utf-16-be")
            else:
                out += "&"
            i = j + 1
        else:
            out += name[i]
            i += 1
    return out

def folder_name(name):  # with Dovecot's list escape undone ("\2e" for '.')
    return re.sub(r"\\([0-9a-fA-F]{2})", lambda m: chr(int(m.group(1), 16)), imap_utf7(name))

store = mailbox.Maildir(root, create=False)
arrived = {folder_name(f): f for f in store.list_folders()}
failures = 0
for line in open(os.path.join(samples, "folders.txt"), encoding="utf-8"):
    if not line.strip() or line.startswith("#"):
        continue
    name, _file, folder, _fmt = line.rstrip("\n").split("|")
    levels = name.split("^")
    if len(levels) == 1 and name.lower() == "inbox":
        levels = ["OE Inbox"]  # the reader lists a top-level Inbox under this name
    target = ".".join(levels)
    src_dir = os.path.join(samples, "mailbox", folder)
    expected = {}
    for f in sorted(os.listdir(src_dir)):
        with open(os.path.join(src_dir, f), "rb") as fh:
            msg = email.message_from_binary_file(fh, policy=email.policy.default)
        expected[msg["Message-ID"]] = msg
    if target not in arrived:
        print(f"MISSING folder {target}")
        failures += 1
        continue
    box = store.get_folder(arrived[target])
    got = {}
    for key, m in box.items():
        got[m["Message-ID"]] = m
    missing = set(expected) - set(got)
    state = "ok" if not missing and len(got) == len(expected) else "MISMATCH"
    print(f"{target:28s} {len(expected)} sent, {len(got)} arrived  {state}")
    if state != "ok":
        failures += 1
    for mid, m in got.items():
        src = expected.get(mid)
        if src is None:
            continue
        unread_src = src.get("X-Mozilla-Status", "") == "0000"
        unread_dst = "S" not in m.get_flags()
        if unread_src != unread_dst or str(src["Subject"]) != str(email.message_from_bytes(
                m.as_bytes(), policy=email.policy.default)["Subject"]):
            print(f"  {mid}: subject or unread state differs")
            failures += 1
if failures:
    print(f"demo check: {failures} problem(s)")
    sys.exit(1)
print("demo check: every folder and message arrived")
PY
