#!/bin/sh
# Whole large DBX files. Two runs:
#   1. a DBX of COUNT generated messages (default 26,000, past 600,000 block
#      headers) migrated into a Maildir store: every message must arrive;
#   2. a DBX of about SIZE_MB (default 1500) listed with `bvhost folders`
#      (the scan and chain resolution of every block): the message count must
#      equal the generated count; peak RSS shows the block table's memory.
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

# Generated messages of about 12 KB: 23 blocks each.
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

messages=$((SIZE * 1000 / 12))
python3 "$HERE/bench/mailstore_gen.py" "$W/b.mbox" "$messages" "$SIZE"
"$BIN/dbx_writer" --mbox "$W/b.mbox" "$W/b/Huge.dbx"
rm -f "$W/b.mbox"
echo "run 2: $messages messages, $(wc -c < "$W/b/Huge.dbx") bytes"
/usr/bin/time -v -o "$W/time2.txt" "$BIN/bvhost" folders --source "oe-dir:$W/b" > "$W/folders.txt" 2>&1
listed=$(grep -Eo '\{BV:[0-9]+' "$W/folders.txt" | grep -Eo '[0-9]+' | head -1)
echo "  folders: $(grep -E 'Elapsed|Maximum resident' "$W/time2.txt" | tr -s ' ' | tr '\n' ';') listed $listed"
rm -rf "$W/b"
[ "$arrived" = "$COUNT" ] && [ "$listed" = "$messages" ]
