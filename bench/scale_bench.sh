#!/bin/sh
# Mail at scale, in wall time, each tool and its peer in the same run,
# alternating, median of three:
#   - bvhost migrate (default work directory) of a DBX of DBX_COUNT messages
#     into a Maildir store, against undbx extracting the same file;
#   - bvhost dump (default work directory) of an mbox-style store of
#     DUMP_COUNT messages, against GMime 3 parsing the same file and writing
#     every leaf part to a file (bench/gmime_leaves.cpp);
#   - for a DBX of STRACE_COUNT messages: system calls per message
#     (strace -c -f), file creations per message (opens with O_CREAT), bytes
#     written to disk per input byte (/proc/PID/io write_bytes) and peak RSS.
# Targets and undbx's output are on the disk under BV_BENCH_DIR (default
# /tmp/bv_scale_bench); bvhost and GMime keep their scratch on /dev/shm, and
# the dump's JSON Lines go there too, as GMime's part files do.
#   bench/scale_bench.sh [BUILD_DIR] [DBX_COUNT] [STRACE_COUNT] [DUMP_COUNT]
set -eu
BUILD=${1:-build/release}
COUNT=${2:-15000}
SCOUNT=${3:-3000}
DCOUNT=${4:-8000}
HERE=$(cd "$(dirname "$0")/.." && pwd)
W=${BV_BENCH_DIR:-/tmp/bv_scale_bench}
# BV_BENCH_NO_BUILD=1 measures the build as it is (e.g. a copy of bin/ and lib/).
[ -n "${BV_BENCH_NO_BUILD:-}" ] || cmake --build "$BUILD" --target bvhost bvole bvoeapi dbx_writer >/dev/null
BIN=$(cd "$BUILD/bin" && pwd)
rm -rf "$W"; mkdir -p "$W"
c++ -O2 -o "$W/gmime_leaves" "$HERE/bench/gmime_leaves.cpp" $(pkg-config --cflags --libs gmime-3.0)
SCRATCH=$(mktemp -d /dev/shm/bv_scale_gmime.XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT

# A store of N messages (about 14.3 KB each, as the generated 3,000-message
# DBX of 43 MB): DIR/mbox/Bench.mbx and DIR/dbx/Bench.dbx.
make_store() {
  mkdir -p "$2/mbox" "$2/dbx"
  python3 "$HERE/bench/mailstore_gen.py" "$2/mbox/Bench.mbx" "$1" "$(($1 * 43 / 3000))"
  "$BIN/dbx_writer" --mbox "$2/mbox/Bench.mbx" "$2/dbx/Bench.dbx"
}

# Wall seconds of one command (its output discarded).
wall() {
  /usr/bin/time -f "%e" -o "$W/time.txt" "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  cat "$W/time.txt"
}
median3() { printf '%s\n' "$@" | sort -n | sed -n 2p; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
make_store "$COUNT" "$W/big"
make_store "$SCOUNT" "$W/small"
make_store "$DCOUNT" "$W/dump"
cat "$W/big/dbx/Bench.dbx" "$W/dump/mbox/Bench.mbx" > /dev/null  # warm the page cache alike

bv=""; peer=""
for i in 1 2 3; do
  rm -rf "$W/md" "$W/undbx"; mkdir -p "$W/undbx"; sync
  bv="$bv $(wall "$BIN/bvhost" migrate --source "oe-dir:$W/big/dbx" --target "oe:$W/md")"
  sync
  peer="$peer $(wall undbx -v 0 "$W/big/dbx/Bench.dbx" "$W/undbx")"
done
messages=$(find "$W/md" -path '*/cur/*' -type f | wc -l)
extracted=$(find "$W/undbx" -name '*.eml' | wc -l)
b=$(median3 $bv); p=$(median3 $peer)
echo "DBX $COUNT messages ($(wc -c < "$W/big/dbx/Bench.dbx") bytes): bvhost migrate $b s (runs:$bv; $messages delivered), undbx $p s (runs:$peer; $extracted extracted), ratio undbx/bvhost $(echo "$p $b" | awk '{printf "%.2f", $1/$2}')"
rm -rf "$W/md" "$W/undbx"

bv=""; peer=""
for i in 1 2 3; do
  bv="$bv $(wall "$BIN/bvhost" dump --source "oe-dir:$W/dump/mbox" --out "$SCRATCH/dump.jsonl")"
  peer="$peer $(wall "$W/gmime_leaves" "$W/dump/mbox/Bench.mbx" "$SCRATCH")"
done
b=$(median3 $bv); p=$(median3 $peer)
echo "mbox $DCOUNT messages ($(wc -c < "$W/dump/mbox/Bench.mbx") bytes): bvhost dump $b s (runs:$bv), GMime 3 leaves $p s (runs:$peer), ratio GMime/bvhost $(echo "$p $b" | awk '{printf "%.2f", $1/$2}')"

# One migration of the small store, counted four ways.
SMALL="$W/small/dbx/Bench.dbx"
rm -rf "$W/md"
strace -f -c -o "$W/strace.txt" "$BIN/bvhost" migrate --source "oe-dir:$W/small/dbx" --target "oe:$W/md" > /dev/null
calls=$(awk '$NF == "total" {print $(NF-2)}' "$W/strace.txt")
rm -rf "$W/md"
strace -f -qq -e trace=openat,open,creat -o "$W/opens.txt" "$BIN/bvhost" migrate --source "oe-dir:$W/small/dbx" --target "oe:$W/md" > /dev/null
creates=$(grep -c 'O_CREAT' "$W/opens.txt")
rm -rf "$W/md"; sync
written=$(sh -c 'before=$(awk "/^write_bytes/ {print \$2}" /proc/$$/io); "$@" > /dev/null; sync; after=$(awk "/^write_bytes/ {print \$2}" /proc/$$/io); echo $((after - before))' sh \
  "$BIN/bvhost" migrate --source "oe-dir:$W/small/dbx" --target "oe:$W/md")
rm -rf "$W/md"
/usr/bin/time -f "%M" -o "$W/rss.txt" "$BIN/bvhost" migrate --source "oe-dir:$W/small/dbx" --target "oe:$W/md" > /dev/null
parts=$(grep -c 'PRT.*O_CREAT' "$W/opens.txt")
echo "DBX $SCOUNT messages ($(wc -c < "$SMALL") bytes): $calls system calls ($(echo "$calls $SCOUNT" | awk '{printf "%.1f", $1/$2}') per message);" \
  "$creates file creations ($(echo "$creates $SCOUNT" | awk '{printf "%.2f", $1/$2}') per message, of them $(echo "$parts $SCOUNT" | awk '{printf "%.2f", $1/$2}') part files);" \
  "$written bytes written ($(echo "$written $(wc -c < "$SMALL")" | awk '{printf "%.2f", $1/$2}') per input byte); peak RSS $(awk '{printf "%.0f", $1/1024}' "$W/rss.txt") MB"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -rf "$W"
