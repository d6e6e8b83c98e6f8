#!/usr/bin/env bash
# Extraction speed and memory: `ostrel-bkf extract` of a synthetic BKF file
# holding one plain file of PLAIN_MIB MiB, beside `cp` of a file of the same
# size, and of one holding an LZS-compressed file of LZS_MIB MiB (text-like
# data, packed to about a third).
# Goals: plain extraction takes at most 1.3 times as long as cp; LZS
# extraction gives at least 300 MB/s of output; peak RSS stays under 64 MiB
# whatever the size.
#
# All files stay in the page cache; every output is removed before each run,
# outside the timing. Best of five runs (GNU time: 10 ms steps).
#
#   bench/extract_bench.sh [PLAIN_MIB [LZS_MIB]]     (default 1024 256)
#   OSTREL_BENCH_DIR    where the inputs and outputs go (default /tmp/ostrel-bench)
#   OSTREL_BENCH_BUILD  the Release build folder (default build/release)
set -euo pipefail
. "$(dirname "$0")/release_build.sh"
plain_mib="${1:-1024}"
lzs_mib="${2:-256}"
release_build ostrel-bkf make_extract_bench_bkf
cli="$build/cli/ostrel-bkf"
plain="$work/extract-plain-${plain_mib}m.bkf"
lzs="$work/extract-lzs-${lzs_mib}m.bkf"
[ -f "$plain" ] || "$build/bench/make_extract_bench_bkf" "$plain" plain "$plain_mib"
[ -f "$lzs" ] || "$build/bench/make_extract_bench_bkf" "$lzs" lzs "$lzs_mib"
out="$work/extract-out"

# Five runs of "$@" (best_of), each after `clean`.
measure() { best_of 5 clean "$@"; }
clean() { rm -rf "$out" "$work/cp-copy"; sync -f "$work" 2>/dev/null || true; }

cat "$plain" "$lzs" >/dev/null  # into the page cache
# The plain file's data itself, the size of what cp is compared with.
head -c $((plain_mib << 20)) "$plain" >"$work/cp-source"

read -r t_cp c_cp _ <<<"$(measure cp "$work/cp-source" "$work/cp-copy")"
read -r t_plain c_plain rss_plain <<<"$(measure "$cli" extract "$plain" --to "$out" --flat)"
read -r t_lzs c_lzs rss_lzs <<<"$(measure "$cli" extract "$lzs" --to "$out" --flat)"
rm -f "$work/cp-source"

mb() { awk -v m="$1" -v t="$2" 'BEGIN { printf "%.0f", m * 1048576 / t / 1e6 }'; }
printf 'plain file:      %s MiB    LZS file: %s MiB of output (%s bytes of frames)\n' \
  "$plain_mib" "$lzs_mib" "$(stat -c %s "$lzs")"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'cp:              %ss (CPU %ss)  %s MB/s\n' "$t_cp" "$c_cp" "$(mb "$plain_mib" "$t_cp")"
printf 'extract plain:   %ss (CPU %ss)  %s MB/s  ratio to cp %s (goal <= 1.3)  peak RSS %s KiB\n' \
  "$t_plain" "$c_plain" "$(mb "$plain_mib" "$t_plain")" "$(ratio "$t_plain" "$t_cp")" "$rss_plain"
printf 'extract LZS:     %ss (CPU %ss)  %s MB/s of output, %s MB/s by CPU time (goal >= 300)  peak RSS %s KiB\n' \
  "$t_lzs" "$c_lzs" "$(mb "$lzs_mib" "$t_lzs")" "$(mb "$lzs_mib" "$c_lzs")" "$rss_lzs"
