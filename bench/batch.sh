#!/usr/bin/env bash
# batch.sh: vemo-trace on a batch of pages: -j 1 against -j 2, and one
# process per page against potrace one process per page.
#
# Usage:  bench/batch.sh <build folder> [pages]   (default: 100 pages)
#         DPIS="75 150 300" (default) picks the resolutions.
#
# For each resolution, <build>/bench/make_drawing writes `pages` generated
# line drawings (bench/bench_drawing.h) of a page 8 by 10 2/3 inches as
# monochrome BMP files: 600 x 800 pixels at 75 dpi, 1200 x 1600 at 150,
# 2400 x 3200 at 300. The same files are then traced, each run writing a
# DXF file per page into a scratch output folder:
#
#   j1       one vemo-trace call for all pages, -j 1
#   j2       one vemo-trace call for all pages, -j 2
#   each     one vemo-trace process per page, one after another
#   potrace  one potrace process per page (DXF output), one after another
#
# Times are wall clock for the whole batch (the fastest of REPEAT runs,
# default 1); for the two one-process-per-page runs also processor time
# (user + system of all their processes), which other work on a busy
# machine disturbs less than wall time. Peak memory is the resident memory of all the batch's
# processes together at its highest (bench/peak_memory.py), measured in
# runs of their own, with -j 1 and -j 2. Potrace traces outlines, not
# centre lines, so that ratio is a yardstick, not a race of the same job.
#
# The last lines judge the goals: -j 2 at least 1.8 times as fast as -j 1
# (over all pages of all resolutions), one process per 75-dpi page no
# slower than potrace, the peak memory of -j 2 at most twice that of -j 1
# (at every resolution). The pages go into a temporary folder, removed at
# the end.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 <build folder> [pages]" >&2
    exit 2
fi
build=$1
pages=${2:-100}
dpis=(${DPIS:-75 150 300})
repeat=${REPEAT:-1}
here=$(cd "$(dirname "$0")" && pwd)

trace=$build/vemo-trace
tool=$build/bench/make_drawing
source "$here/timing_tools.sh"
require_trace_and_drawings "$build"
require_timing_tools

work=$(mktemp -d "${TMPDIR:-/tmp}/vemo-batch-XXXXXX")
trap 'rm -rf "$work"' EXIT
out=$work/out
mkdir "$out"

# Runs "$@" REPEAT times; sets run_seconds to the fastest wall time and
# run_cpu to the processor time of that run.
timed() {
    local seconds cpu
    run_seconds=""
    for ((r = 0; r < repeat; ++r)); do
        /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" >/dev/null
        read -r seconds cpu < <(awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time.txt")
        if [[ -z $run_seconds ]] || awk -v a="$seconds" -v b="$run_seconds" 'BEGIN { exit !(a < b) }'; then
            run_seconds=$seconds
            run_cpu=$cpu
        fi
    done
}

# One process per page, one after another.
each_vemo=(bash -c 'trace=$1 out=$2; shift 2; for page; do "$trace" -q --dxf --no-txt -o "$out" "$page"; done' _)
each_potrace=(bash -c 'out=$1; shift; for page; do potrace -b dxf -o "$out/potrace.dxf" "$page"; done' _)

peak_kb() { "$here/peak_memory.py" "$@" | sed -n 's/^peak_kb=\([0-9]*\).*/\1/p'; }

rows=()
for dpi in "${dpis[@]}"; do
    width=$((dpi * 8))
    height=$((dpi * 32 / 3))
    folder=$work/$dpi
    mkdir "$folder"
    for ((i = 1; i <= pages; ++i)); do
        "$tool" draw "$width" "$height" "$i" "$folder/page-$i.bmp" >/dev/null
    done
    files=("$folder"/page-*.bmp)

    timed "$trace" -q -j 1 --dxf --no-txt -o "$out" "${files[@]}"
    j1=$run_seconds
    timed "$trace" -q -j 2 --dxf --no-txt -o "$out" "${files[@]}"
    j2=$run_seconds
    timed "${each_vemo[@]}" "$trace" "$out" "${files[@]}"
    each=$run_seconds
    each_cpu=$run_cpu
    timed "${each_potrace[@]}" "$out" "${files[@]}"
    potrace_seconds=$run_seconds
    potrace_cpu=$run_cpu
    mem1=$(peak_kb "$trace" -q -j 1 --dxf --no-txt -o "$out" "${files[@]}")
    mem2=$(peak_kb "$trace" -q -j 2 --dxf --no-txt -o "$out" "${files[@]}")
    rm -f "$folder"/*.bmp "$out"/*
    echo "$dpi dpi traced" >&2
    rows+=("$dpi ${width}x$height $j1 $j2 $each $potrace_seconds $mem1 $mem2 $each_cpu $potrace_cpu")
done

printf "%5s %10s %8s %8s %7s %8s %9s %7s %8s %8s %6s %8s %8s %7s\n" \
    "dpi" "page" "j1 s" "j2 s" "j1/j2" "each s" "potrace s" "each/pt" "j1 MB" "j2 MB" "j2/j1" \
    "each cpu" "pt cpu" "cpu/pt"
for row in "${rows[@]}"; do
    echo "$row" | awk '{
        printf "%5s %10s %8.3f %8.3f %7.2f %8.3f %9.3f %7.2f %8.1f %8.1f %6.2f %8.3f %8.3f %7.2f\n",
            $1, $2, $3, $4, $3 / $4, $5, $6, $5 / $6, $7 / 1024, $8 / 1024, $8 / $7, $9, $10, $9 / $10 }'
done | tee "$work/table.txt"

verdict() { awk -v v="$1" -v g="$2" -v d="$3" 'BEGIN { print ((d == "min" ? v >= g : v <= g) ? "met" : "MISSED") }'; }
speedup=$(awk '{ a += $3; b += $4 } END { printf "%.2f", a / b }' "$work/table.txt")
each75=$(awk '$1 == 75 { print $8 }' "$work/table.txt")
memory=$(awk '{ if ($11 > w) w = $11 } END { print w }' "$work/table.txt")
echo
echo "-j 2 against -j 1:            $speedup x as fast over $pages pages per resolution (goal >= 1.8): $(verdict "$speedup" 1.8 min)"
if [[ -n $each75 ]]; then
    cpu75=$(awk '$1 == 75 { print $14 }' "$work/table.txt")
    echo "one process per 75-dpi page: $each75 x potrace's time (goal <= 1): $(verdict "$each75" 1 max)" \
        "(processor time: $cpu75 x)"
fi
echo "peak memory -j 2 against -j 1: at most $memory x (goal <= 2): $(verdict "$memory" 2 max)"
