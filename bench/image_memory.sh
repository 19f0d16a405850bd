#!/usr/bin/env bash
# image_memory.sh: the peak memory of tracing a colour scan.
#
# Usage:  bench/image_memory.sh <build folder> [width height]
#         (default 9933 x 14043: A0 at 300 dpi; 19866 x 28087 is A0 at 600 dpi)
#
# <build>/bench/make_drawing draws the benchmark drawing at that size as a
# 1-bit BMP; bench/bmp_to_rgb_png.py writes the same drawing as an RGB PNG,
# which the PNG plug-in hands over as a 24-bit block. <build>/vemo-trace
# then writes the text file of each, and /usr/bin/time -v gives each run's
# peak resident memory. Printed: both peaks, the plug-in's block (rows of
# 3 x width bytes padded to 4) and the packed bitmap (one bit per pixel in
# 64-bit words), and the goal: the PNG's peak at most the block plus the
# packed bitmap plus 10 %. Files go into a temporary folder, removed at the end.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 <build folder> [width height]" >&2
    exit 2
fi
build=$1
width=${2:-9933}
height=${3:-14043}
here=$(cd "$(dirname "$0")" && pwd)

source "$here/timing_tools.sh"
start_run_bench "$build" imagemem
"$tool" draw "$width" "$height" 1 "$work/drawing.bmp" >/dev/null
python3 "$here/bmp_to_rgb_png.py" "$work/drawing.bmp" "$work/drawing.png"

# One run: peak kilobytes.
peak_kb() {
    /usr/bin/time -v -o "$work/time.txt" "$trace" -q --txt -o "$work" "$1" >/dev/null
    awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt"
}

bmp_kb=$(peak_kb "$work/drawing.bmp")
png_kb=$(peak_kb "$work/drawing.png")
block_kb=$(( (width * 24 + 31) / 32 * 4 * height / 1024 ))
packed_kb=$(( (width + 63) / 64 * 8 * height / 1024 ))
echo "drawing ${width} x ${height}: $(( width * height / 1000000 )) Mpx, PNG file $(( $(stat -c %s "$work/drawing.png") / 1024 )) kB"
echo "1-bit BMP peak: $bmp_kb kB"
echo "RGB PNG peak:   $png_kb kB"
echo "block: $block_kb kB, packed bitmap: $packed_kb kB"
awk -v png="$png_kb" -v block="$block_kb" -v packed="$packed_kb" 'BEGIN {
    ratio = png / (block + packed)
    printf "PNG peak / (block + packed bitmap) = %.3f (goal: at most 1.10): %s\n", ratio, ratio <= 1.10 ? "met" : "NOT met"
}'
