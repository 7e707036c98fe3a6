#!/usr/bin/env bash
# Backup, test and restore of an Outlook Express store through quillbox, side
# by side with bsdtar, Info-ZIP zip -6 / unzip and 7-Zip (where installed) on the
# same files, in one run: wall time, peak memory (GNU time) and archive size.
# Then the restore of 4000, 16000 and 64000 small messages in one store folder,
# with the growth factor from 16000 to 64000 (linear: about 4).
#
#   bench/compare.sh [build folder]          (default: build)
#   SMALL=3000 BIG_MIB=256 SCALE="4000 16000 64000" bench/compare.sh
#
# The store: SMALL mail-like messages of 2-50 KB and one BIG_MIB MiB store file,
# its first half mail text and its second half incompressible. Every tool starts
# from a warm page cache. On a shared machine the figures vary from run to run.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
bin=$build/bin
small=${SMALL:-3000}
big_mib=${BIG_MIB:-256}
scale=${SCALE:-4000 16000 64000}

for tool in quillbox qb_make_demo sqx_pack_bench; do
  [ -x "$bin/$tool" ] || { echo "build $tool first (cmake --build $build)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is missing" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qb-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

# "<seconds> <peak KiB>" of a command; its output is dropped, a failure ends the run.
measure() {
  local log=$work/time.log
  if ! /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>"$work/cmd.log" </dev/null; then
    echo "failed: $*" >&2
    cat "$work/cmd.log" >&2
    exit 1
  fi
  tail -1 "$log"
}

# Machine A with a store of $2 small messages (and the big store file when $3 is
# given); prints the host path of the store folder.
make_machine() {
  local prefix=$1 count=$2 big=${3:-0}
  "$bin/qb_make_demo" "$prefix" ann data small >/dev/null
  local store
  store=$(dirname "$(find "$prefix/drive_c" -path '*B7A4C0D2*' -name Inbox.dbx ! -path '*Old Folders*')")
  if [ "$big" -gt 0 ]; then
    "$bin/sqx_pack_bench" generate "$work/gen" "$count" $((big / 2)) >/dev/null
    mv "$work/gen/Mail"/Folder* "$store/"
    { cat "$work/gen/Mail/Inbox.mbox"; head -c $((big / 2 * 1048576)) /dev/urandom; } \
      >"$store/Inbox.dbx"
    rm -rf "$work/gen"
  else
    mkdir -p "$store/Messages"
    for ((i = 0; i < count; i++)); do
      printf 'From: ann@example.com\nSubject: message %d\n\nA short message, number %d.\n' \
        "$i" "$i" >"$store/Messages/$i.eml"
    done
  fi
  echo "$store"
}

row() {  # what tool seconds KiB [bytes]
  printf "%-9s %-22s %8.2f s %8.1f MiB %14s\n" "$1" "$2" "$3" "$(awk -v k="$4" 'BEGIN{print k/1024}')" \
    "${5:+$5 bytes}"
}

echo "machine: $(nproc) cores, $(awk '/MemTotal/{printf "%.1f GiB", $2/1048576}' /proc/meminfo), $(uname -r)"
echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "store: $small messages and a $big_mib MiB store file (half incompressible)"
echo

a=$work/a
store=$(make_machine "$a" "$small" "$big_mib")
parent=$(dirname "$store")
base=$(basename "$store")
find "$store" -type f -exec cat {} + >/dev/null

declare -A secs mem size
mkdir -p "$work/qb"
read -r secs[qb] mem[qb] < <(measure env "QUILLBOX_PREFIX=$a" "$bin/quillbox" /b /c:oexpress "/p:$work/qb" -)
qbfile=$(ls "$work"/qb/*.ebk)
size[qb]=$(stat -c %s "$qbfile")
row backup quillbox "${secs[qb]}" "${mem[qb]}" "${size[qb]}"
read -r secs[bsdtar] mem[bsdtar] < <(measure bsdtar --format zip -cf "$work/b.zip" -C "$parent" "$base")
size[bsdtar]=$(stat -c %s "$work/b.zip")
row backup "bsdtar --format zip" "${secs[bsdtar]}" "${mem[bsdtar]}" "${size[bsdtar]}"
if command -v zip >/dev/null; then
  read -r s m < <(cd "$parent" && measure zip -6 -q -r "$work/z.zip" "$base")
  row backup "zip -6" "$s" "$m" "$(stat -c %s "$work/z.zip")"
fi
if command -v 7z >/dev/null; then
  read -r s m < <(measure 7z a -tzip -bd "$work/7.zip" "$store")
  row backup "7z a -tzip" "$s" "$m" "$(stat -c %s "$work/7.zip")"
fi
echo
read -r secs[test] mem[test] < <(measure env QUILLBOX_PREFIX="$a" "$bin/quillbox" /t "/f:$qbfile")
row test "quillbox /t" "${secs[test]}" "${mem[test]}"
command -v unzip >/dev/null && { read -r s m < <(measure unzip -tqq "$qbfile"); row test "unzip -t" "$s" "$m"; }
read -r s m < <(measure bsdtar -tf "$qbfile"); row test "bsdtar -tf (names)" "$s" "$m"
command -v 7z >/dev/null && { read -r s m < <(measure 7z t "$qbfile"); row test "7z t" "$s" "$m"; }
echo

b=$work/b
"$bin/qb_make_demo" "$b" bob empty >/dev/null
read -r secs[restore] mem[restore] < <(measure env "QUILLBOX_PREFIX=$b" "$bin/quillbox" /r "/f:$qbfile" "/p:$work/r-qb")
row restore quillbox "${secs[restore]}" "${mem[restore]}"
if command -v unzip >/dev/null; then
  read -r secs[unzip] mem[unzip] < <(measure unzip -qq -o "$qbfile" -d "$work/r-unzip")
  row restore "unzip" "${secs[unzip]}" "${mem[unzip]}"
fi
mkdir -p "$work/r-bsdtar"
read -r s m < <(measure bsdtar -xf "$qbfile" -C "$work/r-bsdtar")
row restore "bsdtar -x" "$s" "$m"
rm -rf "$a" "$b" "$work"/r-* "$work"/*.zip

echo
declare -A scaled
for n in $scale; do
  m=$work/s$n
  make_machine "$m/a" "$n" >/dev/null
  mkdir -p "$m/backups"
  measure env "QUILLBOX_PREFIX=$m/a" "$bin/quillbox" /b /c:oexpress "/p:$m/backups" - >/dev/null
  "$bin/qb_make_demo" "$m/b" bob empty >/dev/null
  read -r s k < <(measure env "QUILLBOX_PREFIX=$m/b" "$bin/quillbox" /r "/f:$(ls "$m"/backups/*.ebk)" "/p:$m/out")
  scaled[$n]=$s
  row restore "quillbox, $n files" "$s" "$k"
  rm -rf "$m"
done

echo
awk -v q="${secs[qb]}" -v b="${secs[bsdtar]}" -v qs="${size[qb]}" -v bs="${size[bsdtar]}" \
    -v qm="${mem[qb]}" -v t="${secs[test]}" -v r="${secs[restore]}" -v u="${secs[unzip]:-0}" \
    -v s16="${scaled[16000]:-0}" -v s64="${scaled[64000]:-0}" 'BEGIN {
  printf "backup: %.2f of bsdtar'\''s time (target <= 0.5), archive %+.1f%% against bsdtar'\''s (target <= +5%%), peak %.1f MiB (target < 64)\n", q / b, (qs - bs) * 100 / bs, qm / 1024
  printf "test after backup: %.0f%% of the backup'\''s time (target < 15%%)\n", t * 100 / q
  if (u > 0) printf "restore: %.2f of unzip'\''s time (target <= 1, aim 0.67)\n", r / u
  if (s16 > 0 && s64 > 0) printf "64000 files restore in %.2f times the time of 16000 (target <= 4.5)\n", s64 / s16
}'
