#!/usr/bin/env bash
# fuzz-all.sh: long libFuzzer runs of the fuzz targets, one after another,
# or a replay of what earlier runs kept.
#
# Usage:  tools/fuzz-all.sh <fuzz build folder> [seconds per target]   (default 600)
#         tools/fuzz-all.sh --replay <fuzz build folder> [folder of the runs' corpora]
#
# The build folder is one configured with -DVEMO_FUZZ=ON (see `make fuzz`).
# Each target fuzz/<build>/fuzz_<name> starts from its seed corpus
# fuzz/corpus/<name>/ and keeps what it finds in <build>/fuzz-corpus/<name>/,
# so that the seeds in the repository stay small and a later run goes on
# from where this one stopped. A crash leaves its input as
# <build>/fuzz-crashes/<name>/crash-*; the script then carries on with the
# other targets and exits 1 at the end.
#
# Every run appends its figures to <build>/fuzz-runs.tsv: when, the commit,
# the target, seconds, executions, executions a second, the corpus's size
# and the crashes kept. libFuzzer's own output goes to
# <build>/fuzz-logs/<name>-<time>.log.
#
# --replay runs every input of the seeds and of <corpora>/fuzz-corpus/<name>/
# once (by default the build folder's own), e.g. the fast UBSan runs' corpora
# through the ASan build (`make fuzz-asan`).
#
# FUZZ_TARGETS="bmp join" limits the run to those targets.
set -euo pipefail

replay=0
if [[ ${1:-} == --replay ]]; then
    replay=1
    shift
fi
if [[ $# -lt 1 ]]; then
    echo "usage: $0 [--replay] <fuzz build folder> [seconds per target | corpora folder]" >&2
    exit 2
fi
build=$1
seconds=600
corpora=$build
if [[ $replay -eq 1 ]]; then
    corpora=${2:-$build}
else
    seconds=${2:-600}
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)

# The longest input each target is given. Larger inputs reach no more of
# the parsers and only slow the runs down.
max_len() {
    case $1 in
        cmdline) echo 512 ;;
        png | tiff) echo 8192 ;;
        *) echo 4096 ;;
    esac
}

shopt -s nullglob
targets=()
if [[ -n ${FUZZ_TARGETS:-} ]]; then
    for name in $FUZZ_TARGETS; do
        if [[ ! -x $build/fuzz/fuzz_$name ]]; then
            echo "no fuzz target $build/fuzz/fuzz_$name" >&2
            exit 2
        fi
        targets+=("$build/fuzz/fuzz_$name")
    done
else
    targets=("$build"/fuzz/fuzz_*)
fi
if [[ ${#targets[@]} -eq 0 ]]; then
    echo "no fuzz targets in $build/fuzz: configure with -DVEMO_FUZZ=ON and build first" >&2
    exit 2
fi

commit=$(git -C "$source_dir" rev-parse --short HEAD 2>/dev/null || echo unknown)
table=$build/fuzz-runs.tsv
if [[ ! -s $table ]]; then
    printf 'when\tcommit\ttarget\tseconds\texecutions\texec/s\tcorpus\tcrashes\n' >"$table"
fi

# The figure libFuzzer's final statistics give for `stat`.
stat_of() {
    sed -n "s/^stat::$2: *//p" "$1" | tail -n 1
}

failed=()
for target in "${targets[@]}"; do
    [[ -x $target ]] || continue
    name=${target##*/fuzz_}
    corpus=$corpora/fuzz-corpus/$name
    crashes=$build/fuzz-crashes/$name
    mkdir -p "$corpus" "$crashes" "$build/fuzz-logs"
    log=$build/fuzz-logs/$name-$(date -u +%Y%m%dT%H%M%S).log
    if [[ $replay -eq 1 ]]; then
        echo "== $name: replaying $(ls "$corpus" | wc -l) kept inputs and the seeds"
        options=(-runs=0)
    else
        echo "== $name: $seconds s"
        options=(-max_total_time="$seconds" -max_len="$(max_len "$name")")
    fi
    status=0
    "$target" "${options[@]}" -timeout=20 -print_final_stats=1 -artifact_prefix="$crashes/" \
        "$corpus" "$source_dir/fuzz/corpus/$name" >"$log" 2>&1 || status=$?
    executions=$(stat_of "$log" number_of_executed_units)
    rate=$(stat_of "$log" average_exec_per_sec)
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$commit" "$name" \
        "$([[ $replay -eq 1 ]] && echo replay || echo "$seconds")" "${executions:-?}" "${rate:-?}" \
        "$(ls "$corpus" | wc -l)" "$(ls "$crashes" | wc -l)" >>"$table"
    echo "   ${executions:-?} executions, ${rate:-?} a second (log: $log)"
    if [[ $status -ne 0 ]]; then
        tail -n 30 "$log" >&2
        failed+=("$name")
    fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
    echo "crashes in: ${failed[*]} (inputs under $build/fuzz-crashes/)" >&2
    exit 1
fi
if [[ $replay -eq 1 ]]; then
    echo "all ${#targets[@]} targets replayed their inputs without a fault"
else
    echo "all ${#targets[@]} targets ran $seconds s without a crash"
fi
