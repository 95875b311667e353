#!/bin/sh
# Installs the Debian 12 packages that the build, the tests and the demo need,
# skipping what is already there.
set -e
PACKAGES="cmake ninja-build g++ pkg-config make python3 \
  libcurl4-openssl-dev libicu-dev libssl-dev \
  libgtest-dev libgmock-dev libcpp-httplib-dev \
  nlohmann-json3-dev libcli11-dev openssl undbx \
  python3-icalendar python3-dateutil dovecot-core"
if [ "$1" = "--bench" ]; then
  PACKAGES="$PACKAGES libbenchmark-dev libgmime-3.0-dev clang libclang-rt-14-dev time libical-dev strace"
fi
missing=""
for p in $PACKAGES; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
