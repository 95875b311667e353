#!/bin/sh
# Runs the demo migration on the bundled sample. Until the store readers
# land, it shows the host's help.
set -e
BUILD=${1:-build/release}
"$BUILD/bin/bvhost" --help
