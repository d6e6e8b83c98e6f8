# Sourced by the benchmark scripts. Sets $root (the checkout) and $work (where
# inputs are written: $OSTREL_BENCH_DIR, default /tmp/ostrel-bench, made if
# missing); `release_build TARGET...` configures the Release build folder
# ($OSTREL_BENCH_BUILD, default build/release), builds the targets and sets
# $build; `best_of` times a command.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${OSTREL_BENCH_DIR:-/tmp/ostrel-bench}"
mkdir -p "$work"

release_build() {
  build="${OSTREL_BENCH_BUILD:-$root/build/release}"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" -j 2 --target "$@" >/dev/null
}

# `best_of RUNS CLEAN COMMAND...`: RUNS runs of COMMAND, each after the
# command CLEAN (untimed): the best elapsed time and the best CPU time (user +
# system; steadier on a busy machine) in seconds, and the highest peak RSS in
# KiB, as "SECONDS CPU_SECONDS KIB" (GNU time: 10 ms steps).
best_of() {
  local runs="$1" clean="$2" results=""
  shift 2
  for _ in $(seq "$runs"); do
    "$clean"
    results+="$(/usr/bin/time -f '%e %U %S %M' "$@" 2>&1 >/dev/null | tail -n 1)"$'\n'
  done
  "$clean"
  printf '%s' "$results" | awk 'NF == 4 {
    if (t == "" || $1 < t) t = $1
    if (c == "" || $2 + $3 < c) c = $2 + $3
    if ($4 > m) m = $4
  } END { printf "%.2f %.2f %d", t, c, m }'
}
