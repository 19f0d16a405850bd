// Vemotrace_compv4: stage 4 of the trace, the point and link graph.
//
// Every square group becomes one point, the centre of the group's box, and
// every two groups whose squares touch become one link between their points.
//
// Reads   temp.sqo, the member count of 8-byte records (int32 group, int32
//         square) written by stage 3, one run of records per group; the file
//         is not opened at all when the member count is 0. Also reads the
//         square table of stage 2, whose width and height the pipeline set.
// Writes  temp.pxy: point i = group i, 16 bytes (double x, double y) in
//         image pixels, pixel centres at .5;
//         temp.lix in its link form: 8 bytes (int32 lower, int32 higher
//         point), ordered by the lower point, each touching pair once.
//         Both files are always created, empty when there are no groups.
// Returns PointCount (always the group count) and LinkCount.
//
// The whole stage runs in the constructor. It throws FileError when a file
// cannot be read, created or written, or when the groups file does not
// describe the given groups (short, a group without members or in two runs,
// a square outside the table or the image); no point or link is written then.
#pragma once

#include <cstdint>
#include <string>

#include "trace/Vemotrace_types.h"

class TVemotrace_compV4 {
public:
    TVemotrace_compV4(std::string groupsPath, std::string pointsPath, std::string linesPath,
                      const ::SquareTable& table, int32_t groupCount, int32_t memberCount);

    int32_t PointCount() const { return m_pointCount; }
    int32_t LinkCount() const { return m_linkCount; }

private:
    std::string m_groupsPath;
    std::string m_pointsPath;
    std::string m_linesPath;
    int32_t m_pointCount = 0;
    int32_t m_linkCount = 0;
};
