#!/bin/sh
# Calendar reading and writing against libical: a generated calendar of COUNT
# events (zones, recurrences, attendees, alarms). "dump": read through
# `bvhost dump` against libical's icalparser. "migrate": read and written in
# one `bvhost migrate` (calendar file to calendar file) against libical
# parsing and writing the same file, at COUNT and at a tenth of it to show
# memory does not follow the file. Runs alternate, RUNS of each (3 by
# default); every run's wall time, CPU time and peak RSS, then the medians.
#   bench/calendar_bench.sh [BUILD_DIR] [COUNT] [dump|migrate|both]
set -e
BUILD=${1:-build/release}
COUNT=${2:-100000}
MODE=${3:-both}
RUNS=${RUNS:-3}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
[ -x "$BUILD/bin/bvhost" ] || cmake --build "$BUILD" --target bvhost bvole >/dev/null
DIR=$(mktemp -d /tmp/bv_calbench_XXXXXX)
trap 'rm -rf "$DIR"' EXIT
cc -O2 -o "$DIR/libical_count" "$ROOT/bench/libical_count.c" $(pkg-config --cflags --libs libical)
TIMEFMT="%e %U %S %M"

# timed NAME COMMAND...: one run; appends "name wall cpu rssMB" to runs.txt.
timed() {
  name=$1
  shift
  /usr/bin/time -o "$DIR/time.txt" -f "$TIMEFMT" nice "$@" >/dev/null
  awk -v n="$name" '{printf "%s %.2f %.2f %.1f\n", n, $1, $2 + $3, $4 / 1024}' "$DIR/time.txt" | tee -a "$DIR/runs.txt"
}

# Medians of wall, CPU and peak RSS per run name.
medians() {
  echo "medians (name wall_s cpu_s peak_rss_MB):"
  for name in $(awk '{print $1}' "$DIR/runs.txt" | sort -u); do
    for col in 2 3 4; do
      awk -v n="$name" -v c="$col" '$1 == n {print $c}' "$DIR/runs.txt" | sort -n | awk '{v[NR] = $1} END {printf "%s ", v[int((NR + 1) / 2)]}'
    done | awk -v n="$name" '{print "  " n, $0}'
  done
}

if [ "$MODE" != migrate ]; then
  python3 "$ROOT/bench/calendar_gen.py" "$COUNT" "$DIR/cal.ics"
  echo "dump input: $COUNT events, $(wc -c < "$DIR/cal.ics") bytes"
  for run in $(seq "$RUNS"); do
    rm -rf "$DIR/work"  # the duplicate register of a dump lives there: every run starts empty
    timed bvhost-dump "$BUILD/bin/bvhost" dump --source "calendar:$DIR/cal.ics" --switches /UTF8 \
      --out "$DIR/out.jsonl" --work-dir "$DIR/work"
    timed libical-read "$DIR/libical_count" "$DIR/cal.ics"
  done
  dumped=$(grep -c '"record":' "$DIR/out.jsonl" || true)
  echo "items dumped: $dumped, libical events: $("$DIR/libical_count" "$DIR/cal.ics")"
  [ "$dumped" -eq "$COUNT" ] || { echo "bvhost dumped $dumped of $COUNT events" >&2; exit 1; }
fi

if [ "$MODE" != dump ]; then
  for count in $((COUNT / 10)) "$COUNT"; do
    python3 "$ROOT/bench/calendar_gen.py" "$count" "$DIR/cal$count.ics"
    echo "migrate input: $count events, $(wc -c < "$DIR/cal$count.ics") bytes"
    for run in $(seq "$RUNS"); do
      rm -rf "$DIR/work" "$DIR/out.vcs" "$DIR/out.vcs.bvole-register.txt"  # nothing known from the run before
      timed "bvhost-migrate-$count" "$BUILD/bin/bvhost" migrate --source "calendar:$DIR/cal$count.ics" \
        --target "calendar:$DIR/out.vcs" --switches /UTF8 --work-dir "$DIR/work"
      timed "libical-read-write-$count" "$DIR/libical_count" "$DIR/cal$count.ics" "$DIR/libical.ics"
    done
    written=$(grep -c '^BEGIN:VEVENT' "$DIR/out.vcs" || true)
    echo "events written: bvhost $written, libical $(grep -c '^BEGIN:VEVENT' "$DIR/libical.ics")"
    [ "$written" -eq "$count" ] || { echo "bvhost wrote $written of $count events" >&2; exit 1; }
  done
fi
medians

if command -v strace >/dev/null && [ "$MODE" != dump ]; then
  rm -rf "$DIR/work" "$DIR/out.vcs" "$DIR/out.vcs.bvole-register.txt"
  strace -c -f -o "$DIR/strace.txt" "$BUILD/bin/bvhost" migrate --source "calendar:$DIR/cal$COUNT.ics" \
    --target "calendar:$DIR/out.vcs" --switches /UTF8 --work-dir "$DIR/work" >/dev/null
  echo "syscalls of one bvhost migrate: $(tail -1 "$DIR/strace.txt" | awk '{print $4}') for $COUNT events"
fi
