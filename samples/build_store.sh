#!/bin/sh
# Writes the demo's Outlook Express store directory from the hand-written
# messages under samples/mailbox, as folders.txt lists them.
#   build_store.sh TOOLS_BIN_DIR OUT_DIR
set -eu
BIN=$1
OUT=$2
HERE=$(cd "$(dirname "$0")" && pwd)
rm -rf "$OUT"
mkdir -p "$OUT"
set --
while IFS='|' read -r name file dir format; do
  case "$name" in ''|'#'*) continue ;; esac
  case "$format" in
    dbx) "$BIN/dbx_writer" "$OUT/$file" "$HERE/mailbox/$dir" ;;
    jmf6) "$BIN/mbx_writer" --jmf6 "$OUT/$file" "$HERE/mailbox/$dir"/*.eml ;;
    mbox) "$BIN/mbx_writer" "$OUT/$file" "$HERE/mailbox/$dir"/*.eml ;;
    *) echo "build_store.sh: unknown format $format" >&2; exit 1 ;;
  esac
  set -- "$@" "$name=$file"
done < "$HERE/folders.txt"
"$BIN/nch_writer" "$OUT/folders.nch" "$@"
