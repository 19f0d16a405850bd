#!/usr/bin/env bash
# join_cost.sh: what the join step costs on the A0 benchmark drawing.
#
# Usage:  bench/join_cost.sh <build folder> [pairs]   (default: 21 pairs)
#
# <build>/bench/make_drawing draws the A0 benchmark drawing (10000 x 10000
# pixels, seed 1) as a monochrome BMP; <build>/vemo-trace then writes its
# text file without and with --join, in turn, `pairs` times each. Printed:
# the median wall time, processor time (user + system) and peak resident
# memory of each, and the median of the pairs' ratios, taken pair by pair
# so that a machine whose speed drifts still compares like with like. The
# last lines judge the goals: with --join at most 1.2 times the wall time
# without, and at most 10 % more peak memory. The drawing and the output go
# into a temporary folder, removed at the end.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 <build folder> [pairs]" >&2
    exit 2
fi
build=$1
pairs=${2:-21}
here=$(cd "$(dirname "$0")" && pwd)

source "$here/timing_tools.sh"
start_run_bench "$build" join
"$tool" draw 10000 10000 1 "$work/a0.bmp" >/dev/null

# One run: wall seconds, processor seconds, peak kilobytes.
run() {
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$trace" -q --txt "$@" -o "$work" "$work/a0.bmp" >/dev/null
    awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }' "$work/time.txt"
}

run >/dev/null  # the drawing and the program into the page cache
for ((i = 1; i <= pairs; ++i)); do
    echo "$(run) $(run --join)"
done >"$work/runs.txt"

# Columns: plain wall, cpu, peak; join wall, cpu, peak.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column() { awk -v c="$1" '{ print $c }' "$work/runs.txt" | median; }
ratio() { awk -v a="$1" -v b="$2" '{ print $a / $b }' "$work/runs.txt" | median; }
megabytes() { awk -v kb="$(column "$1")" 'BEGIN { print kb / 1024 }'; }
printf "%-14s %10s %10s %10s\n" "" "wall s" "cpu s" "peak MB"
printf "%-14s %10.3f %10.3f %10.1f\n" "without --join" "$(column 1)" "$(column 2)" "$(megabytes 3)"
printf "%-14s %10.3f %10.3f %10.1f\n" "with --join" "$(column 4)" "$(column 5)" "$(megabytes 6)"
wall=$(ratio 4 1)
cpu=$(ratio 5 2)
memory=$(ratio 6 3)
verdict() { awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g) ? "met" : "MISSED" }'; }
echo
spread=$(awk '{ r = $4 / $1; if (NR == 1 || r < lo) lo = r; if (NR == 1 || r > hi) hi = r }
    END { printf "%.2f to %.2f", lo, hi }' "$work/runs.txt")
printf "with --join against without, median of %d pairs: wall %.3f x (goal <= 1.2): %s, processor time %.3f x\n" \
    "$pairs" "$wall" "$(verdict "$wall" 1.2)" "$cpu"
echo "single pairs' wall ratios: $spread"
printf "peak memory with --join against without: %.3f x (goal <= 1.1): %s\n" "$memory" "$(verdict "$memory" 1.1)"
