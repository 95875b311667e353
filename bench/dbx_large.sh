#!/bin/sh
# Whole large DBX files. Two runs:
#   1. a DBX of COUNT generated messages (default 26,000, past 600,000 block
#      headers) migrated into a Maildir store: every message must arrive;
#   2. a DBX of about SIZE_MB (default 1500) listed with `bvhost folders`
#      (the scan and chain resolution of every block): the message count must
#      equal the written count; peak RSS shows the block table's memory.
# Exit 1 when a count is off.
#   bench/dbx_large.sh [BUILD_DIR] [COUNT] [SIZE_MB]
set -eu
BUILD=${1:-build/release}
COUNT=${2:-26000}
SIZE=${3:-1500}
HERE=$(cd "$(dirname "$0")/.." && pwd)
W=${BV_BENCH_DIR:-/tmp/bv_dbx_large}
cmake --build "$BUILD" --target bvhost bvole bvoeapi dbx_writer >/dev/null
BIN=$(cd "$BUILD/bin" && pwd)
rm -rf "$W"; mkdir -p "$W/a" "$W/b"

# Generated messages of about 14 KB: 23 to 27 blocks each.
python3 "$HERE/bench/mailstore_gen.py" "$W/a.mbox" "$COUNT" $((COUNT * 12 / 1000))
"$BIN/dbx_writer" --mbox "$W/a.mbox" "$W/a/Large.dbx"
rm -f "$W/a.mbox"
blocks=$(python3 -c "import os; print(os.path.getsize('$W/a/Large.dbx') // 528)")
echo "run 1: $COUNT messages, $(wc -c < "$W/a/Large.dbx") bytes, about $blocks blocks"
/usr/bin/time -v -o "$W/time1.txt" "$BIN/bvhost" migrate --source "oe-dir:$W/a" --target "oe:$W/md" \
  --work-dir "$W/work" > "$W/migrate.txt" 2>&1
arrived=$(find "$W/md" -path '*/cur/*' -o -path '*/new/*' -type f | grep -c . || true)
echo "  migrate: $(grep -E 'Elapsed|Maximum resident' "$W/time1.txt" | tr -s ' ' | tr '\n' ';') arrived $arrived"
rm -rf "$W/md" "$W/work" "$W/a"

# Run 2 writes its blocks directly (a generated mbox of 1.5 GB takes too
# long): messages of 23 chained blocks, as the scan finds deleted ones.
messages=$(python3 - "$W/b/Huge.dbx" "$SIZE" <<'PY'
import struct, sys
path, size_mb = sys.argv[1], int(sys.argv[2])
per, block = 23, 528
count = size_mb * 1000 * 1000 // (per * block)
with open(path, 'wb', buffering=1 << 22) as out:
    out.write(bytes(0x24BC))
    at = 0x24BC
    for n in range(count):
        text = b'From: sender%d@example.org\r\nSubject: message %d\r\n\r\n' % (n % 97, n)
        text += b'x' * (per * 512 - len(text))
        for j in range(per):
            nxt = at + block if j + 1 < per else 0
            out.write(struct.pack('<IIII', at, 512, 512, nxt) + text[j * 512:(j + 1) * 512])
            at += block
print(count)
PY
)
echo "run 2: $messages messages, $(wc -c < "$W/b/Huge.dbx") bytes"
/usr/bin/time -v -o "$W/time2.txt" "$BIN/bvhost" folders --source "oe-dir:$W/b" > "$W/folders.txt" 2>&1
listed=$(grep -Eo '\{BV:[0-9]+' "$W/folders.txt" | grep -Eo '[0-9]+' | head -1)
echo "  folders: $(grep -E 'Elapsed|Maximum resident' "$W/time2.txt" | tr -s ' ' | tr '\n' ';') listed $listed"
rm -rf "$W/b"
[ "$arrived" = "$COUNT" ] && [ "$listed" = "$messages" ]
