// Vemo_entitywriters: DXF and SVG from fitted entities (layouts in the header).
#include "export/Vemo_entitywriters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <string_view>

#include "base/Vemo_safefile.h"
#include "common/Vemo_common.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr const char* kLineEnd = "\r\n";

using namespace dxftemplate;  // the template's lines, as the polyline writer selects them

// Red, blue, green, magenta, cyan, yellow, orange, grey: apart on a white
// and on a black background.
constexpr std::array<int, TVemotrace_fit::kMaxPens> kPenColours = {1, 5, 3, 6, 4, 2, 30, 8};

// `value` with `decimals` decimals, its trailing zeros (and a bare point)
// dropped, and never "-0".
std::string Trimmed(double value, int decimals) {
    std::string text = FormatNumber(("%." + std::to_string(decimals) + "lf").c_str(), value);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return text;
}

// The DXF's numbers keep a hundredth of an image pixel, whatever the unit:
// three decimals are a hundredth of a pixel's width in millimetres only
// below 400 dpi, and 0.6 of one in inches at 600 dpi.
constexpr double kPixelFraction = 0.01;
constexpr int kMaxDecimals = 12;

// The decimals that resolve `step` (in the unit written).
int DecimalsFor(double step) {
    if (!(step > 0) || !std::isfinite(step)) return 3;
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, kMaxDecimals);
}

class Output {
public:
    explicit Output(const std::string& path) : m_file(path) {}
    void Line(std::string_view text) {
        m_file.Write(text);
        m_file.Write(kLineEnd);
    }
    // A DXF group: the code right-aligned in three characters, its value.
    void Group(int code, std::string_view value) {
        std::string field = std::to_string(code);
        if (field.size() < 3) field.insert(0, 3 - field.size(), ' ');
        Line(field);
        Line(value);
    }
    void Commit() { m_file.Commit(); }

private:
    TVemo_safefile m_file;
};

// How the output transform treats lengths and turns: its scale in x and y
// and whether it mirrors (an odd number of flips and negative ratios).
struct Scale {
    double x = 1.0;
    double y = 1.0;
    bool Uniform() const { return std::fabs(std::fabs(x) - std::fabs(y)) <= 1e-9 * std::max(std::fabs(x), std::fabs(y)); }
    double Length() const { return std::max(std::fabs(x), std::fabs(y)); }
    double Pixel() const { return std::min(std::fabs(x), std::fabs(y)); }  // the finer axis' pixel
};

Scale TransformScale(const TVemo_compdata& data) {
    const Point o = data.OutputPoint({0, 0});
    const Point ex = data.OutputPoint({1, 0});
    const Point ey = data.OutputPoint({0, 1});
    return {ex.x - o.x, ey.y - o.y};
}

}  // namespace

SvgNumbers::SvgNumbers(const TVemo_compdata& data)
    : m_format("%." + std::to_string(std::max(3, DecimalsFor(kPixelFraction * TransformScale(data).Pixel()))) + "lf") {}

std::string SvgNumbers::operator()(double value) const { return FormatNumber(m_format.c_str(), value); }

namespace {

double wrapped(double angle) {
    angle = std::fmod(angle, 2 * kPi);
    return angle < 0 ? angle + 2 * kPi : angle;
}

// An arc in output coordinates: from `from` (angle) counter-clockwise in
// the output's axes (the angle increasing) by `sweep`.
struct OutputArc {
    Point centre;
    double radius = 0;
    Point start, end;  // start: where the increasing sweep begins
    double from = 0;
    double sweep = 0;
};

OutputArc ArcInOutput(const TVemo_compdata& data, const FitEntity& arc, const Scale& scale) {
    OutputArc out;
    out.centre = data.OutputPoint(arc.centre);
    out.radius = arc.radius * scale.Length();
    Point start = data.OutputPoint(arc.start), end = data.OutputPoint(arc.end);
    // Mirroring turns the direction round: decide it on a point between.
    const Point middle = data.OutputPoint(PointOnCurve(arc, 0.5));
    const auto angle = [&](const Point& p) { return std::atan2(p.y - out.centre.y, p.x - out.centre.x); };
    const double as = angle(start), ae = angle(end), am = angle(middle);
    if (!(wrapped(am - as) <= wrapped(ae - as))) std::swap(start, end);
    out.start = start;
    out.end = end;
    out.from = angle(start);
    out.sweep = wrapped(angle(end) - out.from);
    if (out.sweep == 0) out.sweep = 2 * kPi;
    return out;
}

double Degrees(double radians) { return wrapped(radians) * 180.0 / kPi; }

// The points of an entity in output coordinates, arcs and circles as
// chords within the tolerance.
std::vector<Point> OutputPoints(const TVemo_compdata& data, const FitEntity& entity, double tolerance) {
    std::vector<Point> points;
    switch (entity.kind) {
        case EntityKind::Line: points = {entity.start, entity.end}; break;
        case EntityKind::Arc:
        case EntityKind::Circle: points = FlattenCurve(entity, tolerance); break;
        case EntityKind::Polyline: points = entity.points; break;
    }
    for (Point& p : points) p = data.OutputPoint(p);
    return points;
}

// The layer of each pen: its width in the drawing's own coordinates (the
// output unit, under the x/y ratios as the SVG's stroke widths are).
std::vector<std::string> PenLayers(const TVemo_compdata& data, const FitResult& fitted, const Scale& scale) {
    std::vector<std::string> names;
    for (const double width : fitted.penWidths) {
        names.push_back(PenLayerName(width * scale.Length(), data.GetOutputScale().unit));
    }
    return names;
}

// Inserts one LAYER per pen layer name into the header's LAYER table and
// counts them in its group 70. Two pens whose widths read alike in the
// output unit share a layer (and the first one's colour): a table with a
// name twice is one that readers refuse or repair.
void AddPenLayers(std::vector<std::string>& header, const std::vector<std::string>& penLayers) {
    for (std::size_t k = 0; k + 5 < header.size(); k += 2) {
        if (!(header[k] == "  0" && header[k + 1] == "TABLE" && header[k + 3] == "LAYER")) continue;
        std::size_t end = k + 4;
        while (end + 1 < header.size() && !(header[end] == "  0" && header[end + 1] == "ENDTAB")) end += 2;
        if (end + 1 >= header.size()) return;
        int existing = 0;
        for (std::size_t j = k + 4; j < end; j += 2) existing += header[j] == "  0" && header[j + 1] == "LAYER";
        std::vector<std::string> layers;
        int added = 0;
        for (std::size_t pen = 0; pen < penLayers.size(); ++pen) {
            if (std::find(penLayers.begin(), penLayers.begin() + static_cast<std::ptrdiff_t>(pen), penLayers[pen]) !=
                penLayers.begin() + static_cast<std::ptrdiff_t>(pen)) {
                continue;
            }
            ++added;
            for (const std::string& text : {std::string("  0"), std::string("LAYER"), std::string("  2"), penLayers[pen],
                                            std::string(" 70"), std::string("    64"), std::string(" 62"),
                                            std::to_string(PenColour(pen)), std::string("  6"), std::string("CONTINUOUS")}) {
                layers.push_back(text);
            }
        }
        if (header[k + 4] == " 70") header[k + 5] = std::to_string(existing + added);
        header.insert(header.begin() + static_cast<std::ptrdiff_t>(end), layers.begin(), layers.end());
        return;
    }
}

}  // namespace

// Appended rather than `"W" + ...`: GCC 12 at -O2/-O3 warns of an overlapping copy in that
// operator (-Wrestrict, a false alarm) and the Release build with warnings as errors stops on it.
std::string PenLayerName(double width, OutputUnit unit) {
    std::string name = "W";
    name += FormatLength(width, unit);
    return name;
}

int PenColour(std::size_t pen) { return kPenColours[pen % kPenColours.size()]; }

void WriteEntityDxf(const TVemo_compdata& data, const FitResult& fitted, const std::string& outputPath) {
    std::vector<std::string> header = data.ReadTemplateHeader();
    const std::vector<std::string> polylineHead = data.ReadTemplateRange(kPolylineHeadFirst, kPolylineHeadLast);
    const std::vector<std::string> vertex = data.ReadTemplateRange(kVertexFirst, kVertexLast);
    const std::vector<std::string> polylineEnd = data.ReadTemplateRange(kPolylineEndLine, kPolylineEndLine);
    const std::vector<std::string> trailer = data.ReadTemplateRange(kTrailerFirst, kTrailerLast);
    if (header.empty() || polylineHead.empty() || vertex.size() < 8 || polylineEnd.empty() || trailer.empty()) {
        throw std::invalid_argument("the DXF template lacks the lines the writer needs");
    }
    const Scale scale = TransformScale(data);
    const std::vector<std::string> penLayers = PenLayers(data, fitted, scale);
    AddPenLayers(header, penLayers);

    const int decimals = DecimalsFor(kPixelFraction * scale.Pixel());
    const auto number = [&](double value) { return Trimmed(value, decimals); };
    // An arc's angles in degrees such that its ends move by no more.
    const auto angle = [&](double degrees, double radius) {
        return Trimmed(degrees, std::max(3, DecimalsFor(kPixelFraction * scale.Pixel() / radius * 180 / kPi)));
    };

    Output out(outputPath);
    for (const std::string& text : header) out.Line(text);
    const auto writePolyline = [&](const std::vector<Point>& points, const std::string& layer) {
        // The polyline writer's groups, on the pen's layer and in its colour.
        for (std::size_t k = 0; k + 1 < polylineHead.size(); k += 2) {
            out.Line(polylineHead[k]);
            if (polylineHead[k] == "  8") out.Line(layer);
            else if (polylineHead[k] == " 62") out.Line("   256");
            else out.Line(polylineHead[k + 1]);
        }
        std::vector<std::string> texts = vertex;
        for (std::size_t k = 0; k + 1 < texts.size(); k += 2) {
            if (texts[k] == "  8") texts[k + 1] = layer;
        }
        for (const Point& p : points) {
            for (std::size_t k = 0; k + 1 < texts.size(); k += 2) {
                if (texts[k] == " 10") texts[k + 1] = number(p.x);
                if (texts[k] == " 20") texts[k + 1] = number(p.y);
            }
            for (const std::string& text : texts) out.Line(text);
        }
        for (const std::string& text : polylineEnd) out.Line(text);
    };
    for (const FitEntity& entity : fitted.entities) {
        const std::string& layer = penLayers.at(static_cast<std::size_t>(entity.pen));
        const bool curve = entity.kind == EntityKind::Arc || entity.kind == EntityKind::Circle;
        if (entity.kind == EntityKind::Polyline || (curve && !scale.Uniform())) {
            writePolyline(OutputPoints(data, entity, fitted.tolerance), layer);
            continue;
        }
        if (entity.kind == EntityKind::Line) {
            const Point a = data.OutputPoint(entity.start), b = data.OutputPoint(entity.end);
            out.Group(0, "LINE");
            out.Group(8, layer);
            out.Group(10, number(a.x));
            out.Group(20, number(a.y));
            out.Group(30, "0");
            out.Group(11, number(b.x));
            out.Group(21, number(b.y));
            out.Group(31, "0");
            continue;
        }
        const OutputArc arc = ArcInOutput(data, entity, scale);
        out.Group(0, entity.kind == EntityKind::Circle ? "CIRCLE" : "ARC");
        out.Group(8, layer);
        out.Group(10, number(arc.centre.x));
        out.Group(20, number(arc.centre.y));
        out.Group(30, "0");
        out.Group(40, number(arc.radius));
        if (entity.kind == EntityKind::Arc) {
            out.Group(50, angle(Degrees(arc.from), arc.radius));
            out.Group(51, angle(Degrees(arc.from + arc.sweep), arc.radius));
        }
    }
    for (const std::string& text : trailer) out.Line(text);
    out.Commit();
}

void WriteEntitySvg(const TVemo_compdata& data, const FitResult& fitted, const std::string& outputPath) {
    const Scale scale = TransformScale(data);
    const SvgNumbers number(data);
    const double width = data.DrawingWidth();
    const double height = data.DrawingHeight();
    const std::string viewBox = number(std::min(width, 0.0)) + " " + number(std::min(height, 0.0)) + " " +
                                number(std::fabs(width)) + " " + number(std::fabs(height));
    Output out(outputPath);
    out.Line(R"(<?xml version="1.0" encoding="UTF-8" standalone="no"?>)");
    out.Line(R"(<svg xmlns="http://www.w3.org/2000/svg" version="1.1" baseProfile="full" width=")" +
             number(std::fabs(width)) + R"(" height=")" + number(std::fabs(height)) + R"(" viewBox=")" + viewBox +
             R"(">)");
    out.Line(R"(<g fill="none" stroke="#000000" stroke-linecap="round" stroke-linejoin="round">)");
    for (const FitEntity& entity : fitted.entities) {
        const std::string stroke = R"( stroke-width=")" +
                                   number(fitted.penWidths.at(static_cast<std::size_t>(entity.pen)) * scale.Length()) +
                                   R"("/>)";
        if (entity.kind == EntityKind::Line) {
            const Point a = data.OutputPoint(entity.start), b = data.OutputPoint(entity.end);
            out.Line(R"(<line x1=")" + number(a.x) + R"(" y1=")" + number(a.y) + R"(" x2=")" + number(b.x) +
                     R"(" y2=")" + number(b.y) + "\"" + stroke);
        } else if (entity.kind == EntityKind::Circle && scale.Uniform()) {
            const Point c = data.OutputPoint(entity.centre);
            out.Line(R"(<circle cx=")" + number(c.x) + R"(" cy=")" + number(c.y) + R"(" r=")" +
                     number(entity.radius * scale.Length()) + "\"" + stroke);
        } else if (entity.kind == EntityKind::Arc && scale.Uniform()) {
            const OutputArc arc = ArcInOutput(data, entity, scale);
            // SVG's sweep flag 1 runs with the angle increasing, as OutputArc does.
            out.Line(R"(<path d="M )" + number(arc.start.x) + "," + number(arc.start.y) + " A " + number(arc.radius) +
                     "," + number(arc.radius) + " 0 " + (arc.sweep > kPi ? "1" : "0") + " 1 " + number(arc.end.x) +
                     "," + number(arc.end.y) + "\"" + stroke);
        } else {
            std::string points;
            for (const Point& p : OutputPoints(data, entity, fitted.tolerance)) {
                if (!points.empty()) points += ' ';
                points += number(p.x) + "," + number(p.y);
            }
            out.Line(R"(<polyline points=")" + points + "\"" + stroke);
        }
    }
    out.Line("</g>");
    out.Line("</svg>");
    out.Commit();
}
