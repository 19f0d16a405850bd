#!/usr/bin/env bash
# fuzz-all.sh: long libFuzzer runs of every fuzz target, one after another.
#
# Usage:  tools/fuzz-all.sh <fuzz build folder> [seconds per target]   (default 600)
#
# The build folder is one configured with -DVEMO_FUZZ=ON (see `make fuzz`).
# Each target fuzz/<build>/fuzz_<name> starts from its seed corpus
# fuzz/corpus/<name>/ and keeps what it finds in <build>/fuzz-corpus/<name>/,
# so that the seeds in the repository stay small and a later run goes on
# from where this one stopped. A crash leaves its input as
# <build>/fuzz-crashes/<name>/crash-*; the script then carries on with the
# other targets and exits 1 at the end.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 <fuzz build folder> [seconds per target]" >&2
    exit 2
fi
build=$1
seconds=${2:-600}
source_dir=$(cd "$(dirname "$0")/.." && pwd)

shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
if [[ ${#targets[@]} -eq 0 ]]; then
    echo "no fuzz targets in $build/fuzz: configure with -DVEMO_FUZZ=ON and build first" >&2
    exit 2
fi

failed=()
for target in "${targets[@]}"; do
    [[ -x $target ]] || continue
    name=${target##*/fuzz_}
    corpus=$build/fuzz-corpus/$name
    crashes=$build/fuzz-crashes/$name
    mkdir -p "$corpus" "$crashes"
    echo "== $name: $seconds s"
    if ! "$target" -max_total_time="$seconds" -artifact_prefix="$crashes/" \
            "$corpus" "$source_dir/fuzz/corpus/$name"; then
        failed+=("$name")
    fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
    echo "crashes in: ${failed[*]} (inputs under $build/fuzz-crashes/)" >&2
    exit 1
fi
echo "all ${#targets[@]} targets ran $seconds s without a crash"
