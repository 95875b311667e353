#!/bin/sh
# Every benchmark in one go, on a release build. Each prints its own table;
# bench/README.md lists the figures and the command of each.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/release}
cd "$ROOT"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)"

echo "== message parser against GMime 3 (20,000 messages)"
bench/mime_bench/run.sh
echo "== composer and store import (10,000 messages)"
nice "$BUILD/bin/bench_compose" 10000
echo "== contacts (100,000 contacts)"
bench/contacts_bench.sh "$BUILD" 100000
echo "== mail store reading (50,000 messages, DBX and mbox)"
bench/mailstore_bench.sh "$BUILD"
if [ -x "$BUILD/bin/bench_http" ]; then
  echo "== HTTP download over loopback"
  nice "$BUILD/bin/bench_http" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
fi
echo "== calendar reading against libical (100,000 events)"
bench/calendar_bench.sh "$BUILD" 100000
echo "== mail at scale: DBX migration against undbx, mbox dump against GMime 3"
BV_BENCH_NO_BUILD=1 bench/scale_bench.sh "$BUILD"
if [ -d "${BV_CORPUS_DIR:-$ROOT/../shared/corpus}/eml" ]; then
  echo "== real-world corpus messages through the dump against GMime 3"
  bench/corpus_dump.sh "$BUILD"
fi
