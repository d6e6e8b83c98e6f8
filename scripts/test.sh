#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build/test and runs the whole test suite through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_SANITIZE=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build/test -j "$jobs"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir build/test --output-on-failure -j "$jobs" ${OSTREL_CTEST_ARGS:-}
