#!/usr/bin/env bash
# The full round trip on two demo machines: machine A (user ann) with the data
# of every client, machine B (user bob) with the clients installed in other
# folders and none of the data. Backs up every client of A with one command-line
# run, tests every backup file with unzip and bsdtar, restores each into B and
# compares B with A client by client.
#
#   round_trip.sh BIN_DIR WORK_DIR|--temp [small]
# With --temp the machines live in a temporary folder, removed at the end.
set -euo pipefail
bin=$1
work=$2
size=${3:-}

if [ "$work" = --temp ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/qb-round-trip.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
rm -rf "$work"
mkdir -p "$work/backups"
"$bin/qb_make_demo" "$work/machine-a" ann data $size
"$bin/qb_make_demo" "$work/machine-b" bob empty

clients=oexpress,msoutlook,eudora,incredimail,pegasus,thebat,pocomail,opera,netscape,favorites
echo "== backup of every client of machine A: quillbox /b /c:$clients /p:$work/backups -"
# Progress and error texts go to quillbox.log; the result lines are shown.
QUILLBOX_PREFIX=$work/machine-a "$bin/quillbox" /b "/c:$clients" "/p:$work/backups" - \
  </dev/null 2>>"$work/quillbox.log" || { cat "$work/quillbox.log" >&2; exit 1; }

shopt -s nullglob
backups=("$work"/backups/*.ebk)
if [ ${#backups[@]} -eq 0 ]; then echo "no backup file was written" >&2; exit 1; fi
echo "== every backup file as a plain ZIP file: unzip -t, bsdtar -tf"
for f in "${backups[@]}"; do
  unzip -tqq "$f" >/dev/null || { echo "unzip -t fails on $f" >&2; exit 1; }
  bsdtar -tf "$f" >/dev/null || { echo "bsdtar -tf fails on $f" >&2; exit 1; }
done

# Machine B is fresh: there is nothing of its own to keep, so no undo backup.
echo "== restore of each backup into machine B: quillbox /r /f:FILE /p:$work/restored --no-undo"
for f in "${backups[@]}"; do
  QUILLBOX_PREFIX=$work/machine-b "$bin/quillbox" /r "/f:$f" "/p:$work/restored" --no-undo \
    </dev/null 2>>"$work/quillbox.log" || { cat "$work/quillbox.log" >&2; exit 1; }
done

echo
echo "== machine B compared with machine A"
"$bin/qb_demo_check" "$work/machine-a" ann "$work/machine-b" bob "$work/backups"
