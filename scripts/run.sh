#!/usr/bin/env bash
# Builds a Release build into build/release and runs the program.
#   ./scripts/run.sh               starts the desktop program ostrel-bkf-repair
#   ./scripts/run.sh gui ARGS...   the same, with arguments (e.g. --screenshot out.png)
#   ./scripts/run.sh demo          scans the demo BKF file that the build generates
#                                  (a damaged backup with a few folders and files)
#                                  with ostrel-bkf and prints its catalogue
#   ./scripts/run.sh ARGS...       anything else goes to ostrel-bkf, e.g.
#                                  ./scripts/run.sh scan my.bkf
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/deps.sh"
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/release" -j "$jobs" >/dev/null

# The embedded browser's sandbox refuses to start as root.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
cli="$root/build/release/cli/ostrel-bkf"
gui="$root/build/release/app/ostrel-bkf-repair"
case "${1-}" in
  "" | gui)
    [ $# -gt 0 ] && shift
    if [ ! -x "$gui" ]; then
      echo "run.sh: the desktop program was not built (OSTREL_BUILD_GUI=OFF?); try ./scripts/run.sh demo" >&2
      exit 1
    fi
    exec "$gui" "$@"
    ;;
  demo)
    demo="$root/build/release/demo/demo-damaged.bkf"
    echo "Scanning the demo backup $demo" >&2
    exec "$cli" scan "$demo"
    ;;
esac
exec "$cli" "$@"
