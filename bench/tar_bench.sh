#!/usr/bin/env bash
# extract --tar speed and memory: an intact backup of about 2,000 files in
# SIZE_MIB MiB (make_large_files_bkf, 64 to 320 KiB each, as scan_bench.sh
# makes it), written as a tar stream to /dev/null, beside the folder
# extraction of the same backup (`extract --to DIR`, the output removed
# before each run, outside the timing); and, for comparison, the stream
# through a pipe.
# Goals: the tar run takes at most the time of the folder extraction; its
# peak RSS stays under 64 MiB.
#
# The backup stays in the page cache. Best of RUNS runs (GNU time: 10 ms
# steps); peak RSS is the highest of the runs.
#
#   bench/tar_bench.sh [SIZE_MIB [RUNS]]     (default 400 5)
#   OSTREL_BENCH_DIR    where the input and the output go (default /tmp/ostrel-bench)
#   OSTREL_BENCH_BUILD  the Release build folder (default build/release)
set -euo pipefail
. "$(dirname "$0")/release_build.sh"
size_mib="${1:-400}"
runs="${2:-5}"
release_build ostrel-bkf make_large_files_bkf
cli="$build/cli/ostrel-bkf"
bkf="$work/intact-${size_mib}m.bkf"
[ -f "$bkf" ] || "$build/bench/make_large_files_bkf" "$bkf" "$size_mib" 320
out="$work/tar-bench-out"
clean() { rm -rf "$out"; sync -f "$work" 2>/dev/null || true; }

# RUNS runs of "$@" (best_of), each after `clean`.
measure() { best_of "$runs" clean "$@"; }

cat "$bkf" >/dev/null  # into the page cache
files=$("$cli" scan "$bkf" | sed -n 's/^Total number of files found: //p')
read -r t_dir c_dir rss_dir <<<"$(measure "$cli" extract "$bkf" --to "$out")"
read -r t_tar c_tar rss_tar <<<"$(measure "$cli" extract "$bkf" --tar /dev/null)"
# For comparison: the stream through a pipe, which copies it once more.
read -r t_pipe _ _ <<<"$(measure sh -c '"$0" extract "$1" --tar - | cat >/dev/null' "$cli" "$bkf")"

printf '%s: %s MiB, %s files\n' "$bkf" "$(($(stat -c %s "$bkf") >> 20))" "$files"
printf 'extract --to DIR:        %ss (CPU %ss)  peak RSS %s KiB\n' "$t_dir" "$c_dir" "$rss_dir"
printf 'extract --tar /dev/null: %ss (CPU %ss)  peak RSS %s KiB\n' "$t_tar" "$c_tar" "$rss_tar"
printf 'extract --tar - | cat:   %ss\n' "$t_pipe"
awk -v a="$t_tar" -v b="$t_dir" -v m="$rss_tar" 'BEGIN {
  printf "tar / folder time: %.2f (goal <= 1.00)   tar peak RSS %.1f MiB (goal < 64)\n", a / b, m / 1024
}'
