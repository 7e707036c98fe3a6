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

# GNU time reports elapsed seconds, peak resident set (KiB) and CPU seconds.
# On a shared machine the CPU time is the steadier figure of the two.
measure() {
  /usr/bin/time -f "%e %M %U %S" "$@" 2>&1 >/dev/null | tail -1
}

declare -A wall cpu mem
for round in $(seq 1 "$rounds"); do
  rm -f "$work/sqx.zip" "$work/bsdtar.zip"
  for tool in sqx bsdtar; do
    if [ "$tool" = sqx ]; then
      read -r t m u s < <(measure "$driver" pack "$work/sqx.zip" "$work/store")
    else
      read -r t m u s < <(measure bsdtar -a -cf "$work/bsdtar.zip" -C "$work" store)
    fi
    c=$(awk -v u="$u" -v s="$s" 'BEGIN{printf "%.2f", u + s}')
    printf "round %d  %-6s  wall %7.2f s  cpu %7.2f s  peak %6d KiB  archive %s bytes\n" \
      "$round" "$tool" "$t" "$c" "$m" "$(stat -c %s "$work/$tool.zip")"
    if [ -z "${wall[$tool]:-}" ] || awk "BEGIN{exit !($t < ${wall[$tool]})}"; then wall[$tool]=$t; fi
    if [ -z "${cpu[$tool]:-}" ] || awk "BEGIN{exit !($c < ${cpu[$tool]})}"; then cpu[$tool]=$c; fi
    if [ "$m" -gt "${mem[$tool]:-0}" ]; then mem[$tool]=$m; fi
  done
done

unzip -tqq "$work/sqx.zip" >/dev/null && echo "unzip -t: the library's archive is sound"
awk -v sw="${wall[sqx]}" -v bw="${wall[bsdtar]}" -v sc="${cpu[sqx]}" -v bc="${cpu[bsdtar]}" \
    -v sm="${mem[sqx]}" -v bm="${mem[bsdtar]}" 'BEGIN {
  printf "best wall time: sqx %.2f s, bsdtar %.2f s, ratio %.3f (target <= 1.10)\n", sw, bw, sw / bw
  printf "best cpu time:  sqx %.2f s, bsdtar %.2f s, ratio %.3f\n", sc, bc, sc / bc
  printf "peak memory:    sqx %.1f MiB (target < 64), bsdtar %.1f MiB\n", sm / 1024, bm / 1024
}'
