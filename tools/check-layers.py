#!/usr/bin/env python3
"""Checks that includes follow the layers (CTest IncludeLayers).

Every include of the project is written "folder/file.h" from the source root,
so one include folder serves all targets and the compiler cannot tell a layer
from another. This check can: each source folder may include only its own
folder and the folders below it, as its CMakeLists.txt links them. Two more
rules hold outside trace/ and its tests, benchmarks and fuzz targets: the join
step is used through its public header only, and a single stage's header
(trace/Vemotrace_compv1..5.h) is the pipeline's business.

Usage: check-layers.py [source root]. Prints each offending include as
file:line and exits 1 when there is one.
"""
import pathlib
import re
import sys

# Each folder and the folders it may include, its own first. Bottom to top.
ALLOWED = {
    "base": {"base"},
    "common": {"common", "base"},
    "trace": {"trace", "common", "base"},
    "export": {"export", "trace", "common", "base"},
    "image": {"image", "trace", "common", "base"},
    # A plug-in is loaded by the program, so it links nothing of it: it
    # shares only the ABI header and the mapped file with image/.
    "plugins": {"plugins", "image"},
    "job": {"job", "export", "image", "trace", "common", "base"},
    "viewer": {"viewer", "export", "image", "trace", "common", "base"},
    "cli": {"cli", "job", "export", "image", "trace", "common", "base"},
    "app": {"app", "viewer", "job", "export", "image", "trace", "common", "base"},
}
# Tests, benchmarks and fuzz targets may use any layer and any unit.
UNRESTRICTED = {"tests", "bench", "fuzz"}
PLUGIN_HEADERS = {"image/Vemo_spi.h", "image/Vemo_mappedfile.h"}

JOIN_PUBLIC = {"trace/Vemotrace_join.h", "trace/join/Vemotrace_join.h"}
STAGE_HEADER = re.compile(r"trace/Vemotrace_compv[1-5]\.h$")
INCLUDE = re.compile(r'^\s*#\s*include\s*["<]([^">]+)[">]')
SOURCES = {".h", ".hpp", ".c", ".cc", ".cpp"}


def problems(root):
    folders = set(ALLOWED) | UNRESTRICTED
    for path in sorted(root.rglob("*")):
        if path.suffix not in SOURCES or not path.is_file():
            continue
        relative = path.relative_to(root)
        owner = relative.parts[0]
        if owner not in folders or len(relative.parts) < 2:
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            layer = target.split("/")[0] if "/" in target else None
            if layer not in ALLOWED:
                continue  # a system header or one beside the file
            where = f"{relative}:{number}: {target}"
            if owner not in UNRESTRICTED:
                if layer not in ALLOWED[owner]:
                    yield f"{where}: {owner}/ may not include {layer}/ (it lies above or beside it)"
                elif owner == "plugins" and layer == "image" and target not in PLUGIN_HEADERS:
                    yield f"{where}: a plug-in may include only {', '.join(sorted(PLUGIN_HEADERS))} of image/"
            if owner in {"trace"} | UNRESTRICTED:
                continue
            if target.startswith("trace/join/") and target not in JOIN_PUBLIC:
                yield f"{where}: the join step's internals; include {' or '.join(sorted(JOIN_PUBLIC))}"
            elif STAGE_HEADER.search(target):
                yield f"{where}: a single stage's header; use trace/Vemotrace_compv.h"


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    found = list(problems(root))
    for problem in found:
        print(problem)
    if found:
        print(f"{len(found)} include(s) against the layers")
        return 1
    print("includes follow the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
