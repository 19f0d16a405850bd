// Vemo_dxftemplate: the DXF template the DXF writer cuts its lines from.
//
// The template is the file resources/Vemo_dxf_template.txt, compiled into the
// program. It holds 463 items: lines numbered 00000 to 00460, the end mark
// "99999  " and one empty item. Each numbered item reads
//   columns 1-5   line number, five digits
//   columns 6-8   DXF group code, right-aligned in three characters
//   column  9     one space
//   column 10 on  the value, copied as it stands (trailing spaces kept,
//                 possibly empty)
// The line-type descriptions hold single 0xA5 bytes (the dot of the
// Japanese code page); they are returned and written unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The template's line numbers that the DXF writers select by.
namespace dxftemplate {
inline constexpr int32_t kLastHeaderLine = 360;
inline constexpr int32_t kPolylineHeadFirst = 409;
inline constexpr int32_t kPolylineHeadLast = 413;
inline constexpr int32_t kVertexFirst = 416;
inline constexpr int32_t kVertexLast = 421;
inline constexpr int32_t kPolylineEndLine = 458;
inline constexpr int32_t kTrailerFirst = 459;
inline constexpr int32_t kTrailerLast = 460;
}  // namespace dxftemplate

// The template's items in order, without line ends.
std::vector<std::string> DxfTemplate();
