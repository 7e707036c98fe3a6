#!/usr/bin/env bash
# The demo checker must not call a damaged restore equal: after a good round
# trip, one mail file on machine B is changed, one shortcut removed, one file
# added to a restored folder and one registry value deleted; the checker must
# name each of them and exit with 1.
#
#   check_detects.sh BIN_DIR
set -euo pipefail
bin=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/qb-check-detects.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$(dirname "$0")/round_trip.sh" "$bin" "$work/trip" small >/dev/null
b=$work/trip/machine-b
echo "one more line" >>"$b/drive_c/Mail/Eudora/Work.fol/Old.fol/2003.mbx"
rm "$b/drive_c/users/bob/Favorites/Links/News.url"
echo "stray" >"$b/drive_c/Mail/Poco 3/Mail/stray.mbx"
QUILLBOX_PREFIX=$b "$bin/qbreg" delete 'HKCU\Software\RIT\The Bat!\Users Depot' /v 'Dir #2' /f \
  >/dev/null

status=0
"$bin/qb_demo_check" "$work/trip/machine-a" ann "$b" bob "$work/trip/backups" >"$work/out" ||
  status=$?
cat "$work/out"
fail() { echo "FAILED: $1" >&2; exit 1; }
[ "$status" -eq 1 ] || fail "the checker exited with $status, not 1"
grep -q 'file differs: C:\\Mail\\Eudora\\Work.fol\\Old.fol\\2003.mbx' "$work/out" ||
  fail "the changed mailbox is not reported"
grep -q 'file missing: C:\\users\\bob\\Favorites\\Links\\News.url' "$work/out" ||
  fail "the removed shortcut is not reported"
grep -q 'file not on A: C:\\Mail\\Poco 3\\Mail\\stray.mbx' "$work/out" ||
  fail "the added file is not reported"
grep -q 'registry value missing: .*Users Depot \[Dir #2\]' "$work/out" ||
  fail "the deleted registry value is not reported"
[ "$(grep -c 'DIFFERENT$' "$work/out")" -eq 4 ] || fail "other clients are reported different"
echo "every difference was reported"
