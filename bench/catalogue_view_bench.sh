#!/usr/bin/env bash
# Catalogue view speed in the desktop program (offscreen, Release build):
# selecting a folder of 100,000 files, checking them, and a 2,000-deep chain.
#   bench/catalogue_view_bench.sh [FILES] [DEPTH]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/release" -j "$(nproc)" --target catalogue_view_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$root/build/release/bench/gui/catalogue_view_bench" "$@"
