#!/usr/bin/env bash
# fit_cost.sh: what the fitting step costs, and saves, on the A0 benchmark
# drawing.
#
# Usage:  bench/fit_cost.sh <build folder> [pairs]   (default: 11 pairs)
#
# Draws the A0 benchmark drawing as join_cost.sh does, then writes its DXF
# drawing with --join and with --fit, in turn, `pairs` times each, and once
# the plain trace's DXF (no --join: the polyline DXF users get by default).
# Printed: the median wall time and peak memory of each, the median of the
# pairs' wall ratios, and the DXF files' sizes. The goals: --fit at most 1.3
# times the wall time of --join, its DXF at most a tenth of the plain
# trace's; its size against --join's DXF is shown beside.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 <build folder> [pairs]" >&2
    exit 2
fi
build=$1
pairs=${2:-11}
here=$(cd "$(dirname "$0")" && pwd)

source "$here/timing_tools.sh"
start_run_bench "$build" fit
"$tool" draw 10000 10000 1 "$work/a0.bmp" >/dev/null
mkdir "$work/plain" "$work/join" "$work/fit"

# One run into folder $1: wall seconds, peak kilobytes.
run() {
    local out=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$trace" -q --dxf --no-txt --no-a10 "$@" -o "$work/$out" \
        "$work/a0.bmp" >/dev/null
    cat "$work/time.txt"
}

run plain >"$work/plain.txt"  # also the drawing and the program into the page cache
for ((i = 1; i <= pairs; ++i)); do
    echo "$(run join --join) $(run fit --fit)"
done >"$work/runs.txt"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column() { awk -v c="$1" '{ print $c }' "$work/runs.txt" | median; }
verdict() { awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g) ? "met" : "MISSED" }'; }
wall=$(awk '{ print $3 / $1 }' "$work/runs.txt" | median)
plainBytes=$(stat -c %s "$work/plain/a0.dxf")
joinBytes=$(stat -c %s "$work/join/a0.dxf")
fitBytes=$(stat -c %s "$work/fit/a0.dxf")
size=$(awk -v a="$fitBytes" -v b="$plainBytes" 'BEGIN { print a / b }')
sizeJoin=$(awk -v a="$fitBytes" -v b="$joinBytes" 'BEGIN { print a / b }')
printf "%-10s %10s %10s %14s\n" "" "wall s" "peak MB" "DXF bytes"
read -r plainWall plainPeak <"$work/plain.txt"
printf -- "%-10s %10.3f %10.1f %14d\n" "plain" "$plainWall" "$(awk -v k="$plainPeak" 'BEGIN { print k / 1024 }')" "$plainBytes"
printf -- "%-10s %10.3f %10.1f %14d\n" "--join" "$(column 1)" "$(awk -v k="$(column 2)" 'BEGIN { print k / 1024 }')" "$joinBytes"
printf -- "%-10s %10.3f %10.1f %14d\n" "--fit" "$(column 3)" "$(awk -v k="$(column 4)" 'BEGIN { print k / 1024 }')" "$fitBytes"
echo
printf -- "--fit against --join, median of %d pairs: wall %.3f x (goal <= 1.3): %s\n" "$pairs" "$wall" "$(verdict "$wall" 1.3)"
printf "DXF of entities against the plain trace's polylines: %.3f (goal <= 0.1): %s\n" "$size" "$(verdict "$size" 0.1)"
printf "DXF of entities against --join's polylines: %.3f\n" "$sizeJoin"
