#!/usr/bin/env bash
# Search dialog speed (offscreen, Release build): searches over FILES file
# names (default 1,000,000), each timed until every hit is in the result list.
# Goal: under 1 second for a million names.
#   bench/search_bench.sh [FILES]
#   OSTREL_BENCH_BUILD  the Release build folder (default build/save-bench)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${OSTREL_BENCH_BUILD:-$root/build/save-bench}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target search_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bench/gui/search_bench" "$@"
