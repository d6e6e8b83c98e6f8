#!/usr/bin/env bash
# Painting speed of the hex dump view (offscreen, Release build): a 1 MiB file
# scrolled to its end page by page, then row by row; time per frame, goal
# under 16 ms.
#   bench/hex_view_bench.sh [WIDTH HEIGHT [LINES]]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/release" -j 2 --target hex_view_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$root/build/release/bench/gui/hex_view_bench" "$@"
