#!/usr/bin/env bash
# The desktop program's scan job beside the command-line scan: a synthetic
# 1 GiB BKF file (the one scan_bench.sh uses) scanned through Open, offscreen,
# and by `ostrel-bkf scan`; best of three runs each, in seconds. Goals: the
# scan job takes at most 1.1 times as long, and the user-interface thread
# never stalls for 100 ms or more during the scan.
#
#   bench/gui_scan_bench.sh [SIZE_MIB] [standard|advanced]   (default 1024 standard)
# OSTREL_BENCH_BUILD chooses the Release build folder (default build/release).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size_mib="${1:-1024}"
mode="${2:-standard}"
work="${OSTREL_BENCH_DIR:-/tmp/ostrel-bench}"
mkdir -p "$work"

build="${OSTREL_BENCH_BUILD:-$root/build/release}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target ostrel-bkf make_bench_bkf gui_scan_bench >/dev/null
cli="$build/cli/ostrel-bkf"
driver="$build/bench/gui/gui_scan_bench"
file="$work/scan-${size_mib}m.bkf"
[ -f "$file" ] || "$build/bench/make_bench_bkf" "$file" "$size_mib"
cat "$file" >/dev/null  # into the page cache

best_cli="" ; best_gui="" ; stall_worst=0 ; files="" ; updates=""
for _ in 1 2 3; do
  t0=$(date +%s.%N)
  "$cli" scan "$file" --mode "$mode" >/dev/null
  t1=$(date +%s.%N)
  t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  if [ -z "$best_cli" ] || awk -v t="$t" -v b="$best_cli" 'BEGIN { exit !(t < b) }'; then best_cli=$t; fi

  read -r t files stall updates open_ms < <(QT_QPA_PLATFORM=offscreen "$driver" "$file" "$mode" 2>/dev/null)
  if [ -z "$best_gui" ] || awk -v t="$t" -v b="$best_gui" 'BEGIN { exit !(t < b) }'; then best_gui=$t; fi
  [ "$stall" -gt "$stall_worst" ] && stall_worst=$stall
done

printf 'file: %s (%s MiB), %s mode; %s files found\n' "$file" "$size_mib" "$mode" "$files"
printf 'ostrel-bkf scan: %.3fs\n' "$best_cli"
printf 'scan job (GUI):  %.3fs  ratio %.2f (goal <= 1.1)\n' "$best_gui" \
  "$(awk -v g="$best_gui" -v c="$best_cli" 'BEGIN { print g / c }')"
printf 'longest event-loop stall: %s ms over three runs (goal < 100); progress updates shown: %s\n' \
  "$stall_worst" "$updates"
printf 'the Open command itself (dialog, reset, log, start): %s ms of the last run\n' "$open_ms"
