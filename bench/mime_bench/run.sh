#!/bin/sh
# Builds the parser benchmark, generates the corpus once (20,000 messages)
# and runs bvole and GMime 3 over it.
set -e
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$ROOT/build/mime-bench}
CORPUS=${CORPUS:-$BUILD/corpus}
COUNT=${COUNT:-20000}
cmake -S "$ROOT/bench/mime_bench" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target mime_bench mime_corpus_gen -j2
if [ ! -f "$CORPUS/msg$(printf %05d $((COUNT - 1))).eml" ]; then
  "$BUILD/mime_corpus_gen" "$CORPUS" "$COUNT"
fi
nice "$BUILD/mime_bench" "$CORPUS" "$BUILD/work"
