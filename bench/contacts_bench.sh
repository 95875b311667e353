#!/bin/sh
# Contact benchmark: generates a 100,000-contact Outlook-style CSV file and
# reads it back through the contact reader into the address-book writer.
#   bench/contacts_bench.sh [BUILD_DIR] [COUNT]
set -e
BUILD=${1:-build/release}
COUNT=${2:-100000}
cmake --build "$BUILD" --target contacts_gen bench_contacts >/dev/null
CSV=$(mktemp /tmp/bv_contacts_XXXXXX.csv)
trap 'rm -f "$CSV"' EXIT
"$BUILD/bin/contacts_gen" "$COUNT" "$CSV" 7
echo "input: $COUNT contacts, $(wc -c < "$CSV") bytes"
nice "$BUILD/bin/bench_contacts" --csv "$CSV"
