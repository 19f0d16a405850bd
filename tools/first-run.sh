#!/usr/bin/env bash
# What `make run` does until the windows exist: trace the sample floor plan
# into out/ in all three formats and show what came out.
set -eu
build=${1:-build}
mkdir -p out
"$build/vemo-trace" --txt --dxf --a10 -o out samples/plan.bmp
echo
echo "Written to out/:"
ls -l out/plan.txt out/plan.dxf out/plan.A10
echo
echo "First lines of out/plan.txt:"
head -n 5 out/plan.txt
