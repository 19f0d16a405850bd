// The DXF and SVG files of fitted entities: read back by ezdxf (audit
// clean, the entities and their end points as written, one layer per pen
// with a colour of its own) and by an XML parser, under flips and ratios.
// Each case names the fault it catches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <QString>
#include <QXmlStreamReader>

#include "export/Vemo_compdata.h"
#include "export/Vemo_entitywriters.h"
#include "export_test_support.h"

namespace {

using namespace exporttest;

// A chain LINE - ARC - LINE (the arc from (50, 10) round (50, 30) to
// (70, 30): clockwise on the image), a CIRCLE and a POLYLINE; pens of 1
// and 3 pixels.
std::shared_ptr<FitResult> Entities() {
    auto fitted = std::make_shared<FitResult>();
    FitEntity line;
    line.start = {10, 10};
    line.end = {50, 10};
    FitEntity arc;
    arc.kind = EntityKind::Arc;
    arc.start = {50, 10};
    arc.end = {70, 30};
    arc.centre = {50, 30};
    arc.radius = 20;
    arc.increasing = true;
    FitEntity down;
    down.start = {70, 30};
    down.end = {70, 80};
    down.pen = 1;
    FitEntity circle;
    circle.kind = EntityKind::Circle;
    circle.start = circle.end = {160, 150};
    circle.centre = {150, 150};
    circle.radius = 10;
    circle.pen = 1;
    FitEntity polyline;
    polyline.kind = EntityKind::Polyline;
    polyline.points = {{100, 20}, {101, 22}, {102, 20}, {103, 22}};
    polyline.start = polyline.points.front();
    polyline.end = polyline.points.back();
    fitted->entities = {line, arc, down, circle, polyline};
    fitted->chainBegin = {0, 3, 4, 5};
    fitted->penWidths = {1.0, 3.0};
    fitted->tolerance = 0.75;
    return fitted;
}

struct Written {
    TVemo_compdata data;
    std::string path;
};

std::string Fixed(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

std::string PointText(const Point& p) { return Fixed(p.x) + " " + Fixed(p.y); }

// A run's results on a sheet of 200 x 200 pixels, with these ratios.
TraceResult Sheet(double xRatio, double yRatio) {
    TraceResult result;
    result.imageWidth = 200;
    result.imageHeight = 200;
    result.xRatio = xRatio;
    result.yRatio = yRatio;
    return result;
}

// Faults: an arc's angles measured in image axes (a mirrored arc would
// start elsewhere and leave a gap to its lines), its direction not turned
// by a mirror (the arc would bulge the other way: its middle elsewhere),
// layers not in the table or sharing a colour, the radius not scaled.
TEST(EntityWriters, DxfEntitiesReadBackWithTheirEndsMeetingUnderEveryFlip) {
    const std::shared_ptr<FitResult> fitted = Entities();
    for (const auto& [flipX, flipY, ratio] : {std::tuple{0, 0, 1.0}, {0, 1, 0.5}, {1, 0, 2.0}, {1, 1, -1.0}}) {
        SCOPED_TRACE("flips " + std::to_string(flipX) + std::to_string(flipY) + " ratio " + Fixed(ratio));
        ScratchFolder scratch;
        TraceResult result;
        result.linesPath = scratch / "absent.lix";  // entities need no lines file
        result.imageWidth = 200;
        result.imageHeight = 200;
        result.flipX = flipX;
        result.flipY = flipY;
        result.xRatio = result.yRatio = ratio;
        TVemo_compdata data;
        data.SetExportParams(result);
        data.SetEntities(fitted);
        const std::string path = *data.Export(ExportKind::Dxf, "plan.bmp", scratch.Path());
        CrLfLines(ReadFile(path));
        std::istringstream report(CheckDxfWithEzdxf(path, true));
        std::vector<std::string> lines;
        for (std::string line; std::getline(report, line);) lines.push_back(line);

        const auto out = [&](const Point& p) { return PointText(data.OutputPoint(p)); };
        std::map<std::string, std::string> colours;
        std::vector<std::string> entities;
        for (const std::string& line : lines) {
            if (line.rfind("LAYER ", 0) == 0) {
                std::istringstream fields(line.substr(6));
                std::string name, colour;
                fields >> name >> colour;
                colours[name] = colour;
            } else if (line.rfind("polylines=", 0) != 0) {
                entities.push_back(line);
            }
        }
        // The pens' widths as the drawing has them, in pixels.
        const std::string thin = "W" + FormatLength(std::fabs(ratio), OutputUnit::Px);
        const std::string thick = "W" + FormatLength(3 * std::fabs(ratio), OutputUnit::Px);
        ASSERT_EQ(colours.count(thin), 1u);
        ASSERT_EQ(colours.count(thick), 1u);
        EXPECT_NE(colours[thin], colours[thick]);
        ASSERT_EQ(entities.size(), 5u);
        EXPECT_EQ(entities[0], "LINE " + thin + " " + out({10, 10}) + " " + out({50, 10}));
        EXPECT_EQ(entities[2], "LINE " + thick + " " + out({70, 30}) + " " + out({70, 80}));
        EXPECT_EQ(entities[3], "CIRCLE " + thick + " " + out({150, 150}) + " " + Fixed(10 * std::fabs(ratio)));
        EXPECT_EQ(entities[4], "POLYLINE " + thin + " 4");
        // The arc: centre, radius, and from one line's end through its
        // middle to the other's, in whichever order its angles run.
        const std::string middle = out(PointOnCurve(fitted->entities[1], 0.5));
        const std::string head = "ARC " + thin + " " + out({50, 30}) + " " + Fixed(20 * std::fabs(ratio)) + " ";
        EXPECT_TRUE(entities[1] == head + out({50, 10}) + " " + middle + " " + out({70, 30}) ||
                    entities[1] == head + out({70, 30}) + " " + middle + " " + out({50, 10}))
            << entities[1] << "\nmiddle " << middle;
    }
}

// Faults: a circle written as a circle where x and y scale differently
// (it is an ellipse there), the polyline's points not transformed.
TEST(EntityWriters, UnequalRatiosWriteCurvesAsPolylines) {
    ScratchFolder scratch;
    const TraceResult result = Sheet(0.5, 1.0);
    TVemo_compdata data;
    data.SetExportParams(result);
    data.SetEntities(Entities());
    const std::string report = CheckDxfWithEzdxf(*data.Export(ExportKind::Dxf, "plan.bmp", scratch.Path()), true);
    EXPECT_EQ(report.find("ARC"), std::string::npos);
    EXPECT_EQ(report.find("CIRCLE"), std::string::npos);
    EXPECT_NE(report.find("LINE W1.0 5.000 10.000 25.000 10.000"), std::string::npos) << report;
}

// Faults: layers named in pixels when the drawing is in millimetres, two
// pens that read alike in the unit giving a layer table with one name
// twice (ezdxf's audit repairs it), the table's count not matching.
TEST(EntityWriters, PenLayersAreNamedAfterTheirWidthInTheOutputUnit) {
    ScratchFolder scratch;
    const TraceResult result = Sheet(1.0, 1.0);
    TVemo_compdata data;
    data.SetExportParams(result);
    data.SetOutputScale(*ScaleFor(OutputUnit::Mm, 254, 254));  // 0.1 mm a pixel
    std::shared_ptr<FitResult> fitted = Entities();
    fitted->penWidths = {5.0, 5.02, 10.0};  // 0.50, 0.50 and 1.00 mm
    fitted->entities[2].pen = 2;
    data.SetEntities(fitted);
    const std::string report = CheckDxfWithEzdxf(*data.Export(ExportKind::Dxf, "plan.bmp", scratch.Path()), true);
    std::istringstream lines(report);
    std::vector<std::string> layers;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("LAYER W", 0) == 0) layers.push_back(line.substr(6, line.find(' ', 6) - 6));
    }
    EXPECT_EQ(layers, (std::vector<std::string>{"W0.50", "W1.00"})) << report;
    const std::string down = PointText(data.OutputPoint({70, 30})) + " " + PointText(data.OutputPoint({70, 80}));
    EXPECT_NE(report.find("LINE W1.00 " + down), std::string::npos) << report;
    EXPECT_NE(report.find("CIRCLE W0.50 " + PointText(data.OutputPoint({150, 150})) + " 1.000"), std::string::npos)
        << report;
}

// Faults: an element SVG does not know or bad XML, the stroke width of the
// pen missing or unscaled, the arc's flags wrong (its end elsewhere).
TEST(EntityWriters, SvgHasALineArcCircleAndPolylineWithTheirPensWidths) {
    ScratchFolder scratch;
    const TraceResult result = Sheet(2.0, 2.0);
    TVemo_compdata data;
    data.SetExportParams(result);
    data.SetEntities(Entities());
    const std::string text = ReadFile(*data.Export(ExportKind::Svg, "plan.bmp", scratch.Path()));
    CrLfLines(text);
    QXmlStreamReader xml(QByteArray::fromStdString(text));
    std::vector<std::string> seen;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto attribute = [&](const char* name) { return xml.attributes().value(name).toString().toStdString(); };
        const std::string name = xml.name().toString().toStdString();
        if (name == "svg" || name == "g") continue;
        seen.push_back(name + " " + attribute("stroke-width"));
        if (name == "path") {
            EXPECT_EQ(attribute("d"), "M 100.000,20.000 A 40.000,40.000 0 0 1 140.000,60.000");
        }
        if (name == "circle") {
            EXPECT_EQ(attribute("r"), "20.000");
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(seen, (std::vector<std::string>{"line 2.000", "path 2.000", "line 6.000", "circle 6.000",
                                              "polyline 2.000"}));
}

// Faults: three decimals in every unit (a coordinate in inches at 600 dpi
// good to 0.3 px, a radius to 0.3 px), an arc's angles cut so that its
// ends leave their lines, trailing zeros or "-0" written.
TEST(EntityWriters, DxfNumbersKeepAHundredthOfAPixelInEveryUnit) {
    std::shared_ptr<FitResult> fitted = Entities();
    fitted->entities[0].start = {10.1234, 10.0004};  // the LINE, and the ARC ending where it ends
    fitted->entities[0].end = fitted->entities[1].start = {50.0037, 10.0021};
    fitted->entities[1].radius = distance(fitted->entities[1].start, fitted->entities[1].centre);
    fitted->entities[1].end = {50 + fitted->entities[1].radius, 30};
    fitted->entities[2].start = fitted->entities[1].end;
    fitted->entities[3].radius = 10.0047;
    for (const OutputUnit unit : {OutputUnit::Px, OutputUnit::Mm, OutputUnit::In}) {
        SCOPED_TRACE(UnitName(unit));
        ScratchFolder scratch;
        TVemo_compdata data;
        data.SetExportParams(Sheet(1.0, 1.0));
        data.SetOutputScale(*ScaleFor(unit, 600, 600));
        data.SetEntities(fitted);
        const std::string path = *data.Export(ExportKind::Dxf, "plan.bmp", scratch.Path());
        EXPECT_EQ(CheckDxfWithEzdxf(path, false).rfind("polylines=", 0), 0u);
        const std::vector<std::string> lines = CrLfLines(ReadFile(path));
        const auto entities = std::find(lines.begin(), lines.end(), "ENTITIES");
        ASSERT_NE(entities, lines.end());
        // Each entity's groups, and no number with a trailing zero.
        std::vector<std::map<int, std::string>> groups;
        for (auto at = entities + 1; at + 1 < lines.end() && *(at + 1) != "ENDSEC"; at += 2) {
            const int code = std::stoi(*at);
            if (code == 0) groups.emplace_back();
            if (groups.empty()) continue;
            groups.back()[code] = *(at + 1);
            if (code >= 10 && code <= 51) {
                const std::string& value = *(at + 1);
                EXPECT_TRUE(value.find('.') == std::string::npos || value.back() != '0') << value;
                EXPECT_NE(value, "-0");
            }
        }
        ASSERT_GE(groups.size(), 4u);
        const double pixel = unit == OutputUnit::Px ? 1.0 : (unit == OutputUnit::Mm ? 25.4 : 1.0) / 600;
        const auto number = [&](const std::map<int, std::string>& entity, int code) { return std::stod(entity.at(code)); };
        const auto near = [&](double written, double exact) { EXPECT_LE(std::fabs(written - exact), 0.01 * pixel); };
        const Point a = data.OutputPoint(fitted->entities[0].start), b = data.OutputPoint(fitted->entities[0].end);
        ASSERT_EQ(groups[0].at(0), "LINE");
        near(number(groups[0], 10), a.x);
        near(number(groups[0], 20), a.y);
        near(number(groups[0], 11), b.x);
        near(number(groups[0], 21), b.y);
        EXPECT_EQ(groups[0].at(30), "0");
        // The arc's end as its angles put it, on the line's end.
        ASSERT_EQ(groups[1].at(0), "ARC");
        const Point centre{number(groups[1], 10), number(groups[1], 20)};
        const double radius = number(groups[1], 40);
        near(radius, fitted->entities[1].radius * pixel);
        double nearest = HUGE_VAL;
        for (const int code : {50, 51}) {
            const double angle = number(groups[1], code) * std::numbers::pi / 180;
            nearest = std::min(nearest, distance({centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle)}, b));
        }
        EXPECT_LE(nearest, 0.02 * pixel);  // the centre's, radius' and angle's roundings
        ASSERT_EQ(groups[3].at(0), "CIRCLE");
        near(number(groups[3], 40), 10.0047 * pixel);
    }
}

// Faults: the SVG's coordinates with three decimals in every unit (in
// inches at 600 dpi a point rounded by up to 0.3 px), in either writer; or
// the pixel SVG's numbers no longer the three decimals earlier files have.
TEST(EntityWriters, SvgNumbersKeepAHundredthOfAPixelInEveryUnit) {
    const Point a{10.1234, 10.0004}, b{50.0037, 10.0021};
    const std::regex first(R"((?:points="|x1=")([-0-9.]+)(?:,|" y1=")([-0-9.]+))");
    for (const OutputUnit unit : {OutputUnit::Px, OutputUnit::Mm, OutputUnit::In}) {
        for (const bool entities : {false, true}) {
            SCOPED_TRACE(std::string(UnitName(unit)) + (entities ? ", entities" : ", polylines"));
            ScratchFolder scratch;
            TraceResult result = Sheet(1.0, 1.0);
            result.linesPath = scratch / "temp.lix";
            WriteFile(result.linesPath, LinesBytes({{{a.x, a.y}, {b.x, b.y}}}));
            TVemo_compdata data;
            data.SetExportParams(result);
            data.SetOutputScale(*ScaleFor(unit, 600, 600));
            if (entities) {
                std::shared_ptr<FitResult> fitted = Entities();
                fitted->entities[0].start = a;
                data.SetEntities(fitted);
            }
            const std::string text = ReadFile(*data.Export(ExportKind::Svg, "plan.bmp", scratch.Path()));
            std::smatch numbers;
            ASSERT_TRUE(std::regex_search(text, numbers, first));
            const Point exact = data.OutputPoint(a);
            const double pixel = unit == OutputUnit::Px ? 1.0 : (unit == OutputUnit::Mm ? 25.4 : 1.0) / 600;
            EXPECT_LE(std::fabs(std::stod(numbers[1]) - exact.x), 0.01 * pixel) << numbers[1];
            EXPECT_LE(std::fabs(std::stod(numbers[2]) - exact.y), 0.01 * pixel) << numbers[2];
            if (unit == OutputUnit::Px) {
                EXPECT_EQ(numbers[1].str() + " " + numbers[2].str(), PointText(exact));
            }
        }
    }
}

}  // namespace
