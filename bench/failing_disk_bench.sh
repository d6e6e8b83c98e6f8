#!/usr/bin/env bash
# Reading around bad sectors, and what it costs when there are none.
#
# 1. Intact backups: `ostrel-bkf scan` (both modes) and `ostrel-bkf extract`
#    of this tree against the same commands built from BASE (default: the
#    commit where this branch left main), best of five runs each, with the
#    read system calls each made (syscr of /proc/PID/io). Goal: as fast as
#    before, and not one read call more.
# 2. A failing disk: the same scans with 100 scattered bad 4 KiB ranges
#    (tests/fixtures/failing_disk_cli.cpp fails them as bad sectors do): the
#    files found against the intact count. Goal: only the blocks whose headers
#    lie in a bad range are lost.
#
# Inputs: the scan benchmark's file (SIZE_MIB MiB, mostly data without
# blocks, which the scan reads whole), a backup of large files (64 KiB to
# 4 MiB each, SIZE_MIB MiB) and one of SMALL_COUNT small files (1 to 8 KiB).
#
#   bench/failing_disk_bench.sh [SIZE_MIB [SMALL_COUNT]]     (default 400 20000)
#   OSTREL_BENCH_BASE   the revision to compare with (default: merge-base with main)
#   OSTREL_BENCH_DIR    where the inputs and builds go (default /tmp/ostrel-bench)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size_mib="${1:-400}"
small_count="${2:-20000}"
work="${OSTREL_BENCH_DIR:-/tmp/ostrel-bench}"
base="${OSTREL_BENCH_BASE:-$(git -C "$root" merge-base HEAD main)}"
mkdir -p "$work"

build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target ostrel-bkf ostrel-bkf-failing-disk make_bench_bkf \
  make_large_files_bkf make_save_bench_bkf >/dev/null
cli="$build/cli/ostrel-bkf"
failing="$build/tests/fixtures/ostrel-bkf-failing-disk"

# The tool as it was at BASE, built from an exported copy of that revision.
base_src="$work/base-$base"
if [ ! -x "$base_src/build/cli/ostrel-bkf" ]; then
  rm -rf "$base_src"
  mkdir -p "$base_src"
  git -C "$root" archive "$base" | tar -x -C "$base_src"
  cmake -S "$base_src" -B "$base_src/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DOSTREL_BUILD_GUI=OFF >/dev/null
  cmake --build "$base_src/build" -j "$(nproc)" --target ostrel-bkf >/dev/null
fi
old="$base_src/build/cli/ostrel-bkf"

mixed="$work/scan-${size_mib}m.bkf"
large="$work/large-${size_mib}m.bkf"
small="$work/small-${small_count}.bkf"
[ -f "$mixed" ] || "$build/bench/make_bench_bkf" "$mixed" "$size_mib"
[ -f "$large" ] || "$build/bench/make_large_files_bkf" "$large" "$size_mib"
[ -f "$small" ] || "$build/bench/make_save_bench_bkf" "$small" "$small_count"
cat "$mixed" "$large" "$small" >/dev/null  # into the page cache

# The best elapsed time and the best CPU time (user + system; steadier on a
# busy machine) of five runs of "$@", in seconds: "SECONDS CPU_SECONDS".
best() {
  local runs=""
  for _ in 1 2 3 4 5; do
    runs+="$(/usr/bin/time -f '%e %U %S' "$@" 2>&1 >/dev/null | tail -n 1)"$'\n'
    rm -rf "$out"
  done
  printf '%s' "$runs" | awk 'NF == 3 {
    if (t == "" || $1 < t) t = $1
    if (c == "" || $2 + $3 < c) c = $2 + $3
  } END { printf "%.2f %.2f", t, c }'
}

# The read system calls a command made (syscr), taken from /proc/PID/io
# while it is a zombie, or "?" without python3.
read_calls() {
  command -v python3 >/dev/null || { echo "?"; return; }
  python3 - "$@" <<'PY'
import os, subprocess, sys
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
os.waitid(os.P_PID, p.pid, os.WEXITED | os.WNOWAIT)
with open(f"/proc/{p.pid}/io") as f:
    io = dict(line.split(": ") for line in f.read().splitlines())
p.wait()
print(int(io["syscr"]))
PY
}

out="$work/failing-disk-out"
compare() {  # label, then the arguments after the tool
  local label="$1" t_old c_old t_new c_new
  shift
  rm -rf "$out"
  read -r t_old c_old <<<"$(best "$old" "$@")"
  read -r t_new c_new <<<"$(best "$cli" "$@")"
  printf '%-16s before %ss (CPU %ss)  after %ss (CPU %ss)   read calls before %s, after %s\n' "$label" \
    "$t_old" "$c_old" "$t_new" "$c_new" "$(read_calls "$old" "$@")" "$(rm -rf "$out"; read_calls "$cli" "$@")"
  rm -rf "$out"
}

echo "base: $base"
for file in "$mixed" "$large" "$small"; do
  printf '\n%s (%s MiB)\n' "$file" "$(( $(stat -c %s "$file") >> 20 ))"
  compare "scan (standard)" scan "$file"
  compare "scan (advanced)" scan "$file" --mode advanced
  compare "extract" extract "$file" --to "$out" --flat
done

# 100 bad 4 KiB ranges at scattered 4 KiB-aligned offsets (a fixed sequence).
bad_ranges() {
  awk -v size="$1" 'BEGIN {
    pieces = int(size / 4096); x = 12345
    for (i = 0; i < 100; i++) {
      x = (x * 1103515245 + 12345) % 2147483648
      printf "%s%d+4096", (i ? "," : ""), (x % pieces) * 4096
    }
  }'
}
# The count of "Total number of files found: N" (a failing disk exits 1).
files_found() { { "$@" 2>/dev/null || true; } | tail -n 1 | awk '{ print $NF }'; }

printf '\nA failing disk: 100 scattered bad 4 KiB ranges\n'
for file in "$mixed" "$large" "$small"; do
  bad=$(bad_ranges "$(stat -c %s "$file")")
  for mode in standard advanced; do
    intact=$(files_found "$cli" scan "$file" --mode "$mode")
    found=$(OSTREL_BAD_RANGES="$bad" files_found "$failing" scan "$file" --mode "$mode")
    summary=$({ OSTREL_BAD_RANGES="$bad" "$failing" scan "$file" --mode "$mode" 2>&1 >/dev/null || true; } | tail -n 1)
    printf '%s, %s: %s of %s files found; %s\n' "$(basename "$file")" "$mode" "$found" "$intact" "$summary"
  done
done
