#!/usr/bin/env bash
# Scan speed, in one run on the same files, all in the page cache:
#   1. a synthetic 1 GiB BKF file (mostly non-block data with blocks scattered
#      through it, plus an intact part with many small files): `ostrel-bkf
#      scan` beside `cat FILE > /dev/null`. Goal: at most 1.0 x cat on two
#      cores, faster than cat with more;
#   2. an intact backup of about 2,000 files in 400 MiB: the scan jumps over
#      each file's data; beside cat, and no slower than the one-thread scan;
#   3. each scan with one search thread (--threads 1: each window searched as
#      the walk reaches it) and with one thread per core;
#   4. the bytes each read (read(2)/pread(2) bytes, from /proc/PID/io) and its
#      peak memory (maximum resident set). Goal: under 64 MiB.
# The advanced mode scans both files too.
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
intact_mib=$((size_mib * 400 / 1024))
intact="$work/intact-${intact_mib}m.bkf"
# Files of 64 to 320 KiB: about 2,000 of them in 400 MiB.
[ -f "$intact" ] || "$root/build/release/bench/make_large_files_bkf" "$intact" "$intact_mib" 320

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
ratio() { awk -v s="$1" -v c="$2" 'BEGIN { printf "%.2f", s / c }'; }

# "READ_MIB PEAK_MIB" of a command: its rchar, taken from /proc/PID/io while
# it is a zombie (waitid with WNOWAIT), and its maximum resident set; "? ?"
# without python3.
usage() {
  command -v python3 >/dev/null || { echo "? ?"; return; }
  python3 - "$@" <<'PY'
import os, resource, subprocess, sys
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
os.waitid(os.P_PID, p.pid, os.WEXITED | os.WNOWAIT)
with open(f"/proc/{p.pid}/io") as f:
    io = dict(line.split(": ") for line in f.read().splitlines())
p.wait()
peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(f"{int(io['rchar']) / 1048576:.1f} {peak_kib / 1024:.1f}")
PY
}

# One line: the scan's best time, its ratio to cat, the bytes it read, its
# peak memory.
report() {
  local label="$1" t_cat="$2"
  shift 2
  local t u
  t=$(best "$@")
  read -r -a u <<<"$(usage "$@")"
  printf '  %-26s %ss  %s x cat  read %s MiB  peak %s MiB\n' "$label" "$t" "$(ratio "$t" "$t_cat")" "${u[0]}" "${u[1]}"
}

printf 'cores: %s; load average: %s\n' "$(nproc)" "$(cut -d ' ' -f 1-3 /proc/loadavg)"
for f in "$file" "$intact"; do
  # Into the page cache, read afresh: how the kernel holds a file it has kept
  # for long (in pages or in larger pieces) changes how fast anything reads it,
  # cat as much as the scans.
  dd if="$f" iflag=nocache count=0 status=none 2>/dev/null || true
  cat "$f" >/dev/null
  t_cat=$(best sh -c "cat '$f' > /dev/null")
  printf '%s (%s MiB); %s\n' "$f" "$(($(stat -c %s "$f") >> 20))" "$("$cli" scan "$f" | tail -n 1)"
  printf '  %-26s %ss\n' "cat" "$t_cat"
  report "scan, all threads" "$t_cat" "$cli" scan "$f"
  report "scan, one thread" "$t_cat" "$cli" scan "$f" --threads 1
  report "advanced, all threads" "$t_cat" "$cli" scan "$f" --mode advanced
  report "advanced, one thread" "$t_cat" "$cli" scan "$f" --mode advanced --threads 1
done
printf 'load average at the end: %s\n' "$(cut -d ' ' -f 1-3 /proc/loadavg)"
