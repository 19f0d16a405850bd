# timing_tools.sh: sourced by the benchmark scripts that time whole runs.
# Each check stops the script (exit 2) with a message naming the package
# when its program is missing.
require_time() {
    if [[ ! -x /usr/bin/time ]]; then
        echo "/usr/bin/time is missing: apt-get install time" >&2
        exit 2
    fi
}

# For the scripts that time runs against potrace.
require_timing_tools() {
    if ! command -v potrace >/dev/null; then
        echo "potrace is missing: apt-get install potrace" >&2
        exit 2
    fi
    require_time
}

# The programs the batch and join benchmarks run, from build folder $1.
require_trace_and_drawings() {
    local program
    for program in "$1/vemo-trace" "$1/bench/make_drawing"; do
        if [[ ! -x $program ]]; then
            echo "$program is missing: build the targets vemo-trace and make_drawing" >&2
            exit 2
        fi
    done
}

# The start every whole-run benchmark shares: vemo-trace and make_drawing
# of build folder $1 checked and named $trace and $tool, /usr/bin/time
# checked, and a scratch folder $work named after $2, removed at exit.
start_run_bench() {
    trace=$1/vemo-trace
    tool=$1/bench/make_drawing
    require_trace_and_drawings "$1"
    require_time
    work=$(mktemp -d "${TMPDIR:-/tmp}/vemo-$2-XXXXXX")
    trap 'rm -rf "$work"' EXIT
}
