#!/usr/bin/env bash
# compare.sh: our whole trace against potrace on the same drawings.
#
# Usage:  bench/compare.sh <build folder> [megapixels ...]   (default: 1 4 16 36 64 100)
#         bench/compare.sh <build folder> --pages [page ...]
#             (pages: 75dpi a0-300 a0-600 blank-600; default all four)
#         REPEAT=n (default 3) runs each program n times and keeps the fastest
#         (--pages: the median).
#
# --pages times the whole vemo-trace process, start-up, image loading and
# the text file included, on pages of real sizes: a 600 x 800 drawing (a
# page at 75 dpi, what scripts trace one process per image), the A0 sheet
# at 300 dpi (14043 x 9933) and at 600 dpi (28086 x 19866), and blank A0
# paper at 600 dpi. Ours reads the 1-bit BMP, potrace the same bits as
# PBM. Printed per page: median wall time, processor time (user + system:
# steadier than wall time on a busy machine) and peak resident memory of
# each, and the ratios ours / potrace's.
#
# For each size, <build>/bench/make_drawing writes a generated line drawing
# (a square page, the same kind of drawing at every size) as a 1-bit PBM;
# then the same file is traced by our pipeline (make_drawing trace: reads
# the PBM, runs all five stages, writes the intermediate files) and by
# potrace (DXF output). Both are whole processes from PBM to result file,
# timed by wall clock. Potrace traces outlines, not centre lines, so the
# ratio is a yardstick, not a race of the same job.
#
# Printed per size: ink share, our trace time inside the process, both
# process times and their ratio (ours / potrace's), our trace's cost per
# megapixel against the cheapest size's, and peak memory per pixel (ours: the
# trace with its one-byte working bitmap, less the program itself; potrace:
# its whole resident peak). The last lines hold the figures against the
# goals: ratio at most 1, cost per megapixel at most 1.5 times the
# cheapest size's, at most 3 bytes per pixel, judged on the last size given
# (on small drawings the fixed buffers of a few megabytes dominate the
# memory per pixel). Drawings and intermediate files go into a temporary
# folder, removed at the end.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 <build folder> [megapixels ...]" >&2
    exit 2
fi
build=$1
shift
pages_mode=0
if [[ ${1:-} == --pages ]]; then
    pages_mode=1
    shift
fi
sizes=("$@")
((pages_mode)) || [[ ${#sizes[@]} -gt 0 ]] || sizes=(1 4 16 36 64 100)
repeat=${REPEAT:-3}

tool=$build/bench/make_drawing
if [[ ! -x $tool ]]; then
    echo "$tool is missing: build the target make_drawing (bench/compare.cmake)" >&2
    exit 2
fi
source "$(dirname "$0")/timing_tools.sh"
require_timing_tools

work=$(mktemp -d "${TMPDIR:-/tmp}/vemo-compare-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs "$@" once; sets run_seconds (wall), run_cpu (user + system) and
# run_kb (peak resident).
timed() {
    local start end
    start=$EPOCHREALTIME
    /usr/bin/time -f "%U %S %M" -o "$work/time.txt" "$@" >"$work/out.txt"
    end=$EPOCHREALTIME
    run_seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
    run_cpu=$(tail -n 1 "$work/time.txt" | awk '{ printf "%.3f", $1 + $2 }')
    run_kb=$(tail -n 1 "$work/time.txt" | awk '{ print $3 }')
}

# The value of key=value in the last output.
field() { tr ' ' '\n' <"$work/out.txt" | sed -n "s/^$1=//p"; }

# The median of the numbers given.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

if ((pages_mode)); then
    [[ ${#sizes[@]} -gt 0 ]] || sizes=(75dpi a0-300 a0-600 blank-600)
    tracer=$build/vemo-trace
    if [[ ! -x $tracer ]]; then
        echo "$tracer is missing: build the target vemo-trace" >&2
        exit 2
    fi
    printf "%-10s %6s %8s %8s %6s %8s %8s %6s %8s %8s %6s\n" "page" "Mpx" "ours s" "pot s" "ratio" \
        "ours cpu" "pot cpu" "ratio" "ours MB" "pot MB" "ratio"
    for page in "${sizes[@]}"; do
        case $page in
        75dpi) width=600 height=800 seed=1 ;;
        a0-300) width=14043 height=9933 seed=1 ;;
        a0-600) width=28086 height=19866 seed=1 ;;
        blank-600) width=28086 height=19866 seed=0 ;;
        *) echo "unknown page $page" >&2; exit 2 ;;
        esac
        "$tool" draw "$width" "$height" "$seed" "$work/$page.bmp" >/dev/null
        "$tool" draw "$width" "$height" "$seed" "$work/$page.pbm" >/dev/null
        ours_s=() ours_cpu=() ours_kb=() pot_s=() pot_cpu=() pot_kb=()
        for ((r = 0; r < repeat; ++r)); do
            timed "$tracer" "$work/$page.bmp" 2>"$work/stages.txt"  # stage texts
            ours_s+=("$run_seconds") ours_cpu+=("$run_cpu") ours_kb+=("$run_kb")
            timed potrace -b dxf -o "$work/potrace.dxf" "$work/$page.pbm"
            pot_s+=("$run_seconds") pot_cpu+=("$run_cpu") pot_kb+=("$run_kb")
        done
        rm -f "$work/$page".* "$work/potrace.dxf"
        awk -v p="$page" -v px="$((width * height))" -v os="$(median "${ours_s[@]}")" -v ps="$(median "${pot_s[@]}")" \
            -v oc="$(median "${ours_cpu[@]}")" -v pc="$(median "${pot_cpu[@]}")" \
            -v ok="$(median "${ours_kb[@]}")" -v pk="$(median "${pot_kb[@]}")" 'BEGIN {
            printf "%-10s %6.1f %8.3f %8.3f %6.2f %8.3f %8.3f %6.2f %8.1f %8.1f %6.2f\n",
                p, px / 1e6, os, ps, os / ps, oc, pc, (pc > 0 ? oc / pc : 0), ok / 1024, pk / 1024, ok / pk }'
    done
    exit 0
fi

rows=()
for mpx in "${sizes[@]}"; do
    side=$(awk -v m="$mpx" 'BEGIN { printf "%d", sqrt(m * 1e6) + 0.5 }')
    drawing=$work/drawing-$mpx.pbm
    "$tool" draw "$side" "$side" 1 "$drawing" >"$work/out.txt"
    ink=$(field ink)
    pixels=$((side * side))

    best_ours="" best_trace="" best_potrace="" ours_bytes=0 potrace_kb=0
    for ((r = 0; r < repeat; ++r)); do
        timed "$tool" trace "$drawing" "$work"
        trace_seconds=$(field trace_seconds)
        ours_bytes=$(field bytes_per_pixel)
        best_ours=$(awk -v a="$run_seconds" -v b="${best_ours:-$run_seconds}" 'BEGIN { print (a < b ? a : b) }')
        best_trace=$(awk -v a="$trace_seconds" -v b="${best_trace:-$trace_seconds}" 'BEGIN { print (a < b ? a : b) }')

        timed potrace -b dxf -o "$work/potrace.dxf" "$drawing"
        best_potrace=$(awk -v a="$run_seconds" -v b="${best_potrace:-$run_seconds}" 'BEGIN { print (a < b ? a : b) }')
        potrace_kb=$run_kb
    done
    rm -f "$drawing" "$work"/temp.* "$work/potrace.dxf"
    echo "$mpx Mpx traced" >&2
    rows+=("$mpx $ink $best_trace $best_ours $best_potrace $pixels $ours_bytes $potrace_kb")
done

# The cost per megapixel of each size against the cheapest size.
cheapest=$(for row in "${rows[@]}"; do echo "$row"; done |
    awk '{ c = $3 / ($6 / 1e6); if (NR == 1 || c < m) m = c } END { print m }')

printf "%6s %6s %9s %9s %9s %7s %9s %6s %9s %8s\n" \
    "Mpx" "ink" "trace s" "ours s" "potrace s" "ratio" "s/Mpx" "rel" "ours B/px" "pot B/px"
for row in "${rows[@]}"; do
    echo "$row" | awk -v m="$cheapest" '{
        ratio = $4 / $5; cost = $3 / ($6 / 1e6)
        printf "%6s %6s %9.3f %9.3f %9.3f %7.2f %9.4f %6.2f %9.2f %8.2f\n",
            $1, $2, $3, $4, $5, ratio, cost, cost / m, $7, $8 * 1024 / $6 }'
done | tee "$work/table.txt"

verdict() { awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g ? "met" : "MISSED") }'; }
worst_ratio=$(awk '{ if ($6 > w) w = $6 } END { print w }' "$work/table.txt")
worst_rel=$(awk '{ if ($8 > w) w = $8 } END { print w }' "$work/table.txt")
read -r last_mpx last_bytes < <(tail -n 1 "$work/table.txt" | awk '{ print $1, $9 }')
echo
echo "time against potrace:  worst ratio $worst_ratio (goal <= 1): $(verdict "$worst_ratio" 1)"
echo "cost per megapixel:    largest $worst_rel x the cheapest size's (goal <= 1.5): $(verdict "$worst_rel" 1.5)"
echo "peak memory:           $last_bytes bytes per pixel at $last_mpx Mpx (goal <= 3): $(verdict "$last_bytes" 3)"
