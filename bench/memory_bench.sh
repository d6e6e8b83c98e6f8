#!/usr/bin/env bash
# Memory bounds: `ostrel-bkf scan` of files in which every 1,024-byte window
# holds a valid-looking FILE block with a modification date, at two sizes;
# the growth of peak RSS between them divided by the growth in catalogued
# files gives the bytes per file (goal: at most 104 bytes plus the name's
# UTF-16 size, here 9 units = 18 bytes, so 122). Extraction's peak RSS is
# measured by extract_bench.sh (goal: under 64 MiB).
#
#   bench/memory_bench.sh [SMALL_COUNT LARGE_COUNT]   (default 200000 2000000)
set -euo pipefail
. "$(dirname "$0")/release_build.sh"
small="${1:-200000}"
large="${2:-2000000}"
release_build ostrel-bkf make_window_files_bkf
cli="$build/cli/ostrel-bkf"

# Peak RSS in KiB and the number of files found, as "KIB FILES".
measure() {
  local file="$work/windows-dated-$1.bkf" log="$work/windows-dated-$1.time"
  [ -f "$file" ] || "$build/bench/make_window_files_bkf" "$file" "$1"
  local files
  files=$(/usr/bin/time -v -o "$log" "$cli" scan "$file" --bytes | sed -n 's/^Total number of files found: //p')
  echo "$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log") $files"
}

read -r rss_small files_small <<<"$(measure "$small")"
read -r rss_large files_large <<<"$(measure "$large")"
per_file=$(( (rss_large - rss_small) * 1024 / (files_large - files_small) ))
printf 'scan of %s files: peak RSS %s KiB\n' "$files_small" "$rss_small"
printf 'scan of %s files: peak RSS %s KiB\n' "$files_large" "$rss_large"
printf 'bytes per catalogued file: %s (goal <= 122: 104 + 18 for the name)\n' "$per_file"
