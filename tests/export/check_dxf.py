#!/usr/bin/python3
"""Opens a DXF file with ezdxf (an independent DXF reader) and runs its
auditor. Prints "polylines=<n> vertices=<m>" for the model space and exits
0 when the file was read and the auditor found no error; otherwise prints
what went wrong and exits 1."""
import sys

import ezdxf


def main(path):
    try:
        doc = ezdxf.readfile(path)
    except (IOError, ezdxf.DXFStructureError) as error:
        print("not readable: %s" % error)
        return 1
    auditor = doc.audit()
    if auditor.has_errors:
        for entry in auditor.errors:
            print("audit error: %s" % entry.message)
        return 1
    polylines = doc.modelspace().query("POLYLINE")
    vertices = sum(len(p.vertices) for p in polylines)
    print("polylines=%d vertices=%d" % (len(polylines), vertices))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
