// Stage 5 (line segment adjustment): the stage is fed a points file and a
// links file written here, and the polylines it writes are read back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "polyline_file.h"
#include "square_files.h"
#include "trace/Vemotrace_compv5.h"
#include "trace/Vemotrace_records.h"

namespace {

namespace fs = std::filesystem;

using Point = TracePoint;
using Link = std::pair<int32_t, int32_t>;

class Stage5Test : public ::testing::Test {
protected:
    std::string PathOf(const char* name) const { return m_folder.File(name); }

    void WriteInput(const std::vector<Point>& points, const std::vector<Link>& links) {
        RecordWriter pointsFile(PathOf("temp.pxy"));
        pointsFile.Open();
        for (const Point& p : points) {
            pointsFile.PutDouble(p.x);
            pointsFile.PutDouble(p.y);
        }
        pointsFile.Close();
        RecordWriter linesFile(PathOf("temp.lix"));
        linesFile.Open();
        for (const auto& [a, b] : links) {
            linesFile.PutInt32(a);
            linesFile.PutInt32(b);
        }
        linesFile.Close();
    }

    // The polylines written, as the export reads them: to the end of file.
    std::vector<Polyline> Run(const std::vector<Point>& points, const std::vector<Link>& links) {
        WriteInput(points, links);
        TVemotrace_compV5 stage(PathOf("temp.pxy"), PathOf("temp.lix"), static_cast<int32_t>(points.size()),
                                static_cast<int32_t>(links.size()));
        stage.AdjustLines();
        m_polylineCount = stage.PolylineCount();
        m_vertexCount = stage.VertexCount();

        const std::vector<Polyline> polylines = ReadPolylines(PathOf("temp.lix"));
        EXPECT_EQ(static_cast<int32_t>(polylines.size()), m_polylineCount);
        EXPECT_EQ(fs::file_size(PathOf("temp.lix")), 4u * m_polylineCount + 16u * m_vertexCount);
        return polylines;
    }

    // Points (k, 0) for k = 0 .. n - 1 and the path along them.
    static std::pair<std::vector<Point>, std::vector<Link>> StraightPath(int32_t n) {
        std::vector<Point> points;
        std::vector<Link> links;
        for (int32_t k = 0; k < n; ++k) points.push_back({static_cast<double>(k), 0.0});
        for (int32_t k = 0; k + 1 < n; ++k) links.emplace_back(k, k + 1);
        return {points, links};
    }

    square_files::TempFolder m_folder;
    int32_t m_polylineCount = -1;
    int32_t m_vertexCount = -1;
};

TEST_F(Stage5Test, NoLinksRewritesTheLinesFileEmpty) {
    EXPECT_TRUE(Run({{1, 1}, {2, 2}}, {}).empty());
    EXPECT_EQ(m_polylineCount, 0);
    EXPECT_EQ(m_vertexCount, 0);
    EXPECT_TRUE(Run({}, {}).empty());
}

TEST_F(Stage5Test, ALinkBecomesAPolylineFromItsFirstToItsSecondPoint) {
    EXPECT_EQ(Run({{1.5, 2.5}, {4.5, 2.5}}, {{0, 1}}), (std::vector<Polyline>{{{1.5, 2.5}, {4.5, 2.5}}}));
    EXPECT_EQ(m_vertexCount, 2);
}

TEST_F(Stage5Test, WalksFollowDegreeTwoPointsAndStopAtJunctions) {
    // A path 0-1-2 is one polyline; its second link seeds nothing.
    const std::vector<Point> bent{{0, 0}, {5, 3}, {10, 0}};
    EXPECT_EQ(Run(bent, {{0, 1}, {1, 2}}), (std::vector<Polyline>{bent}));

    // A star: three polylines out of the centre.
    const std::vector<Point> star{{5, 5}, {9, 5}, {5, 1}, {1, 5}};
    EXPECT_EQ(Run(star, {{0, 1}, {0, 2}, {0, 3}}),
              (std::vector<Polyline>{{star[0], star[1]}, {star[0], star[2]}, {star[0], star[3]}}));
}

TEST_F(Stage5Test, TriangleLosesItsLongestSideAndTheApexMovesHalfway) {
    // a, b, c, d, e with links (a, b), (a, c), (a, d), (b, c), (b, e).
    const Point a{0, 0}, b{10, 0}, c{5, 4}, d{-5, 0}, e{15, 0};
    EXPECT_EQ(Run({a, b, c, d, e}, {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 4}}),
              (std::vector<Polyline>{{d, a, {5, 2}, b, e}}));
}

TEST_F(Stage5Test, TriangleSideTiesGoToCAThenBC) {
    // Links (a, b), (a, c), (b, c), (a, d), (b, e); a and b have degree 3.
    const Point d{-5, 0}, e{5, -5};
    // |ab| = |ca| = 5 > |bc|: c-a goes, b moves halfway to the line c-a.
    {
        const Point a{0, 0}, b{5, 0}, c{3, 4};
        const std::vector<Polyline> result = Run({a, b, c, d, e}, {{0, 1}, {0, 2}, {1, 2}, {0, 3}, {1, 4}});
        ASSERT_EQ(result.size(), 3u);
        ASSERT_EQ(result[0].size(), 3u);  // d, a, b'
        EXPECT_EQ(result[0][0], d);
        EXPECT_EQ(result[0][1], a);
        EXPECT_NEAR(result[0][2].x, 3.4, 1e-12);
        EXPECT_NEAR(result[0][2].y, 1.2, 1e-12);
        EXPECT_EQ(result[1].back(), c);  // b', c
        EXPECT_EQ(result[2].back(), e);  // b', e
    }
    // |ab| = |bc| = 5 > |ca|: b-c goes, a moves.
    {
        const Point a{0, 0}, b{5, 0}, c{2, 4};
        const std::vector<Polyline> result = Run({a, b, c, d, e}, {{0, 1}, {0, 2}, {1, 2}, {0, 3}, {1, 4}});
        // a' has degree 3 (b, c, d); b has degree 2 (a, e): polylines a'-b-e,
        // a'-c and a'-d, with a off its place.
        ASSERT_EQ(result.size(), 3u);
        EXPECT_EQ(result[0].size(), 3u);
        EXPECT_NE(result[0][0], a);
        EXPECT_EQ(result[0][1], b);
        EXPECT_EQ(result[0][2], e);
    }
}

TEST_F(Stage5Test, TriangleOfDegreeTwoPointsIsWalkedRoundTwice) {
    // Not flattened; the walk crosses the seed link back: 0, 1, 2, 0, 1.
    const std::vector<Point> p{{0, 0}, {4, 3}, {8, 0}};
    EXPECT_EQ(Run(p, {{0, 1}, {0, 2}, {1, 2}}), (std::vector<Polyline>{{p[0], p[1], p[2], p[0], p[1]}}));

    // A ring of four: first point, second point, the rest in ring order,
    // first point, second point.
    const std::vector<Point> q{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    EXPECT_EQ(Run(q, {{0, 1}, {1, 2}, {2, 3}, {3, 0}}), (std::vector<Polyline>{{q[0], q[1], q[2], q[3], q[0], q[1]}}));
}

TEST_F(Stage5Test, NearStraightPointsGoOnlyWhenCloserThanTheTolerance) {
    auto [points, links] = StraightPath(5);
    points[1].y = 0.5;
    EXPECT_EQ(Run(points, links), (std::vector<Polyline>{{points[0], points[2], points[3], points[4]}}));
    points[1].y = 0.6;  // not less than 0.6: kept
    EXPECT_EQ(Run(points, links), (std::vector<Polyline>{points}));
}

TEST_F(Stage5Test, ZigzagIsRemovedByTheSecondPass) {
    const std::vector<Point> p{{0, 0}, {1, 1}, {2, -1}, {3, 0}, {4, 0}, {5, 0}};
    const std::vector<Link> links{{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}};
    EXPECT_EQ(Run(p, links), (std::vector<Polyline>{{p[0], p[3], p[4], p[5]}}));
}

TEST_F(Stage5Test, ShortPolylinesAreWrittenUnchanged) {
    for (int32_t n = 2; n <= 4; ++n) {
        const auto [points, links] = StraightPath(n);
        EXPECT_EQ(Run(points, links), (std::vector<Polyline>{points})) << n << " points";
    }
}

TEST_F(Stage5Test, StraightPathKeepsItsFirstPointAndItsLastThree) {
    const auto [points, links] = StraightPath(10);
    EXPECT_EQ(Run(points, links), (std::vector<Polyline>{{points[0], points[7], points[8], points[9]}}));
}

TEST_F(Stage5Test, ChainsStopAt1000PointsAndTheRestStartsANewPolyline) {
    // Points 0 to 1000 and 1000 to 1499, each thinned to its first point and
    // its last three.
    const auto [points, links] = StraightPath(1500);
    EXPECT_EQ(Run(points, links), (std::vector<Polyline>{{points[0], points[998], points[999], points[1000]},
                                                         {points[1000], points[1497], points[1498], points[1499]}}));
}

TEST_F(Stage5Test, BadInputIsAnErrorAndLeavesTheLinesFileAsItWas) {
    auto expectError = [&](const std::vector<Point>& points, const std::vector<Link>& links, int32_t pointCount,
                           int32_t linkCount, const std::string& path) {
        WriteInput(points, links);
        const auto sizeBefore = fs::file_size(PathOf("temp.lix"));
        TVemotrace_compV5 stage(PathOf("temp.pxy"), PathOf("temp.lix"), pointCount, linkCount);
        try {
            stage.AdjustLines();
            ADD_FAILURE() << "no error";
        } catch (const FileError& error) {
            EXPECT_EQ(error.Path(), path);
        }
        EXPECT_EQ(fs::file_size(PathOf("temp.lix")), sizeBefore);
    };
    const std::vector<Point> two{{0, 0}, {1, 1}};
    expectError(two, {{0, 1}}, 3, 1, PathOf("temp.pxy"));        // fewer points than counted
    expectError(two, {{0, 1}}, 2, 2, PathOf("temp.lix"));        // fewer links than counted
    expectError(two, {{0, 2}}, 2, 1, PathOf("temp.lix"));        // no point 2
    expectError(two, {{-1, 1}}, 2, 1, PathOf("temp.lix"));       // no point -1
    expectError(two, {{1, 1}}, 2, 1, PathOf("temp.lix"));        // a point linked to itself
    fs::remove(PathOf("temp.pxy"));
    TVemotrace_compV5 stage(PathOf("temp.pxy"), PathOf("temp.lix"), 0, 0);
    EXPECT_THROW(stage.AdjustLines(), FileError);                // no points file at all
}

}  // namespace
