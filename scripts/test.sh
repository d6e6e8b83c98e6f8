#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build/test and runs the whole test suite through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

# clang and its libFuzzer runtime come too, for the fuzz smoke runs below.
fuzz_seconds=${OSTREL_FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" -gt 0 ]; then OSTREL_FUZZ=ON ./scripts/deps.sh; else ./scripts/deps.sh; fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_SANITIZE=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build/test -j "$jobs"
export QT_QPA_PLATFORM=offscreen
# The embedded browser's sandbox refuses to start as root.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir build/test --output-on-failure -j "$jobs" ${OSTREL_CTEST_ARGS:-}

# Fuzz smoke runs: each libFuzzer target for a short while on the conformance
# files, so that the targets keep building and running (see docs/fuzzing.md).
# Skipped where clang cannot link libFuzzer; OSTREL_FUZZ_SECONDS=0 skips them.
if [ "$fuzz_seconds" -gt 0 ] && command -v clang++ >/dev/null &&
   echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
   clang++ -x c++ -fsanitize=fuzzer -o /dev/null - 2>/dev/null; then
  CC=clang CXX=clang++ cmake -S . -B build/fuzz-smoke -DOSTREL_FUZZ=ON -DBUILD_TESTING=OFF \
    -DOSTREL_BUILD_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/fuzz-smoke -j "$jobs" --target scan_fuzzer advanced_scan_fuzzer snapshot_fuzzer \
    lzs_fuzzer extract_fuzzer parallel_scan_fuzzer set_catalogue_fuzzer
  for target in scan_fuzzer advanced_scan_fuzzer snapshot_fuzzer lzs_fuzzer extract_fuzzer parallel_scan_fuzzer \
                set_catalogue_fuzzer; do
    corpus=build/fuzz-smoke/corpus/$target
    mkdir -p "$corpus"
    # A target with seeds of its own (fuzz/seeds/<name without _fuzzer>) gets them too.
    seeds=fuzz/seeds/${target%_fuzzer}
    [ -d "$seeds" ] || seeds=
    echo "fuzz smoke: $target for ${fuzz_seconds}s"
    build/fuzz-smoke/fuzz/$target -max_total_time="$fuzz_seconds" -max_len=1048576 -timeout=30 \
      -print_final_stats=0 "$corpus" tests/data/conformance $seeds 2>"build/fuzz-smoke/$target.log" ||
      { tail -n 40 "build/fuzz-smoke/$target.log"; exit 1; }
  done
else
  echo "fuzz smoke runs skipped (no clang with libFuzzer, or OSTREL_FUZZ_SECONDS=0)"
fi
