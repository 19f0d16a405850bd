# timing_tools.sh: sourced by the benchmark scripts that time whole runs
# against potrace. Stops the script (exit 2) with a message naming the
# package when potrace or /usr/bin/time is missing.
require_timing_tools() {
    if ! command -v potrace >/dev/null; then
        echo "potrace is missing: apt-get install potrace" >&2
        exit 2
    fi
    if [[ ! -x /usr/bin/time ]]; then
        echo "/usr/bin/time is missing: apt-get install time" >&2
        exit 2
    fi
}
