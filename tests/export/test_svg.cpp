// The SVG writer: a well-formed SVG 1.1 document whose points are those of
// the text file, under every flip, whatever the process's locale.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include <QString>
#include <QXmlStreamReader>

#include "export/Vemo_compdata.h"
#include "export_test_support.h"

namespace {

using namespace exporttest;

struct SvgDocument {
    std::string version, width, height, viewBox, strokeWidth;
    std::vector<std::string> polylines;  // the points attribute of each <polyline>
};

// Reads `text` with Qt's XML parser; fails the test on any XML error or an
// element the writer has no business writing.
SvgDocument ParseSvg(const std::string& text) {
    SvgDocument svg;
    QXmlStreamReader xml(QByteArray::fromStdString(text));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto attribute = [&](const char* name) { return xml.attributes().value(name).toString().toStdString(); };
        EXPECT_EQ(xml.namespaceUri().toString(), "http://www.w3.org/2000/svg");
        const QString name = xml.name().toString();
        if (name == "svg") {
            svg.version = attribute("version");
            svg.width = attribute("width");
            svg.height = attribute("height");
            svg.viewBox = attribute("viewBox");
        } else if (name == "g") {
            EXPECT_EQ(attribute("fill"), "none");
            svg.strokeWidth = attribute("stroke-width");
        } else if (name == "polyline") {
            svg.polylines.push_back(attribute("points"));
        } else {
            ADD_FAILURE() << "unexpected element " << name.toStdString();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line " << xml.lineNumber();
    return svg;
}

SvgDocument WriteAndParse(const TraceResult& result, const ScratchFolder& scratch) {
    TVemo_compdata data;
    data.SetExportParams(result);
    const std::string path = *data.Export(ExportKind::Svg, "plan.bmp", scratch.Path());
    EXPECT_EQ(path, scratch / "plan.svg");
    const std::string text = ReadFile(path);
    CrLfLines(text);
    return ParseSvg(text);
}

TraceResult WorkedExample(const ScratchFolder& scratch) {
    TraceResult result;
    result.linesPath = scratch / "temp.lix";
    result.imageWidth = 640;
    result.imageHeight = 480;
    result.xRatio = 1.0;
    result.yRatio = 2.0;
    WriteFile(result.linesPath, LinesBytes({{{10, 20}, {30.5, 40.25}}}));
    return result;
}

// The text format's worked example (640 x 480, ratios 1 and 2, the points
// (10, 20) and (30.5, 40.25)) under each flip: the SVG holds the text
// file's points, y downward, and the drawing size as its size. Catches a
// y axis turned upward for SVG, a flip about the lines' extent, a lost ratio.
TEST(WriteSvg, HoldsTheTextFilePointsUnderEveryFlip) {
    struct Case {
        int flipX, flipY;
        const char* points;
    };
    const Case cases[] = {
        {0, 0, "10.000,40.000 30.500,80.500"},
        {0, 1, "10.000,920.000 30.500,879.500"},
        {1, 0, "630.000,40.000 609.500,80.500"},
        {1, 1, "630.000,920.000 609.500,879.500"},
    };
    // A decimal comma in the process's locale must not reach the file.
    const std::string previousLocale = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locales-all is needed";
    for (const Case& c : cases) {
        ScratchFolder scratch;
        TraceResult result = WorkedExample(scratch);
        result.flipX = c.flipX;
        result.flipY = c.flipY;
        const SvgDocument svg = WriteAndParse(result, scratch);
        EXPECT_EQ(svg.version, "1.1");
        EXPECT_EQ(svg.width + " " + svg.height, "640.000 960.000");
        EXPECT_EQ(svg.viewBox, "0.000 0.000 640.000 960.000");
        EXPECT_EQ(svg.strokeWidth, "2.000") << "one image pixel at the larger ratio";
        EXPECT_EQ(svg.polylines, std::vector<std::string>{c.points}) << "flipX " << c.flipX << " flipY " << c.flipY;
    }
    std::setlocale(LC_ALL, previousLocale.c_str());
}

// SVG refuses a negative width; a negative ratio moves the viewBox instead.
// No polylines still makes a document a browser opens.
TEST(WriteSvg, KeepsTheSizePositiveForANegativeRatioAndWritesEmptyDrawings) {
    ScratchFolder scratch;
    TraceResult result = WorkedExample(scratch);
    result.xRatio = -0.5;
    SvgDocument svg = WriteAndParse(result, scratch);
    EXPECT_EQ(svg.width + " " + svg.height, "320.000 960.000");
    EXPECT_EQ(svg.viewBox, "-320.000 0.000 320.000 960.000");
    EXPECT_EQ(svg.polylines, std::vector<std::string>{"-5.000,40.000 -15.250,80.500"});

    WriteFile(result.linesPath, "");
    svg = WriteAndParse(result, scratch);
    EXPECT_EQ(svg.width, "320.000");
    EXPECT_TRUE(svg.polylines.empty());
}

}  // namespace
