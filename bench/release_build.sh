# Sourced by the benchmark scripts. Sets $root (the checkout) and $work (where
# inputs are written: $OSTREL_BENCH_DIR, default /tmp/ostrel-bench, made if
# missing); `release_build TARGET...` configures the Release build folder
# ($OSTREL_BENCH_BUILD, default build/release), builds the targets and sets
# $build.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${OSTREL_BENCH_DIR:-/tmp/ostrel-bench}"
mkdir -p "$work"

release_build() {
  build="${OSTREL_BENCH_BUILD:-$root/build/release}"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" -j 2 --target "$@" >/dev/null
}
