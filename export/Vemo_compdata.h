// Vemo_compdata: the line data of one trace run and the output writers.
//
// TVemo_compdata is a short-lived object: the trace job makes one per run to
// write the output files, the viewer makes one per paint to show the squares
// or the polylines. Each use reads the run's intermediate files afresh:
//
//   temp.sqr  squares   16-byte records: int32 index, x, y, size
//   temp.sqo  members    8-byte records: int32 group, square index
//   temp.lix  polylines  int32 n, then n points of two doubles (x, y) in
//                        image pixels, y downward, to the end of the file
//
// Output files (all lines ended by CR LF, numbers with "." as decimal point):
//   text  "<name>.txt"  drawing width,height; then per polyline its point
//                       count and one "x,y" line per point
//   DXF   "<name>.dxf"  the compiled-in template with the drawing size put
//                       in, one POLYLINE with its VERTEXes per polyline
//   A10   "<name>.A10"  title, the four frame corners, per polyline a head
//                       line "3000 k n" and fixed-column point lines with
//                       pen codes (3 first point, 2 the others), "99999";
//                       columns of 15 (x), 10 (y) and 5 (integers)
//                       characters, which a value may never overflow
//   SVG   "<name>.svg"  SVG 1.1, width, height and viewBox the drawing size,
//                       one stroked <polyline> per polyline; y downward as
//                       in the other formats, so the points are the text
//                       file's points
//
// The output transform: x' = (flipX ? imageWidth - x : x) * xRatio * xScale,
// and y' likewise with imageHeight, yRatio and yScale. The scale takes image
// pixels to the output unit (Vemo_units: 1 for pixels, the default, so
// that pixels write the same bytes as ever). The drawing size is
// imageWidth * xRatio * xScale by imageHeight * yRatio * yScale. The flip
// mirrors about the image's full size, not the extent of the lines.
// A coordinate or a drawing size that is not finite after the transform
// (ratios whose product overflows, a damaged lines file) throws
// std::range_error naming the axis and the value: no writer puts out "inf"
// or "nan".
//
// Failures: the writers show nothing. A lines file or an output file that
// cannot be opened, read or written throws FileError naming that file; so
// does a lines file that ends inside a record, which is a damaged file and
// not a smaller drawing; and so does an A10 value wider than its column
// (a y of 1,000,000, a polyline number of 100,000), since the columns
// would run together. An output file is saved through TVemo_safefile
// (base/Vemo_safefile.h): a failure never leaves a half-written target
// and leaves no temporary file behind. The viewer's operations (squares, polylines) are lenient
// instead: they paint what can be read and stop quietly.
#pragma once

#include <array>
#include <memory>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Vemo_fileerror.h"
#include "base/Vemo_safefile.h"
#include "export/Vemo_canvas.h"
#include "export/Vemo_dxftemplate.h"
#include "export/Vemo_units.h"
#include "trace/Vemotrace_fit.h"
#include "trace/Vemotrace_types.h"

class PolylineReader;

// The output formats, numbered as the settings and the trace job count them.
enum class ExportKind : int32_t { Text = 0, Dxf = 1, A10 = 2, Svg = 3 };

// The file an export of `kind` writes for `imagePath` into `outputFolder`:
// the image's file name (the text after the last "/") with its extension
// (from the last "." on) replaced by "txt", "dxf", "A10" or "svg", joined
// to the folder with a "/". A name without "." gets the extension appended
// after a ".": "scan" gives "scan.txt". The folder is used as it is, so one ending
// in "/" gives "//", which the file system takes as one. Empty for a kind
// that is none of the four.
std::string OutputFilePath(const std::string& imagePath, const std::string& outputFolder, ExportKind kind);

class TVemo_compdata {
public:
    // 256 table entries; 0 to 12 are the drawing colours, the rest black.
    // Users take an index modulo kDrawingColours.
    static constexpr int kColourCount = 256;
    static constexpr int kDrawingColours = 13;

    TVemo_compdata();
    ~TVemo_compdata();
    TVemo_compdata(const TVemo_compdata&) = delete;
    TVemo_compdata& operator=(const TVemo_compdata&) = delete;

    // --- Squares view -----------------------------------------------------
    // Reads up to `count` square records from the start of `squaresPath`.
    // A short file loads the records it holds; a file that cannot be opened
    // loads none (nothing is painted).
    void LoadSquares(const std::string& squaresPath, int32_t count);
    // Reads up to `memberCount` member records and gathers them by group.
    // Records of a group number outside 0 to groupCount - 1 are skipped. A
    // group that appears in two separate runs keeps its last run.
    void LoadGroups(const std::string& groupsPath, int32_t groupCount, int32_t memberCount);
    // Fills every loaded square of group g with colour g mod 13, groups in
    // ascending order, so later squares cover earlier ones. Members naming a
    // square that was not loaded are skipped.
    void PaintSquares(TVemo_canvas& canvas) const;
    void FreeSquares();
    void FreeGroups();
    int32_t SquareCount() const { return static_cast<int32_t>(m_squareX.size()); }
    int32_t MemberCount() const { return static_cast<int32_t>(m_members.size()); }

    // --- Polyline overlay -------------------------------------------------
    // Draws every polyline of `linesPath` with the pen colour k mod 13 for
    // the k-th polyline (k from 1: red first). Each point is multiplied by
    // `zoom` and truncated toward zero. No flip and no ratio apply. Drawing
    // stops quietly where the file ends, also inside a record, and a file
    // that cannot be opened draws nothing.
    void DrawLines(const std::string& linesPath, TVemo_canvas& canvas, double zoom) const;
    // The same from the bytes of a lines file read beforehand (the viewer
    // reads temp.lix once per opening, not at every repaint).
    void DrawLines(std::span<const uint8_t> lines, TVemo_canvas& canvas, double zoom) const;

    // Where each polyline of a lines file read beforehand has its vertices
    // and the box they span in image pixels, so that a repaint of a part of
    // a large sheet passes over the polylines outside it.
    struct IndexedPolyline {
        std::size_t offset = 0;  // of the first vertex in the bytes
        int32_t vertices = 0;    // whole vertices there (fewer than counted where the file is cut)
        bool anywhere = false;   // a point that is no number: its pixels cannot be bounded
        double left = 0, top = 0, right = 0, bottom = 0;
    };
    static std::vector<IndexedPolyline> IndexLines(std::span<const uint8_t> lines);
    // Draws as DrawLines does, but only the polylines of `index` that can
    // reach `area` (device pixels: left, top, right, bottom, inclusive);
    // within `area` the result is the same pixels.
    void DrawIndexedLines(std::span<const uint8_t> lines, const std::vector<IndexedPolyline>& index,
                          const std::array<int32_t, 4>& area, TVemo_canvas& canvas, double zoom) const;

    // The table entry at `index`; black outside 0 to 255.
    CanvasColour Colour(int index) const;

    // --- Export -----------------------------------------------------------
    // Keeps a copy of the run's results (the writers use linesPath, the
    // image size, the flips and the ratios) and of the DXF template.
    void SetExportParams(const TraceResult& result, std::vector<std::string> dxfTemplate = DxfTemplate());
    // The unit the files are written in and its scale; pixels until set.
    void SetOutputScale(const OutputScale& scale) { m_scale = scale; }
    const OutputScale& GetOutputScale() const { return m_scale; }
    // Writes the file of `kind` for `imagePath` into `outputFolder` and
    // returns its path; nothing for a kind that is none of the four.
    // Throws FileError when the lines file or the output file fails (an
    // A10 value too wide for its column included), std::range_error when
    // a coordinate is not finite after the output transform.
    std::optional<std::string> Export(ExportKind kind, const std::string& imagePath,
                                      const std::string& outputFolder) const;
    // Staged commits: while on, each writer leaves its complete file
    // beside the target instead of replacing it, until CommitStaged
    // replaces the targets in the order they were written. Staged files
    // still waiting when staging ends or the object goes are removed, so a
    // run stopped between two formats replaces none. CommitStaged tries
    // every file and returns the FileErrors of those it could not replace.
    void StageCommits(bool on);
    std::vector<FileError> CommitStaged();

    void WriteText(const std::string& outputPath) const;
    void WriteDxf(const std::string& outputPath) const;
    void WriteA10(const std::string& outputPath) const;
    void WriteSvg(const std::string& outputPath) const;

    // Template slices: each selected template line gives two texts, its
    // group code field (three characters) and its value. The header slice
    // runs from the first item up to the line numbered 360, with the drawing
    // size put into lines 11, 12, 17, 18, 20, 21, 23, 29 and 30.
    std::vector<std::string> ReadTemplateHeader() const;
    // The lines numbered `lowest` to `highest`; the scan ends at the first
    // line numbered above `highest`.
    std::vector<std::string> ReadTemplateRange(int32_t lowest, int32_t highest) const;

    // --- Fitted entities --------------------------------------------------
    // The entities of a fitted run (TVemotrace_fit). With them the DXF and
    // SVG writers write LINE, ARC and CIRCLE entities on one layer per pen
    // (export/Vemo_entitywriters.h); the text and A10 writers are unchanged,
    // as the fitting step wrote the lines file as the entities' points.
    void SetEntities(std::shared_ptr<const FitResult> entities) { m_entities = std::move(entities); }
    // A point in image pixels under the output transform.
    Point OutputPoint(const Point& p) const;
    double DrawingWidth() const;
    double DrawingHeight() const;

private:
    std::vector<std::unique_ptr<TVemo_safefile>>* StagingList() const { return m_staging ? &m_staged : nullptr; }
    void DrawPolylines(PolylineReader& reader, TVemo_canvas& canvas, double zoom) const;

    std::array<CanvasColour, kColourCount> m_colours;

    std::string m_squaresPath;
    // Square i of temp.sqr: top-left corner and side length in image pixels.
    std::vector<int32_t> m_squareX;
    std::vector<int32_t> m_squareY;
    std::vector<int32_t> m_squareSize;
    // Per group: its first entry in m_members and its number of entries.
    std::vector<int32_t> m_groupFirst;
    std::vector<int32_t> m_groupLength;
    std::vector<int32_t> m_members;  // square indices, grouped in runs

    TraceResult m_result;
    OutputScale m_scale;
    std::vector<std::string> m_template;
    bool m_staging = false;
    mutable std::vector<std::unique_ptr<TVemo_safefile>> m_staged;
    std::shared_ptr<const FitResult> m_entities;
};
