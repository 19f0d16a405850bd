#!/usr/bin/env bash
# What `make run` does until the windows exist: show what was built.
set -eu
build=${1:-build}
echo "Vemo is built in $build/."
echo "System folder: $build/Vemosys"
ls "$build/Vemosys"
