#!/bin/sh
# Calendar reading against libical: a generated calendar of COUNT events
# (zones, recurrences, attendees, alarms) read through `bvhost dump` and
# parsed by libical's icalparser, alternated, three runs each; wall time and
# peak RSS of every run, then syscalls of one bvhost run.
#   bench/calendar_bench.sh [BUILD_DIR] [COUNT]
set -e
BUILD=${1:-build/release}
COUNT=${2:-100000}
RUNS=${RUNS:-3}  # alternated runs of each reader
ROOT=$(cd "$(dirname "$0")/.." && pwd)
[ -x "$BUILD/bin/bvhost" ] || cmake --build "$BUILD" --target bvhost bvole >/dev/null
DIR=$(mktemp -d /tmp/bv_calbench_XXXXXX)
trap 'rm -rf "$DIR"' EXIT
python3 "$ROOT/bench/calendar_gen.py" "$COUNT" "$DIR/cal.ics"
cc -O2 -o "$DIR/libical_count" "$ROOT/bench/libical_count.c" $(pkg-config --cflags --libs libical)
echo "input: $COUNT events, $(wc -c < "$DIR/cal.ics") bytes"
for run in $(seq "$RUNS"); do
  /usr/bin/time -f "bvhost  run $run: %e s wall, %U s user + %S s sys CPU, %M KB peak RSS" nice "$BUILD/bin/bvhost" dump \
    --source "calendar:$DIR/cal.ics" --switches /UTF8 --out "$DIR/out.jsonl" --work-dir "$DIR/work" >/dev/null
  /usr/bin/time -f "libical run $run: %e s wall, %U s user + %S s sys CPU, %M KB peak RSS" nice "$DIR/libical_count" "$DIR/cal.ics" >/dev/null
done
echo "items dumped: $(grep -c '"type":"item"' "$DIR/out.jsonl"), libical events: $("$DIR/libical_count" "$DIR/cal.ics")"
if command -v strace >/dev/null; then
  strace -c -f -o "$DIR/strace.txt" "$BUILD/bin/bvhost" dump --source "calendar:$DIR/cal.ics" --switches /UTF8 \
    --out "$DIR/out.jsonl" --work-dir "$DIR/work" >/dev/null
  echo "syscalls of one bvhost run: $(tail -1 "$DIR/strace.txt" | awk '{print $4}') for $COUNT events"
fi
