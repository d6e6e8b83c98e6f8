#!/usr/bin/env bash
# Crafted inputs at two sizes each (SIZE_KIB and four times it): the time, the
# peak RSS and what ostrel-bkf wrote, so that every one shows it is linear in
# its size (four times the input: at most about four times the cost).
#
#   second-stan   every file's second STAN stream claims a length past the end:
#                 extract stops at its read limit (4 x the backup read)
#   folder-flood  DIRBs naming 60 new folders each, packed: scan and extract
#                 make at most one folder for each 512 bytes, plus 1,024
#   shared-data   a snapshot whose file records all point at the same data:
#                 extract --from-snapshot stops at its read limit
#   tape-cycle    TAPE/SSET/VOLB/DIRB/FILE cycles, each tape below the folder
#                 before: scan and extract (goal at 1.5 MB: under 2 s, under
#                 100 MB RSS each); the nesting stops at 512 levels
#   sset-volume   a volume kept across a set, DIRBs that search it: scan
#   claim-every   a snapshot whose folders all claim every file: list refuses it
#
#   bench/limits_bench.sh [SIZE_KIB]   (default 1536, the 1.5 MB of the cycle)
set -euo pipefail
. "$(dirname "$0")/release_build.sh"
size="${1:-1536}"
work="$work/limits"
mkdir -p "$work"
release_build ostrel-bkf make_hostile_inputs
cli="$build/cli/ostrel-bkf"
make="$build/bench/make_hostile_inputs"

# Runs a command; prints its seconds, peak RSS, stdout bytes and the bytes it
# wrote below $work/out.
measure() {
  local label="$1" input="$2"
  shift 2
  local what="$2"
  rm -rf "$work/out"
  local log="$work/time.log" status=0 seconds rss written=0
  /usr/bin/time -f '%e %M' -o "$log" "$@" >"$work/stdout" 2>"$work/stderr" || status=$?
  read -r seconds rss < <(tail -n 1 "$log")
  [ -d "$work/out" ] && written=$(du -sb "$work/out" | cut -f1)
  printf '%-12s %-8s %8s KiB input  %6ss  %7s KiB RSS  stdout %10s B  written %10s B  exit %s\n' \
    "$label" "$what" "$(( $(stat -c %s "$input") / 1024 ))" "$seconds" "$rss" "$(stat -c %s "$work/stdout")" \
    "$written" "$status"
  grep -h -m 1 -o 'stopped after [0-9]* files\|note: folders[^(]*\|the backup names more folders[^(]*\|malformed catalogue: [^;]*' "$work/stderr" |
    sed 's/^/             /' || true
}

for kib in "$size" $((size * 4)); do
  for kind in second-stan tape-cycle folder-flood sset-volume shared-data claim-every; do
    input="$work/$kind-$kib"
    [ -f "$input" ] || "$make" "$kind" "$input" "$kib"
    case $kind in
      second-stan)
        measure "$kind" "$input" "$cli" extract "$input" --to "$work/out" ;;
      tape-cycle)
        measure "$kind" "$input" "$cli" scan "$input"
        measure "$kind" "$input" "$cli" extract "$input" --to "$work/out" ;;
      folder-flood)
        measure "$kind" "$input" "$cli" scan "$input"
        measure "$kind" "$input" "$cli" extract "$input" --to "$work/out" ;;
      sset-volume)
        measure "$kind" "$input" "$cli" scan "$input" ;;
      shared-data)
        measure "$kind" "$input" "$cli" extract --from-snapshot "$input" --to "$work/out" ;;
      claim-every)
        measure "$kind" "$input" "$cli" list "$input" ;;
    esac
  done
done
