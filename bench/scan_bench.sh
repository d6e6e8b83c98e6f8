#!/usr/bin/env bash
# Scan speed: `ostrel-bkf scan` of a synthetic 1 GiB BKF file (mostly
# non-block data with blocks scattered through it, plus an intact part with
# many small files) beside `cat FILE > /dev/null` of the same cached file.
# Goal: the scan takes at most 1.5 times as long as cat.
#
# The advanced mode scans the same file, and a second file of large files
# (one block of headers before each file's data); on both it reports how many
# bytes each mode read (read(2)/pread(2) bytes, from /proc/PID/io): the
# advanced scan jumps over each block's data and should read little more than
# the block headers where the files are large.
#
#   bench/scan_bench.sh [SIZE_MIB]     (default 1024)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size_mib="${1:-1024}"
work="${OSTREL_BENCH_DIR:-/tmp/ostrel-bench}"
mkdir -p "$work"

cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/release" -j "$(nproc)" --target ostrel-bkf make_bench_bkf make_large_files_bkf >/dev/null
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

# Bytes a command read through read(2)/pread(2): its rchar, taken from
# /proc/PID/io while it is a zombie (waitid with WNOWAIT), or "?" without python3.
bytes_read() {
  command -v python3 >/dev/null || { echo "?"; return; }
  python3 - "$@" <<'PY'
import os, subprocess, sys
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
os.waitid(os.P_PID, p.pid, os.WEXITED | os.WNOWAIT)
with open(f"/proc/{p.pid}/io") as f:
    io = dict(line.split(": ") for line in f.read().splitlines())
p.wait()
print(int(io["rchar"]))
PY
}
mib() { awk -v b="$1" 'BEGIN { if (b == "?") print "?"; else printf "%.1f", b / 1048576 }'; }

t_adv=$(best "$cli" scan "$file" --mode advanced)
files_adv=$("$cli" scan "$file" --mode advanced | tail -n 1)
printf 'scan (advanced): %ss  ratio %.2f; %s\n' "$t_adv" "$(awk -v s="$t_adv" -v c="$t_cat" 'BEGIN { print s / c }')" "$files_adv"
printf 'read: standard %s MiB, advanced %s MiB\n' "$(mib "$(bytes_read "$cli" scan "$file")")" \
  "$(mib "$(bytes_read "$cli" scan "$file" --mode advanced)")"

# Large files: an intact backup of files of 64 KiB to 4 MiB, a tenth of the size.
large="$work/large-$((size_mib / 10 + 1))m.bkf"
[ -f "$large" ] || "$root/build/release/bench/make_large_files_bkf" "$large" "$((size_mib / 10 + 1))"
cat "$large" >/dev/null
t_large_std=$(best "$cli" scan "$large")
t_large_adv=$(best "$cli" scan "$large" --mode advanced)
printf 'large files: %s (%s MiB); %s\n' "$large" "$((size_mib / 10 + 1))" "$("$cli" scan "$large" --mode advanced | tail -n 1)"
printf 'scan (standard): %ss, read %s MiB\n' "$t_large_std" "$(mib "$(bytes_read "$cli" scan "$large")")"
printf 'scan (advanced): %ss, read %s MiB\n' "$t_large_adv" "$(mib "$(bytes_read "$cli" scan "$large" --mode advanced)")"
