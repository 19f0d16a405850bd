#!/usr/bin/env bash
# join_pathological.sh: what the join step costs on ink no drawing holds.
#
# Usage:  bench/join_pathological.sh <build folder> [size] [kinds...]
#         (default: 4000 pixels square; checker noise grid spiral hatch
#         dither noise15 noise10 noise30 checker4 rings)
#
# <build>/bench/make_drawing draws each pattern (see its banner) as a
# monochrome BMP of size x size pixels; <build>/vemo-trace then writes its
# text file without and with --join, side by side, each under
# /usr/bin/time -v. Printed per pattern: processor time (user + system) and
# peak resident memory of both runs and their ratios, against the goals of
# at most 2 times the processor time and 1.5 times the memory. The images
# and the output go into a temporary folder, removed at the end.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 <build folder> [size] [kinds...]" >&2
    exit 2
fi
build=$1
size=${2:-4000}
shift $(($# < 2 ? $# : 2))
kinds=("$@")
[[ ${#kinds[@]} -eq 0 ]] && kinds=(checker noise grid spiral hatch dither noise15 noise10 noise30 checker4 rings)
here=$(cd "$(dirname "$0")" && pwd)

trace=$build/vemo-trace
source "$here/timing_tools.sh"
require_trace_and_drawings "$build"
require_time

work=$(mktemp -d "${TMPDIR:-/tmp}/vemo-pathological-XXXXXX")
trap 'rm -rf "$work"' EXIT

# One run: processor seconds and peak kilobytes.
run() {
    /usr/bin/time -v -o "$work/time.txt" "$trace" -q --txt "$@" -o "$work" "$work/image.bmp" >/dev/null
    awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } /Maximum resident/ { m = $2 }
        END { printf "%.2f %d\n", u + s, m }' "$work/time.txt"
}

printf "%-9s %9s %9s %7s %10s %10s %7s  %s\n" pattern "cpu s" "+join" ratio "peak MB" "+join" ratio goals
for kind in "${kinds[@]}"; do
    "$build/bench/make_drawing" pattern "$kind" "$size" "$size" "$work/image.bmp" >/dev/null
    read -r plainCpu plainKb < <(run)
    read -r joinCpu joinKb < <(run --join)
    awk -v k="$kind" -v pc="$plainCpu" -v jc="$joinCpu" -v pm="$plainKb" -v jm="$joinKb" 'BEGIN {
        t = jc / pc; m = jm / pm
        printf "%-9s %9.2f %9.2f %6.2fx %10.1f %10.1f %6.2fx  %s\n", k, pc, jc, t, pm / 1024, jm / 1024, m,
            (t <= 2.0 && m <= 1.5) ? "met" : "MISSED"
    }'
done
