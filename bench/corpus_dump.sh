#!/bin/sh
# Real-world mail through `bvhost dump` against GMime 3: the public corpus's
# messages (BV_CORPUS_DIR/eml, default ../shared/corpus beside the checkout),
# COPIES times each, in one mbox-style file built in a scratch directory (a
# header "X-Copy: N" keeps the copies apart for the duplicate register).
# Alternating, median of five, wall time; files and JSON on /dev/shm.
#   bench/corpus_dump.sh [BUILD_DIR] [COPIES]
set -eu
BUILD=${1:-build/release}
COPIES=${2:-40}
HERE=$(cd "$(dirname "$0")/.." && pwd)
CORPUS=${BV_CORPUS_DIR:-$HERE/../shared/corpus}
[ -d "$CORPUS/eml" ] || { echo "no corpus at $CORPUS/eml" >&2; exit 1; }
W=$(mktemp -d /dev/shm/bv_corpus_dump.XXXXXX)
trap 'rm -rf "$W"' EXIT
mkdir -p "$W/mbox" "$W/parts"
c++ -O2 -o "$W/gmime_leaves" "$HERE/bench/gmime_leaves.cpp" $(pkg-config --cflags --libs gmime-3.0)
python3 - "$CORPUS/eml" "$COPIES" "$W/mbox/Corpus.mbx" <<'EOF'
import glob, sys
messages = [open(f, 'rb').read().replace(b'\r\n', b'\n').replace(b'\n', b'\r\n')
            for f in sorted(glob.glob(sys.argv[1] + '/*.eml'))]
with open(sys.argv[3], 'wb') as out:
    for copy in range(int(sys.argv[2])):
        for message in messages:
            out.write(b'From - Mon Jan 15 10:00:00 2024\r\nX-Copy: %d\r\n' % copy + message)
            if not message.endswith(b'\n'):
                out.write(b'\r\n')
EOF

wall() {
  /usr/bin/time -f "%e" -o "$W/time.txt" "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  cat "$W/time.txt"
}
median5() { printf '%s\n' "$@" | sort -n | sed -n 3p; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
bv=""; peer=""
for i in 1 2 3 4 5; do
  bv="$bv $(wall "$BUILD/bin/bvhost" dump --source "oe-dir:$W/mbox" --out "$W/dump.jsonl")"
  rm -rf "$W/parts"; mkdir "$W/parts"
  peer="$peer $(wall "$W/gmime_leaves" "$W/mbox/Corpus.mbx" "$W/parts")"
done
items=$(grep -c '"type":"item"' "$W/dump.jsonl")
b=$(median5 $bv); p=$(median5 $peer)
echo "corpus mbox ($(wc -c < "$W/mbox/Corpus.mbx") bytes, $items items): bvhost dump $b s (runs:$bv), GMime 3 leaves $p s (runs:$peer), ratio GMime/bvhost $(echo "$p $b" | awk '{printf "%.2f", $1/$2}')"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
