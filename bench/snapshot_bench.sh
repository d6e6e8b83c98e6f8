#!/usr/bin/env bash
# The snapshot commands of the desktop program (offscreen, Release build): a
# catalogue of FILES files (default 1,000,000) saved through Save snapshot and
# loaded again through Load, each timed from the command to its end, with the
# longest event-loop stall while it runs. Goal: the window never freezes for
# 100 ms or more.
#   bench/snapshot_bench.sh [FILES]
#   OSTREL_BENCH_BUILD  the Release build folder (default build/release)
#   OSTREL_BENCH_DIR    where the snapshot is written (default /tmp/ostrel-bench)
set -euo pipefail
. "$(dirname "$0")/release_build.sh"
files="${1:-1000000}"
release_build snapshot_bench

worst_save=0 ; worst_load=0 ; best_save="" ; best_load="" ; header=""
for _ in 1 2 3; do
  out="$(QT_QPA_PLATFORM=offscreen "$build/bench/gui/snapshot_bench" "$files" "$work" 2>/dev/null)"
  header="$(sed -n 1p <<<"$out")"
  read -r _ save_s save_stall save_call < <(grep '^save ' <<<"$out")
  read -r _ load_s load_stall load_call < <(grep '^load ' <<<"$out")
  if [ -z "$best_save" ] || awk -v t="$save_s" -v b="$best_save" 'BEGIN { exit !(t < b) }'; then best_save=$save_s; fi
  if [ -z "$best_load" ] || awk -v t="$load_s" -v b="$best_load" 'BEGIN { exit !(t < b) }'; then best_load=$load_s; fi
  [ "$save_stall" -gt "$worst_save" ] && worst_save=$save_stall
  [ "$load_stall" -gt "$worst_load" ] && worst_load=$load_stall
done

printf '%s\n' "$header"
printf 'save snapshot: %.3fs best of three; longest stall %s ms (goal < 100); command call %s ms\n' \
  "$best_save" "$worst_save" "$save_call"
printf 'load snapshot: %.3fs best of three; longest stall %s ms (goal < 100); command call %s ms\n' \
  "$best_load" "$worst_load" "$load_call"
