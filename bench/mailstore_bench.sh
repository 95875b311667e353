#!/bin/sh
# Mail store benchmark: a generated mbox of COUNT messages (about SIZE_MB)
# and a DBX file of the same messages, read by
#   cat FILE > /dev/null        (the reading limit)
#   undbx FILE DIR              (the peer tool: index-driven extraction)
#   bvhost folders oe-dir       (the folder list: ParseDBX counting every block)
#   bvhost migrate oe-dir -> oe (into a Maildir store), DBX and mbox
#   bvhost dump oe-dir          (JSON Lines), DBX and mbox
# each under /usr/bin/time -v for the wall and CPU (user + system) time and the
# peak resident size; "messages" counts what each run delivered.
# A run at a tenth of the size shows whether memory grows with the file.
#   bench/mailstore_bench.sh [BUILD_DIR] [COUNT] [SIZE_MB]
set -eu
BUILD=${1:-build/release}
COUNT=${2:-50000}
SIZE=${3:-520}
HERE=$(cd "$(dirname "$0")/.." && pwd)
W=${BV_BENCH_DIR:-/tmp/bv_mailstore_bench}
cmake --build "$BUILD" --target bvhost bvole bvoeapi dbx_writer >/dev/null
BIN=$(cd "$BUILD/bin" && pwd)
# The module's temporary files (one message and its parts at a time) go to
# a work directory on tmpfs when there is one, as a host would place them.
WORK=${BV_BENCH_WORK:-/dev/shm/bv_mailstore_bench_work}
[ -d /dev/shm ] || WORK="$W/work"

# One measured command: prints a table row.
#   measure LABEL INPUT_BYTES COMMAND...
measure() {
  label=$1; bytes=$2; shift 2
  /usr/bin/time -v -o "$W/time.txt" "$@" > "$W/out.txt" 2>&1 || { echo "$label failed:"; tail -5 "$W/out.txt"; }
  secs=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]; print s}' "$W/time.txt")
  cpu=$(awk -F': ' '/User time|System time/ {s+=$2} END {print s}' "$W/time.txt")
  rss=$(awk -F': ' '/Maximum resident set size/ {printf "%.0f", $2/1024}' "$W/time.txt")
  if [ -n "${COUNT_EML_IN:-}" ]; then
    items=$(find "$COUNT_EML_IN" -name '*.eml' | wc -l)
  else
    items=$(grep -Eo '[0-9]+ items' "$W/out.txt" | tail -1 | grep -Eo '^[0-9]+' || true)
  fi
  [ -n "$items" ] || items="-"
  awk -v l="$label" -v b="$bytes" -v s="$secs" -v c="$cpu" -v r="$rss" -v i="$items" \
    'BEGIN { mb=b/1048576; printf "| %-30s | %6.1f | %7.2f | %7.2f | %7.1f | %7.1f | %4s | %6s |\n", l, mb, s, c, (s>0?mb/s:0), (c>0?mb/c:0), r, i }'
}

run_set() {
  count=$1; size=$2; tag=$3
  rm -rf "$W/$tag"; mkdir -p "$W/$tag/dbx" "$W/$tag/mbox"
  python3 "$HERE/bench/mailstore_gen.py" "$W/$tag/mbox/Bench.mbx" "$count" "$size"
  "$BIN/dbx_writer" --mbox "$W/$tag/mbox/Bench.mbx" "$W/$tag/dbx/Bench.dbx"
  dbx=$(wc -c < "$W/$tag/dbx/Bench.dbx"); mbx=$(wc -c < "$W/$tag/mbox/Bench.mbx")
  echo "input ($tag): $count messages; DBX $dbx bytes, mbox $mbx bytes"
  echo "| run | MB in | wall s | CPU s | MB/s wall | MB/s CPU | peak RSS MB | messages |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|"
  cat "$W/$tag/dbx/Bench.dbx" > /dev/null  # warm the page cache for every run alike
  measure "cat DBX" "$dbx" sh -c "cat '$W/$tag/dbx/Bench.dbx' > /dev/null"
  measure "cat mbox" "$mbx" sh -c "cat '$W/$tag/mbox/Bench.mbx' > /dev/null"
  measure "bvhost folders DBX (scan only)" "$dbx" "$BIN/bvhost" folders --source "oe-dir:$W/$tag/dbx"
  rm -rf "$W/$tag/undbx"; mkdir -p "$W/$tag/undbx"
  COUNT_EML_IN="$W/$tag/undbx" measure "undbx DBX" "$dbx" undbx -v 0 "$W/$tag/dbx/Bench.dbx" "$W/$tag/undbx"
  rm -rf "$W/$tag/undbx"
  measure "bvhost migrate DBX -> Maildir" "$dbx" "$BIN/bvhost" migrate --source "oe-dir:$W/$tag/dbx" --target "oe:$W/$tag/md1" --work-dir "$WORK/$tag-1"
  rm -rf "$W/$tag/md1"
  measure "bvhost migrate mbox -> Maildir" "$mbx" "$BIN/bvhost" migrate --source "oe-dir:$W/$tag/mbox" --target "oe:$W/$tag/md2" --work-dir "$WORK/$tag-2"
  rm -rf "$W/$tag/md2"
  measure "bvhost dump DBX" "$dbx" "$BIN/bvhost" dump --source "oe-dir:$W/$tag/dbx" --out "$W/$tag/d1.jsonl" --work-dir "$WORK/$tag-3"
  rm -f "$W/$tag/d1.jsonl"
  measure "bvhost dump mbox" "$mbx" "$BIN/bvhost" dump --source "oe-dir:$W/$tag/mbox" --out "$W/$tag/d2.jsonl" --work-dir "$WORK/$tag-4"
  rm -rf "$W/$tag"
}

rm -rf "$W" "$WORK"; mkdir -p "$W" "$WORK"
run_set "$COUNT" "$SIZE" full
echo
run_set $((COUNT / 10)) $((SIZE / 10)) tenth
rm -rf "$W" "$WORK"
