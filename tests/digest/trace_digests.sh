#!/usr/bin/env bash
# The whole trace, pinned: vemo-trace writes all four formats, with and
# without --join and with --fit, for the sample drawing, a generated drawing of 3 Mpx (many
# junctions, arcs and letters for the join step) and a BMP made from each
# trace fuzz seed; the SHA-256 of every file written must match
# tests/digest/digests.txt. A change that moves code must leave every byte
# where it was.
#
# Usage:  trace_digests.sh SOURCE_DIR BUILD_DIR [--update]
set -euo pipefail
source_dir=$1
build_dir=$2
update=${3:-}
digests=$source_dir/tests/digest/digests.txt

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/images"
cp "$source_dir/samples/plan.bmp" "$work/images/"
python3 "$source_dir/tests/digest/seed_images.py" "$source_dir/fuzz/corpus/trace" "$work/images"
"$build_dir/bench/make_drawing" draw 2000 1500 3 "$work/images/drawing.bmp" >/dev/null

# The formats and ratios come from the command line, not from whatever
# Vemo.sys holds; -j 1 keeps the runs simple to read when one fails.
for mode in plain join fit; do
    extra=()
    [[ $mode == join ]] && extra=(--join)
    [[ $mode == fit ]] && extra=(--fit)
    mkdir -p "$work/$mode"
    "$build_dir/vemo-trace" -q -j 1 --txt --dxf --a10 --svg --no-flip-x --no-flip-y \
        --x-ratio 1 --y-ratio 1 "${extra[@]}" -o "$work/$mode" "$work/images/"*.bmp >/dev/null
done

(cd "$work" && find plain join fit -type f | LC_ALL=C sort | xargs sha256sum) > "$work/actual.txt"

if [[ $update == --update ]]; then
    cp "$work/actual.txt" "$digests"
    echo "wrote $(wc -l < "$digests") digests to $digests"
    exit 0
fi
if ! diff -u "$digests" "$work/actual.txt"; then
    echo "trace digests differ from $digests (lines with - are stored, + are written now)" >&2
    exit 1
fi
echo "$(wc -l < "$digests") output files match their stored digests"
