// Vemo_compdata: squares painting, polyline overlay and the text, DXF, A10
// and SVG writers (file layouts and failure rules in the header).
#include "export/Vemo_compdata.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <cmath>
#include <limits>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "base/Vemo_path.h"
#include "base/Vemo_runcontrol.h"
#include "base/Vemo_safefile.h"
#include "common/Vemo_common.h"
#include "common/Vemo_texts.h"
#include "export/Vemo_entitywriters.h"
#include "trace/Vemotrace_records.h"

namespace {

// The drawing colours, indexed by group number or polyline number mod 13.
constexpr std::array<CanvasColour, TVemo_compdata::kDrawingColours> kColourTable = {{
    {0, 255, 0},      // green
    {255, 0, 0},      // red
    {0, 0, 255},      // blue
    {255, 0, 255},    // magenta
    {255, 255, 0},    // yellow
    {0, 255, 255},    // cyan
    {128, 128, 128},  // grey
    {192, 0, 192},    // purple
    {192, 192, 255},  // light blue
    {192, 255, 255},  // light cyan
    {192, 255, 192},  // light green
    {255, 255, 192},  // light yellow
    {255, 192, 192},  // light red
}};

constexpr const char* kLineEnd = "\r\n";
constexpr const char* kEndsInsideRecord = "the file ends inside a record";
constexpr const char* kNegativePointCount = "the file holds a negative point count";

using namespace dxftemplate;  // the line numbers the writer selects by
// The scans look at no more items than this; the template has 463.
constexpr std::size_t kTemplateScanLimit = 1000;
// In the vertex slice, the texts that carry the point: the values of its
// group 10 and group 20 lines.
constexpr std::size_t kVertexXText = 5;
constexpr std::size_t kVertexYText = 7;

// The A10 head line's first field, which marks a polyline.
constexpr int32_t kA10PolylineMark = 3000;
constexpr int32_t kA10PenUp = 3;    // the polyline's first point
constexpr int32_t kA10PenDown = 2;  // every later point
// The A10 column widths: x 15 characters, y 10, the integers 5 each. So
// a y of 1,000,000 or a polyline number of 100,000 no longer fits.
constexpr std::size_t kA10XWidth = 15;
constexpr std::size_t kA10YWidth = 10;
constexpr std::size_t kA10IntegerWidth = 5;

// Right-aligns a decimal integer in `width` characters, as "%<width>d".
std::string PaddedInt(int64_t value, std::size_t width) {
    std::string text = std::to_string(value);
    if (text.size() < width) text.insert(0, width - text.size(), ' ');
    return text;
}

// Truncates toward zero into the int32 range; NaN gives 0. Damaged lines
// files can hold any double, and a cast out of range is undefined.
int32_t ToPixel(double value) {
    if (std::isnan(value)) return 0;
    const double truncated = std::trunc(value);
    if (truncated <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
        return std::numeric_limits<int32_t>::min();
    }
    if (truncated >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(truncated);
}

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

std::string Fixed3(double value) { return FormatNumber("%.3lf", value); }

// The output transform: mirror about the image's full size, then scale.
// Every coordinate a writer puts out, the drawing size included, comes
// from here, and none may leave it as "inf" or "nan": ratios whose product
// overflows, or a damaged lines file, would otherwise give files that no
// CAD program reads, written as if all were well.
struct OutputTransform {
    const TraceResult& result;
    const OutputScale& scale;

    // Mirror about the image's full size, then scale by the ratio and then
    // by the unit's factor (1 for pixels, which leaves the product
    // unchanged bit for bit).
    double X(double x) const {
        return Checked(texts::kAxisX, x, (result.flipX != 0 ? result.imageWidth - x : x) * result.xRatio * scale.x);
    }
    double Y(double y) const {
        return Checked(texts::kAxisY, y, (result.flipY != 0 ? result.imageHeight - y : y) * result.yRatio * scale.y);
    }
    double Width() const {
        return Checked(texts::kAxisX, result.imageWidth, result.imageWidth * result.xRatio * scale.x);
    }
    double Height() const {
        return Checked(texts::kAxisY, result.imageHeight, result.imageHeight * result.yRatio * scale.y);
    }

private:
    static double Checked(const char* axis, double imageValue, double outputValue) {
        if (!std::isfinite(outputValue)) {
            throw std::range_error(texts::CoordinateNotFinite(axis, Fixed3(imageValue), Fixed3(outputValue)));
        }
        return outputValue;
    }
};

// One column of the A10 file: `text` right-aligned in `width` characters.
// A value that needs more would run into the next column, and a reader
// that goes by column would read other numbers than were meant, so the
// file is refused instead (the other formats have no columns to keep).
std::string A10Column(const std::string& text, std::size_t width, const char* field, const std::string& path) {
    if (text.size() > width) throw FileError(path, texts::A10ValueTooWide(field, text, width));
    return std::string(width - text.size(), ' ') + text;
}

// The polylines of a lines file for a writer. Unlike the overlay, a
// writer must not turn a damaged file into a smaller drawing without a
// word, so a file that ends inside a record throws.
class WriterPolylines {
public:
    explicit WriterPolylines(const std::string& path) : m_reader(path) {
        std::error_code unknown;
        const auto size = std::filesystem::file_size(path, unknown);
        m_fileSize = unknown ? 0 : static_cast<int64_t>(size);
    }

    // The next polyline's points; false at the end of the file. The bytes
    // read so far are the writer's progress.
    bool Next(std::vector<Point>& points) {
        RunCheckpoint(m_bytesRead, m_fileSize);
        points.clear();
        int32_t count = 0;
        switch (m_reader.NextCount(count)) {
            case PolylineReader::Head::End: return false;
            case PolylineReader::Head::Partial: throw FileError(m_reader.Path(), kEndsInsideRecord);
            case PolylineReader::Head::Count: break;
        }
        if (count < 0) throw FileError(m_reader.Path(), kNegativePointCount);
        for (int32_t done = 0; done < count;) {
            const auto chunk = std::min(static_cast<std::size_t>(count - done), records::kRecordsPerRead);
            const uint8_t* vertices = m_reader.TakeVertices(chunk);
            if (vertices == nullptr) throw FileError(m_reader.Path(), kEndsInsideRecord);
            for (std::size_t k = 0; k < chunk; ++k) points.push_back(records::GetVertex(vertices, k));
            done += static_cast<int32_t>(chunk);
        }
        m_bytesRead += static_cast<int64_t>(records::kPolylineCountSize + points.size() * records::kVertexSize);
        return true;
    }

private:
    PolylineReader m_reader;
    int64_t m_fileSize = 0;
    int64_t m_bytesRead = 0;
};

// An output file written through the safe save, line by line. With a
// staging list its Commit hands the complete file over to the list instead
// of replacing the target (see TVemo_compdata::StageCommits).
class SafeOutputFile {
public:
    SafeOutputFile(std::string targetPath, std::vector<std::unique_ptr<TVemo_safefile>>* staged = nullptr)
        : m_file(std::make_unique<TVemo_safefile>(std::move(targetPath))), m_staged(staged) {}

    void Write(std::string_view text) { m_file->Write(text); }
    void Line(std::string_view text) {
        m_file->Write(text);
        m_file->Write(kLineEnd);
    }
    void Commit() {
        if (m_staged != nullptr) {
            m_staged->push_back(std::move(m_file));
        } else {
            m_file->Commit();
        }
    }

private:
    std::unique_ptr<TVemo_safefile> m_file;
    std::vector<std::unique_ptr<TVemo_safefile>>* m_staged;
};

// A template item split into its columns.
struct TemplateLine {
    int32_t number = 0;  // columns 1-5, read up to the first non-digit
    std::string code;    // columns 6-8
    std::string value;   // column 10 to the end
};

TemplateLine SplitTemplateLine(const std::string& item) {
    TemplateLine line;
    for (std::size_t i = 0; i < 5 && i < item.size() && item[i] >= '0' && item[i] <= '9'; ++i) {
        line.number = line.number * 10 + (item[i] - '0');
    }
    if (item.size() > 5) line.code = item.substr(5, 3);
    if (item.size() > 9) line.value = item.substr(9);
    return line;
}

}  // namespace

std::string OutputFilePath(const std::string& imagePath, const std::string& outputFolder, ExportKind kind) {
    const char* extension = nullptr;
    switch (kind) {
        case ExportKind::Text: extension = "txt"; break;
        case ExportKind::Dxf: extension = "dxf"; break;
        case ExportKind::A10: extension = "A10"; break;
        case ExportKind::Svg: extension = "svg"; break;
    }
    if (extension == nullptr) return std::string();
    // The folder is used as the user gave it, so a trailing "/" doubles.
    return outputFolder + "/" + SplitPath(imagePath).stem + "." + extension;
}

TVemo_compdata::TVemo_compdata() {
    m_colours.fill(CanvasColour{0, 0, 0});
    std::copy(kColourTable.begin(), kColourTable.end(), m_colours.begin());
}

TVemo_compdata::~TVemo_compdata() = default;

CanvasColour TVemo_compdata::Colour(int index) const {
    if (index < 0 || index >= kColourCount) return CanvasColour{0, 0, 0};
    return m_colours[static_cast<std::size_t>(index)];
}

// --- Squares view ------------------------------------------------------------

void TVemo_compdata::LoadSquares(const std::string& squaresPath, int32_t count) {
    m_squaresPath = squaresPath;
    FreeSquares();
    if (count < 1) return;
    try {
        ReadSquares(squaresPath, count, ShortFile::Stops, [&](int32_t, const SquareRecord& square) {
            m_squareX.push_back(square.x);
            m_squareY.push_back(square.y);
            m_squareSize.push_back(square.size);
        });
    } catch (const FileError&) {
        // The view shows what could be read; see the header.
    }
}

void TVemo_compdata::LoadGroups(const std::string& groupsPath, int32_t groupCount, int32_t memberCount) {
    FreeGroups();
    if (memberCount < 1 || groupCount < 1) return;
    int32_t current = -1;
    std::size_t runStart = 0;
    const auto closeRun = [&] {
        if (current < 0) return;
        const auto group = static_cast<std::size_t>(current);
        if (m_groupFirst.size() <= group) {
            m_groupFirst.resize(group + 1, 0);
            m_groupLength.resize(group + 1, 0);
        }
        m_groupFirst[group] = static_cast<int32_t>(runStart);
        m_groupLength[group] = static_cast<int32_t>(m_members.size() - runStart);
    };
    try {
        RecordReader reader(groupsPath);
        const auto wanted = static_cast<std::size_t>(memberCount);
        for (std::size_t i = 0; i < wanted; ++i) {
            uint8_t record[records::kMemberRecordSize];
            if (reader.ReadUpTo(record, sizeof record) != sizeof record) break;
            const int32_t group = records::GetInt32(record);
            const int32_t square = records::GetInt32(record + 4);
            if (group < 0 || group >= groupCount) continue;
            if (group != current) {
                closeRun();
                current = group;
                runStart = m_members.size();
            }
            m_members.push_back(square);
        }
    } catch (const FileError&) {
        // As for the squares: keep what was read.
    }
    closeRun();
}

void TVemo_compdata::PaintSquares(TVemo_canvas& canvas) const {
    const std::size_t squareCount = m_squareX.size();
    for (std::size_t group = 0; group < m_groupFirst.size(); ++group) {
        canvas.SetBrushColour(m_colours[group % kDrawingColours]);
        const auto first = static_cast<std::size_t>(m_groupFirst[group]);
        const auto end = first + static_cast<std::size_t>(m_groupLength[group]);
        for (std::size_t member = first; member < end; ++member) {
            const int32_t square = m_members[member];
            if (square < 0 || static_cast<std::size_t>(square) >= squareCount) continue;
            const auto s = static_cast<std::size_t>(square);
            const int32_t size = m_squareSize[s];
            if (size <= 0) continue;
            const int64_t left = m_squareX[s];
            const int64_t top = m_squareY[s];
            canvas.FillRect(ClampToInt32(left), ClampToInt32(top), ClampToInt32(left + size),
                            ClampToInt32(top + size));
        }
    }
}

void TVemo_compdata::FreeSquares() {
    m_squareX = {};
    m_squareY = {};
    m_squareSize = {};
}

void TVemo_compdata::FreeGroups() {
    m_groupFirst = {};
    m_groupLength = {};
    m_members = {};
}

// --- Polyline overlay --------------------------------------------------------

void TVemo_compdata::DrawLines(const std::string& linesPath, TVemo_canvas& canvas, double zoom) const {
    try {
        PolylineReader reader(linesPath);
        DrawPolylines(reader, canvas, zoom);
    } catch (const FileError&) {
        // The overlay shows what could be read; see the header.
    }
}

void TVemo_compdata::DrawLines(std::span<const uint8_t> lines, TVemo_canvas& canvas, double zoom) const {
    PolylineReader reader(lines);
    DrawPolylines(reader, canvas, zoom);
}

namespace {

// One vertex of a polyline on the canvas: the first moves there, the others
// draw to it.
void DrawVertex(TVemo_canvas& canvas, const Point& p, double zoom, bool first) {
    const int32_t x = ToPixel(p.x * zoom);
    const int32_t y = ToPixel(p.y * zoom);
    if (first) {
        canvas.MoveTo(x, y);
    } else {
        canvas.LineTo(x, y);
    }
}

}  // namespace

std::vector<TVemo_compdata::IndexedPolyline> TVemo_compdata::IndexLines(std::span<const uint8_t> lines) {
    std::vector<IndexedPolyline> index;
    PolylineReader reader(lines);
    int32_t count = 0;
    while (reader.NextCount(count) == PolylineReader::Head::Count) {
        IndexedPolyline entry;
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t* vertex = reader.TakeVertices(1);
            if (vertex == nullptr) break;
            const Point p = records::GetVertex(vertex, 0);
            if (i == 0) {
                entry.offset = static_cast<std::size_t>(vertex - lines.data());
                entry.left = entry.right = p.x;
                entry.top = entry.bottom = p.y;
            }
            entry.anywhere = entry.anywhere || std::isnan(p.x) || std::isnan(p.y);
            entry.left = std::min(entry.left, p.x);
            entry.right = std::max(entry.right, p.x);
            entry.top = std::min(entry.top, p.y);
            entry.bottom = std::max(entry.bottom, p.y);
            entry.vertices = i + 1;
        }
        index.push_back(entry);
        if (entry.vertices < count) break;  // the bytes end inside this polyline
    }
    return index;
}

void TVemo_compdata::DrawIndexedLines(std::span<const uint8_t> lines, const std::vector<IndexedPolyline>& index,
                                      const std::array<int32_t, 4>& area, TVemo_canvas& canvas, double zoom) const {
    if (!(zoom > 0.0) || !std::isfinite(zoom)) {
        DrawLines(lines, canvas, zoom);  // the boxes below assume a zoom that keeps the order of points
        return;
    }
    // Every pixel of a segment lies within the box of its end points, and
    // truncation keeps the order of coordinates: a polyline whose zoomed box
    // misses the area (with a pen's width to spare) draws nothing there.
    constexpr int64_t kSpare = 2;
    const auto misses = [&](const IndexedPolyline& entry) {
        if (entry.anywhere) return false;
        return int64_t{ToPixel(entry.right * zoom)} < area[0] - kSpare ||
               int64_t{ToPixel(entry.left * zoom)} > area[2] + kSpare ||
               int64_t{ToPixel(entry.bottom * zoom)} < area[1] - kSpare ||
               int64_t{ToPixel(entry.top * zoom)} > area[3] + kSpare;
    };
    for (std::size_t k = 0; k < index.size(); ++k) {
        const IndexedPolyline& entry = index[k];
        if (entry.vertices == 0 || misses(entry)) continue;
        canvas.SetPenColour(m_colours[(k + 1) % kDrawingColours]);
        const uint8_t* vertices = lines.data() + entry.offset;
        for (int32_t i = 0; i < entry.vertices; ++i) {
            DrawVertex(canvas, records::GetVertex(vertices, static_cast<std::size_t>(i)), zoom, i == 0);
        }
    }
}

void TVemo_compdata::DrawPolylines(PolylineReader& reader, TVemo_canvas& canvas, double zoom) const {
    canvas.SetPenColour(CanvasColour{0, 0, 0});
    for (std::size_t polyline = 1;; ++polyline) {
        int32_t count = 0;
        if (reader.NextCount(count) != PolylineReader::Head::Count) return;
        canvas.SetPenColour(m_colours[polyline % kDrawingColours]);
        // Point by point, so a file cut inside a polyline draws up to the cut.
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t* vertex = reader.TakeVertices(1);
            if (vertex == nullptr) return;
            DrawVertex(canvas, records::GetVertex(vertex, 0), zoom, i == 0);
        }
    }
}

// --- Export ------------------------------------------------------------------

void TVemo_compdata::StageCommits(bool on) {
    m_staging = on;
    if (!on) m_staged.clear();
}

std::vector<FileError> TVemo_compdata::CommitStaged() {
    std::vector<FileError> failed;
    for (auto& file : m_staged) {
        try {
            file->Commit();
        } catch (const FileError& error) {
            failed.push_back(error);
        }
    }
    m_staged.clear();
    return failed;
}

void TVemo_compdata::SetExportParams(const TraceResult& result, std::vector<std::string> dxfTemplate) {
    m_result = result;
    m_template = std::move(dxfTemplate);
}

double TVemo_compdata::DrawingWidth() const { return OutputTransform{m_result, m_scale}.Width(); }

double TVemo_compdata::DrawingHeight() const { return OutputTransform{m_result, m_scale}.Height(); }

std::optional<std::string> TVemo_compdata::Export(ExportKind kind, const std::string& imagePath,
                                                  const std::string& outputFolder) const {
    std::string path = OutputFilePath(imagePath, outputFolder, kind);
    switch (kind) {
        case ExportKind::Text: WriteText(path); return path;
        case ExportKind::Dxf: WriteDxf(path); return path;
        case ExportKind::A10: WriteA10(path); return path;
        case ExportKind::Svg: WriteSvg(path); return path;
    }
    return std::nullopt;
}

Point TVemo_compdata::OutputPoint(const Point& p) const {
    const OutputTransform transform{m_result, m_scale};
    return {transform.X(p.x), transform.Y(p.y)};
}

void TVemo_compdata::WriteText(const std::string& outputPath) const {
    WriterPolylines lines(m_result.linesPath);
    SafeOutputFile out(outputPath, StagingList());
    const OutputTransform transform{m_result, m_scale};
    const double width = DrawingWidth();
    const double height = DrawingHeight();
    out.Line(Fixed3(width) + "," + Fixed3(height));
    std::vector<Point> points;
    while (lines.Next(points)) {
        out.Line(std::to_string(points.size()));
        for (const Point& p : points) out.Line(Fixed3(transform.X(p.x)) + "," + Fixed3(transform.Y(p.y)));
    }
    out.Commit();
}

std::vector<std::string> TVemo_compdata::ReadTemplateHeader() const {
    std::vector<std::string> texts;
    const std::size_t limit = std::min(m_template.size(), kTemplateScanLimit);
    for (std::size_t i = 0; i < limit; ++i) {
        TemplateLine line = SplitTemplateLine(m_template[i]);
        switch (line.number) {
            case 11: case 17: case 29: line.value = Fixed3(DrawingWidth()); break;
            case 12: case 18: case 23: case 30: line.value = Fixed3(DrawingHeight()); break;
            case 20: line.value = Fixed3(DrawingWidth() * 0.5); break;
            case 21: line.value = Fixed3(DrawingHeight() * 0.5); break;
            default: break;
        }
        texts.push_back(std::move(line.code));
        texts.push_back(std::move(line.value));
        if (line.number == kLastHeaderLine) break;
    }
    return texts;
}

std::vector<std::string> TVemo_compdata::ReadTemplateRange(int32_t lowest, int32_t highest) const {
    std::vector<std::string> texts;
    const std::size_t limit = std::min(m_template.size(), kTemplateScanLimit);
    for (std::size_t i = 0; i < limit; ++i) {
        TemplateLine line = SplitTemplateLine(m_template[i]);
        if (line.number > highest) break;
        if (line.number < lowest) continue;
        texts.push_back(std::move(line.code));
        texts.push_back(std::move(line.value));
    }
    return texts;
}

void TVemo_compdata::WriteDxf(const std::string& outputPath) const {
    if (m_entities) {
        WriteEntityDxf(*this, *m_entities, outputPath);
        return;
    }
    const std::vector<std::string> header = ReadTemplateHeader();
    const std::vector<std::string> polylineHead = ReadTemplateRange(kPolylineHeadFirst, kPolylineHeadLast);
    std::vector<std::string> vertex = ReadTemplateRange(kVertexFirst, kVertexLast);
    const std::vector<std::string> polylineEnd = ReadTemplateRange(kPolylineEndLine, kPolylineEndLine);
    const std::vector<std::string> trailer = ReadTemplateRange(kTrailerFirst, kTrailerLast);
    // Without these the file would be no DXF drawing at all; the compiled-in
    // template always has them, so only a caller's wrong list gets here.
    const bool headerComplete =
        std::any_of(m_template.begin(), m_template.begin() + std::min(m_template.size(), kTemplateScanLimit),
                    [](const std::string& item) { return SplitTemplateLine(item).number == kLastHeaderLine; });
    if (!headerComplete || polylineHead.empty() || vertex.size() <= kVertexYText || polylineEnd.empty() ||
        trailer.empty()) {
        throw std::invalid_argument("the DXF template lacks the lines the writer needs");
    }

    WriterPolylines lines(m_result.linesPath);
    SafeOutputFile out(outputPath, StagingList());
    const OutputTransform transform{m_result, m_scale};
    for (const std::string& text : header) out.Line(text);
    std::vector<Point> points;
    while (lines.Next(points)) {
        for (const std::string& text : polylineHead) out.Line(text);
        for (const Point& p : points) {
            vertex[kVertexXText] = Fixed3(transform.X(p.x));
            vertex[kVertexYText] = Fixed3(transform.Y(p.y));
            for (const std::string& text : vertex) out.Line(text);
        }
        for (const std::string& text : polylineEnd) out.Line(text);
    }
    for (const std::string& text : trailer) out.Line(text);
    out.Commit();
}

void TVemo_compdata::WriteA10(const std::string& outputPath) const {
    WriterPolylines lines(m_result.linesPath);
    SafeOutputFile out(outputPath, StagingList());
    const OutputTransform transform{m_result, m_scale};
    const auto corner = [&outputPath](double x, double y) {
        std::string columns = A10Column(Fixed3(x), kA10XWidth, texts::kA10FieldX, outputPath);
        return columns + A10Column(Fixed3(y), kA10YWidth, texts::kA10FieldY, outputPath);
    };
    const auto integer = [&outputPath](int64_t value, const char* field) {
        return A10Column(std::to_string(value), kA10IntegerWidth, field, outputPath);
    };

    out.Line(SplitPath(outputPath).stem);

    const double width = DrawingWidth();
    const double height = DrawingHeight();
    out.Line(corner(0.0, 0.0));
    out.Line(corner(0.0, height));
    out.Line(corner(width, height));
    out.Line(corner(width, 0.0));

    std::vector<Point> points;
    for (int64_t polyline = 1; lines.Next(points); ++polyline) {
        const auto count = static_cast<int64_t>(points.size());
        out.Line(PaddedInt(kA10PolylineMark, kA10IntegerWidth) + integer(polyline, texts::kA10FieldPolyline) +
                 integer(count, texts::kA10FieldPointCount));
        for (std::size_t i = 0; i < points.size(); ++i) {
            const int32_t pen = i == 0 ? kA10PenUp : kA10PenDown;
            out.Line(corner(transform.X(points[i].x), transform.Y(points[i].y)) + PaddedInt(pen, kA10IntegerWidth));
        }
    }
    out.Line("99999");
    out.Commit();
}

void TVemo_compdata::WriteSvg(const std::string& outputPath) const {
    if (m_entities) {
        WriteEntitySvg(*this, *m_entities, outputPath);
        return;
    }
    WriterPolylines lines(m_result.linesPath);
    SafeOutputFile out(outputPath, StagingList());
    const OutputTransform transform{m_result, m_scale};
    const SvgNumbers number(*this);

    // A negative ratio gives a drawing left of or above the origin; the
    // viewBox then starts there, because SVG refuses a negative size.
    const double width = DrawingWidth();
    const double height = DrawingHeight();
    const std::string viewBox = number(std::min(width, 0.0)) + " " + number(std::min(height, 0.0)) + " " +
                                number(std::fabs(width)) + " " + number(std::fabs(height));
    // One image pixel wide, the finest line the trace can tell apart.
    const double strokeWidth =
        std::max(std::fabs(m_result.xRatio * m_scale.x), std::fabs(m_result.yRatio * m_scale.y));

    out.Line(R"(<?xml version="1.0" encoding="UTF-8" standalone="no"?>)");
    out.Line(R"(<svg xmlns="http://www.w3.org/2000/svg" version="1.1" baseProfile="full" width=")" +
             number(std::fabs(width)) + R"(" height=")" + number(std::fabs(height)) + R"(" viewBox=")" + viewBox +
             R"(">)");
    out.Line(R"(<g fill="none" stroke="#000000" stroke-width=")" + number(strokeWidth) +
             R"(" stroke-linecap="round" stroke-linejoin="round">)");
    std::vector<Point> points;
    std::string polyline;
    while (lines.Next(points)) {
        polyline = R"(<polyline points=")";
        for (std::size_t i = 0; i < points.size(); ++i) {
            if (i > 0) polyline += ' ';
            polyline += number(transform.X(points[i].x));
            polyline += ',';
            polyline += number(transform.Y(points[i].y));
        }
        polyline += R"("/>)";
        out.Line(polyline);
    }
    out.Line("</g>");
    out.Line("</svg>");
    out.Commit();
}
