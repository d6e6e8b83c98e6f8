#!/usr/bin/env bash
# Save speed: the save routine of the save dialog (SaveRun, driven by
# save_bench_driver) writing COUNT small files (1-8 KiB, 100 to a folder, in
# their folder hierarchy) and one plain file of LARGE_MIB MiB, each beside
# `cp -r` / `cp` of the same data already on disk.
# Goal: saving takes at most 1.5 times as long as the copy.
#
# Inputs stay in the page cache; outputs are removed before each run, outside
# the timing. Best of three runs. Only the saving is timed (the scan is not).
#
#   bench/save_bench.sh [COUNT [LARGE_MIB]]     (default 10000 1024)
#   OSTREL_BENCH_DIR    where the inputs and outputs go (default /tmp/ostrel-save-bench)
#   OSTREL_BENCH_BUILD  the Release build folder (default build/save-bench)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
count="${1:-10000}"
large_mib="${2:-1024}"
work="${OSTREL_BENCH_DIR:-/tmp/ostrel-save-bench}"
build="${OSTREL_BENCH_BUILD:-$root/build/save-bench}"
mkdir -p "$work"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target save_bench_driver make_save_bench_bkf make_extract_bench_bkf >/dev/null
driver="$build/bench/save_bench_driver"
small="$work/save-small-${count}.bkf"
large="$work/save-large-${large_mib}m.bkf"
[ -f "$small" ] || "$build/bench/make_save_bench_bkf" "$small" "$count"
[ -f "$large" ] || "$build/bench/make_extract_bench_bkf" "$large" plain "$large_mib"
cat "$small" "$large" >/dev/null  # into the page cache
out="$work/out"

best() { sort -g | head -n 1; }
# Seconds of one `cp` run after removing its target.
time_cp() {
  rm -rf "$work/cp-copy"; sync -f "$work" 2>/dev/null || true
  local s e
  s=$(date +%s.%N); cp "$@" "$work/cp-copy"; e=$(date +%s.%N)
  awk -v s="$s" -v e="$e" 'BEGIN { printf "%.3f\n", e - s }'
}
# Seconds the driver reports for saving BKF into $out.
time_save() {
  rm -rf "$out"; sync -f "$work" 2>/dev/null || true
  "$driver" "$1" "$out" | awk '{ print $6 }'
}

t_small=$(for _ in 1 2 3; do time_save "$small"; done | best)
rm -rf "$work/small-source"; mv "$out" "$work/small-source"  # the same files, for cp -r
t_small_cp=$(for _ in 1 2 3; do time_cp -r "$work/small-source"; done | best)
rm -rf "$work/small-source"

t_large=$(for _ in 1 2 3; do time_save "$large"; done | best)
head -c $((large_mib << 20)) "$large" >"$work/cp-source"
t_large_cp=$(for _ in 1 2 3; do time_cp "$work/cp-source"; done | best)
rm -rf "$out" "$work/cp-copy" "$work/cp-source"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'small files: %s files  save %ss (%s files/s)  cp -r %ss (%s files/s)  ratio %s (goal <= 1.5)\n' \
  "$count" "$t_small" "$(awk -v n="$count" -v t="$t_small" 'BEGIN { printf "%.0f", n / t }')" \
  "$t_small_cp" "$(awk -v n="$count" -v t="$t_small_cp" 'BEGIN { printf "%.0f", n / t }')" \
  "$(ratio "$t_small" "$t_small_cp")"
mb() { awk -v m="$1" -v t="$2" 'BEGIN { printf "%.0f", m * 1048576 / t / 1e6 }'; }
printf 'large file:  %s MiB   save %ss (%s MB/s)  cp %ss (%s MB/s)  ratio %s (goal <= 1.5)\n' \
  "$large_mib" "$t_large" "$(mb "$large_mib" "$t_large")" "$t_large_cp" "$(mb "$large_mib" "$t_large_cp")" \
  "$(ratio "$t_large" "$t_large_cp")"
