#!/usr/bin/env bash
# Builds a Release build into build/release and runs ostrel-bkf.
# With no arguments: scans the demo BKF file that the build generates (a
# damaged backup with a few folders and files) and prints its catalogue.
# With arguments: passes them to ostrel-bkf, e.g. ./scripts/run.sh scan my.bkf
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/deps.sh"
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/release" -j "$jobs" >/dev/null

cli="$root/build/release/cli/ostrel-bkf"
if [ $# -eq 0 ]; then
  demo="$root/build/release/demo/demo-damaged.bkf"
  echo "Scanning the demo backup $demo" >&2
  exec "$cli" scan "$demo"
fi
exec "$cli" "$@"
