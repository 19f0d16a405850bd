#!/usr/bin/python3
"""Opens a DXF file with ezdxf (an independent DXF reader) and runs its
auditor. Prints "polylines=<n> vertices=<m>" for the model space and exits
0 when the file was read and the auditor found no error; otherwise prints
what went wrong and exits 1. With --entities it then prints each layer
("LAYER name colour") and each entity of the model space in order, as ezdxf
reads it: "LINE layer x1 y1 x2 y2", "ARC layer cx cy r" with its start,
middle and end points as ezdxf computes them from the angles, "CIRCLE layer
cx cy r", "POLYLINE layer vertices"."""
import math
import sys

import ezdxf


def main(path, entities=False):
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
    if entities:
        print_entities(doc)
    return 0


def print_entities(doc):
    for layer in doc.layers:
        print("LAYER %s %d" % (layer.dxf.name, layer.dxf.color))
    for e in doc.modelspace():
        kind = e.dxftype()
        if kind == "LINE":
            print("LINE %s %.3f %.3f %.3f %.3f" % (e.dxf.layer, e.dxf.start.x, e.dxf.start.y, e.dxf.end.x, e.dxf.end.y))
        elif kind == "ARC":
            c, r = e.dxf.center, e.dxf.radius
            a0, a1 = e.dxf.start_angle, e.dxf.end_angle
            middle = math.radians(a0 + ((a1 - a0) % 360) / 2)
            s, t = e.start_point, e.end_point
            print("ARC %s %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f" %
                  (e.dxf.layer, c.x, c.y, r, s.x, s.y, c.x + r * math.cos(middle), c.y + r * math.sin(middle),
                   t.x, t.y))
        elif kind == "CIRCLE":
            print("CIRCLE %s %.3f %.3f %.3f" % (e.dxf.layer, e.dxf.center.x, e.dxf.center.y, e.dxf.radius))
        elif kind == "POLYLINE":
            print("POLYLINE %s %d" % (e.dxf.layer, len(e.vertices)))
        else:
            print(kind)


if __name__ == "__main__":
    entities = "--entities" in sys.argv[1:]
    paths = [a for a in sys.argv[1:] if a != "--entities"]
    sys.exit(main(paths[0], entities))
