#!/usr/bin/env bash
# Runs the README's GNU parallel recipe on this machine alone (hosts=2/:)
# over copies of the sample drawings, and checks that every image got its
# DXF file beside it, byte for byte what a direct vemo-trace call writes,
# and that the images themselves are still there.
#
# Usage: readme_recipes.sh <source folder> <build folder>
set -euo pipefail
source_dir=$1
build_dir=$2

recipe=$(awk '/<!-- recipe: parallel/ { found = 1; next }
              found && /^```sh$/ { inside = 1; next }
              inside && /^```$/ { exit }
              inside { print }' "$source_dir/README.md")
if [[ -z $recipe || $recipe != *"hosts="* ]]; then
    echo "README.md has no parallel recipe block with a hosts= line" >&2
    exit 1
fi
recipe=$(sed 's|^hosts=.*$|hosts=2/:|' <<<"$recipe")

work=$(mktemp -d "${TMPDIR:-/tmp}/vemo-recipe-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scans/wing" "$work/direct"
images=()
for sample in "$source_dir"/samples/*.bmp; do
    name=$(basename "$sample" .bmp)
    cp "$sample" "$work/scans/$name.bmp"
    cp "$sample" "$work/scans/wing/$name-copy.bmp"
    images+=("scans/$name.bmp" "scans/wing/$name-copy.bmp")
done

export PATH="$build_dir:$PATH"
(cd "$work" && bash -euo pipefail -c "$recipe")

status=0
for image in "${images[@]}"; do
    dxf=$work/${image%.bmp}.dxf
    [[ -f $work/$image ]] || { echo "the recipe removed $image" >&2; status=1; }
    vemo-trace -q --dxf --no-txt -o "$work/direct" "$work/$image" >/dev/null
    if ! cmp -s "$dxf" "$work/direct/$(basename "$dxf")"; then
        echo "${image%.bmp}.dxf is missing or differs from a direct run" >&2
        status=1
    fi
done
exit $status
