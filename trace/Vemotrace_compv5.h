// Vemotrace_compv5: stage 5 of the trace, line segment adjustment.
//
// Turns the point and link graph of stage 4 into the final polylines:
// flattens triangles at junctions, follows chains of points into polylines,
// thins each polyline and rewrites the lines file with them.
//
// Reads   temp.pxy, the point count of 16-byte records (double x, double y),
//         and temp.lix in its link form, the link count of 8-byte records
//         (int32 first point, int32 second point).
// Writes  temp.lix anew in its polyline form: per polyline an int32 n >= 2,
//         then n times (double x, double y) in image pixels; no header, no
//         terminator, so the file is 4 x PolylineCount + 16 x VertexCount
//         bytes long. temp.pxy is never rewritten: points moved by triangle
//         flattening reach the output only through the polylines.
// Returns PolylineCount and VertexCount after AdjustLines.
//
// AdjustLines throws FileError when a file cannot be read or written, or
// when a link names a point that does not exist (or the same point twice);
// the lines file is left as it was when the input cannot be read.
#pragma once

#include <cstdint>
#include <string>

class TVemotrace_compV5 {
public:
    TVemotrace_compV5(std::string pointsPath, std::string linesPath, int32_t pointCount, int32_t linkCount);

    void AdjustLines();  // once
    int32_t PolylineCount() const { return m_polylineCount; }
    int32_t VertexCount() const { return m_vertexCount; }

private:
    std::string m_pointsPath;
    std::string m_linesPath;
    int32_t m_pointCount = 0;
    int32_t m_linkCount = 0;
    int32_t m_polylineCount = 0;
    int32_t m_vertexCount = 0;
};
