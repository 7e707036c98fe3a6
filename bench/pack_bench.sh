#!/usr/bin/env bash
# Packs a generated mail store (a few thousand messages of 2-50 KB and one
# large mailbox) with the archive library and with bsdtar, and prints the
# wall time and peak memory of each.
#
#   bench/pack_bench.sh [build folder]      (default: build)
#   SMALL=3000 BIG_MIB=1024 ROUNDS=2 bench/pack_bench.sh
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
small=${SMALL:-3000}
big_mib=${BIG_MIB:-1024}
rounds=${ROUNDS:-2}
driver=$build/bin/sqx_pack_bench

if [ ! -x "$driver" ]; then
  echo "build the driver first: cmake --build $build --target sqx_pack_bench" >&2
  exit 1
fi
command -v bsdtar >/dev/null || { echo "bsdtar is missing (libarchive-tools)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sqx-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "generating $small messages and a $big_mib MiB mailbox in $work ..."
"$driver" generate "$work/store" "$small" "$big_mib"
du -sh "$work/store" | sed 's/^/store size: /'
cat $(find "$work/store" -type f) > /dev/null  # both runs start from a warm cache

# GNU time reports elapsed seconds and the peak resident set in KiB.
measure() {
  local label=$1; shift
  /usr/bin/time -f "$label %e %M" "$@" 2>&1 >/dev/null | tail -1
}

best_sqx=""; best_tar=""; mem_sqx=0; mem_tar=0
for round in $(seq 1 "$rounds"); do
  rm -f "$work/sqx.zip" "$work/bsdtar.zip"
  read -r _ t m < <(measure sqx "$driver" pack "$work/sqx.zip" "$work/store")
  echo "round $round  sqx:    ${t} s  peak ${m} KiB  archive $(stat -c %s "$work/sqx.zip") bytes"
  if [ -z "$best_sqx" ] || awk "BEGIN{exit !($t < $best_sqx)}"; then best_sqx=$t; fi
  [ "$m" -gt "$mem_sqx" ] && mem_sqx=$m
  read -r _ t m < <(measure bsdtar bsdtar -a -cf "$work/bsdtar.zip" -C "$work" store)
  echo "round $round  bsdtar: ${t} s  peak ${m} KiB  archive $(stat -c %s "$work/bsdtar.zip") bytes"
  if [ -z "$best_tar" ] || awk "BEGIN{exit !($t < $best_tar)}"; then best_tar=$t; fi
  [ "$m" -gt "$mem_tar" ] && mem_tar=$m
done

unzip -tqq "$work/sqx.zip" >/dev/null && echo "unzip -t: the library's archive is sound"
awk -v s="$best_sqx" -v b="$best_tar" -v ms="$mem_sqx" -v mb="$mem_tar" 'BEGIN {
  printf "best of rounds: sqx %.2f s, bsdtar %.2f s, ratio %.3f (target <= 1.10)\n", s, b, s / b
  printf "peak memory: sqx %.1f MiB (target < 64), bsdtar %.1f MiB\n", ms / 1024, mb / 1024
}'
