#!/usr/bin/env bash
# Builds the Debian package of both programs into build/release:
#   ./scripts/package.sh     ->  build/release/ostrel-bkf-repair_VERSION_ARCH.deb
# Install it with `sudo apt-get install ./build/release/ostrel-bkf-repair_*.deb`,
# which brings the libraries it needs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/deps.sh"
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/release" -j "$jobs" >/dev/null
(cd "$root/build/release" && cpack -G DEB >/dev/null)
ls "$root"/build/release/ostrel-bkf-repair_*.deb
