#!/usr/bin/python3
"""peak_memory.py COMMAND [ARGUMENT...]

Runs COMMAND in a session of its own and prints, when it has ended, the
peak of the resident memory of all the session's processes together, in
kB: "peak_kb=N exit=S". The resident sizes are sampled every 2 ms, so a
peak shorter than that can be missed; pages two processes share (a forked
child's copy of its parent) are counted in each. /usr/bin/time cannot give
this figure: it reports the largest single process, not the sum of those
running at once."""
import os
import subprocess
import sys
import time

PAGE_KB = os.sysconf("SC_PAGE_SIZE") // 1024


def session_kb(session):
    total = 0
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as stat:
                # The fields after the command name: state, ppid, pgrp,
                # session, ..., rss (the 24th field of the line).
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue  # ended meanwhile
        if int(fields[3]) == session:
            total += int(fields[21]) * PAGE_KB
    return total


def main(command):
    child = subprocess.Popen(command, start_new_session=True)
    peak = 0
    while child.poll() is None:
        peak = max(peak, session_kb(child.pid))
        time.sleep(0.002)
    print("peak_kb=%d exit=%d" % (peak, child.returncode))
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1:]))
