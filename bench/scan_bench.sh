#!/usr/bin/env bash
# Scan speed: `ostrel-bkf scan` of a synthetic 1 GiB BKF file (mostly
# non-block data with blocks scattered through it, plus an intact part with
# many small files) beside `cat FILE > /dev/null` of the same cached file.
# Goal: the scan takes at most 1.5 times as long as cat.
#
#   bench/scan_bench.sh [SIZE_MIB]     (default 1024)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size_mib="${1:-1024}"
work="${OSTREL_BENCH_DIR:-/tmp/ostrel-bench}"
mkdir -p "$work"

cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/release" -j "$(nproc)" --target ostrel-bkf make_bench_bkf >/dev/null
cli="$root/build/release/cli/ostrel-bkf"
file="$work/scan-${size_mib}m.bkf"
[ -f "$file" ] || "$root/build/release/bench/make_bench_bkf" "$file" "$size_mib"

# Best of five runs, in seconds.
best() {
  local best="" t0 t1 t
  for _ in 1 2 3 4 5; do
    t0=$(date +%s.%N)
    "$@" >/dev/null
    t1=$(date +%s.%N)
    t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  printf '%.3f' "$best"
}

cat "$file" >/dev/null  # into the page cache
t_cat=$(best sh -c "cat '$file' > /dev/null")
t_scan=$(best "$cli" scan "$file")
files=$("$cli" scan "$file" | tail -n 1)
printf 'file: %s (%s MiB); %s\n' "$file" "$size_mib" "$files"
printf 'cat:             %ss\n' "$t_cat"
printf 'scan (standard): %ss  ratio %.2f (goal <= 1.5)\n' "$t_scan" "$(awk -v s="$t_scan" -v c="$t_cat" 'BEGIN { print s / c }')"
