// The whole trace pipeline on small drawings: the counts that pass between
// the stages, the files they leave, the results handed out, the progress
// texts, and a clean stop when an intermediate file cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ascii_bitmap.h"
#include "common/Vemo_texts.h"
#include "ordinary_user.h"
#include "polyline_file.h"
#include "trace/Vemotrace_compv.h"
#include "trace/Vemotrace_records.h"

namespace {

namespace fs = std::filesystem;

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vemo-pipeline-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(m_dir);
    }

    std::string ImagePath() const { return (m_dir / "drawing.bmp").string(); }
    std::string PathOf(const char* name) const { return (m_dir / name).string(); }

    // Traces the bitmap as the image `imagePath`, collecting the progress.
    TraceResult Trace(const AsciiBitmap& bitmap, const std::string& imagePath) {
        m_status.clear();
        m_pipeline = std::make_unique<TVemotrace_compV>(
            imagePath, [this](std::string_view text) { m_status.emplace_back(text); });
        m_pipeline->RunTrace(bitmap.View());
        return m_pipeline->CollectResults();
    }

    // What every run must satisfy, whatever the drawing.
    void ExpectConsistent(const TraceResult& result, const AsciiBitmap& bitmap) {
        SCOPED_TRACE(bitmap.Text());
        EXPECT_EQ(result.imageWidth, bitmap.Width());
        EXPECT_EQ(result.imageHeight, bitmap.Height());
        EXPECT_EQ(result.memberCount, result.squareCount);  // every square in exactly one group
        EXPECT_EQ(m_pipeline->PointCount(), result.groupCount);
        EXPECT_EQ(fs::file_size(result.squaresPath), 16u * result.squareCount);
        EXPECT_EQ(fs::file_size(result.groupsPath), 8u * result.memberCount);
        EXPECT_EQ(fs::file_size(result.pointsPath), 16u * m_pipeline->PointCount());
        EXPECT_EQ(fs::file_size(result.linesPath),
                  4u * m_pipeline->PolylineCount() + 16u * m_pipeline->VertexCount());
        const std::vector<Polyline> polylines = ReadPolylines(result.linesPath);
        EXPECT_EQ(static_cast<int32_t>(polylines.size()), m_pipeline->PolylineCount());
        for (const Polyline& polyline : polylines) {
            EXPECT_GE(polyline.size(), 2u);
            for (const TracePoint& v : polyline) {
                EXPECT_TRUE(v.x >= 0 && v.x <= bitmap.Width() && v.y >= 0 && v.y <= bitmap.Height())
                    << v.x << ", " << v.y;
            }
        }
        EXPECT_EQ(result.flipX, 0);
        EXPECT_EQ(result.flipY, 0);
        EXPECT_EQ(result.xRatio, 0.0);
        EXPECT_EQ(result.yRatio, 0.0);
    }

    const std::vector<std::string> kAllSteps{texts::kStatusAnalysing, texts::kStatusSynthesising,
                                             texts::kStatusAdjusting};

    fs::path m_dir;
    std::unique_ptr<TVemotrace_compV> m_pipeline;
    std::vector<std::string> m_status;
};

TEST_F(PipelineTest, SmallDrawingsPassConsistentCountsAndFilesBetweenTheStages) {
    const std::vector<AsciiBitmap> drawings{
        AsciiBitmap({
            "..............",
            ".###..........",
            ".###..........",
            ".###..........",
            ".###..........",
            ".###..........",
            ".###########..",
            ".###########..",
            "..............",
        }),
        AsciiBitmap({
            "#.....#.....#",
            "......#......",
            "......#......",
            "#############",
            "......#......",
            "......#......",
            "#.....#.....#",
        }),
        AsciiBitmap({
            "..#######...",
            ".##.....##..",
            "##.......##.",
            "#.........##",
            "##.......##.",
            ".##.....##..",
            "..#######...",
        }),
    };
    for (const AsciiBitmap& drawing : drawings) {
        const TraceResult result = Trace(drawing, ImagePath());
        EXPECT_EQ(m_status, kAllSteps);
        EXPECT_GT(result.squareCount, 0);
        EXPECT_GT(m_pipeline->PolylineCount(), 0);
        ExpectConsistent(result, drawing);
    }

    // Single pixels that meet only at corners stay points without links.
    const AsciiBitmap checkerboard({
        "#.#.#.#",
        ".#.#.#.",
        "#.#.#.#",
        ".#.#.#.",
    });
    const TraceResult result = Trace(checkerboard, ImagePath());
    ExpectConsistent(result, checkerboard);
    EXPECT_EQ(result.groupCount, 14);
    EXPECT_EQ(m_pipeline->LinkCount(), 0);
    EXPECT_EQ(m_pipeline->PolylineCount(), 0);
}

TEST_F(PipelineTest, AStraightBarBecomesOneCentreLine) {
    AsciiBitmap bar(40, 9);
    bar.FillBox(5, 3, 34, 5);  // rows 3 to 5: centre line at y = 4.5
    const TraceResult result = Trace(bar, ImagePath());
    ExpectConsistent(result, bar);
    const std::vector<Polyline> polylines = ReadPolylines(result.linesPath);
    ASSERT_EQ(polylines.size(), 1u);
    for (const TracePoint& v : polylines[0]) EXPECT_EQ(v.y, 4.5);
    const double left = std::min(polylines[0].front().x, polylines[0].back().x);
    const double right = std::max(polylines[0].front().x, polylines[0].back().x);
    EXPECT_LT(left, 8.0);
    EXPECT_GT(right, 32.0);
}

TEST_F(PipelineTest, ResultsNameTheFilesInTheImageFolderLinesBeforePoints) {
    const AsciiBitmap drawing({"....", ".##.", ".##.", "...."});
    const TraceResult result = Trace(drawing, ImagePath());
    const std::string folder = m_dir.string() + "/";
    EXPECT_EQ(result.squaresPath, folder + "temp.sqr");
    EXPECT_EQ(result.groupsPath, folder + "temp.sqo");
    EXPECT_EQ(result.linesPath, folder + "temp.lix");
    EXPECT_EQ(result.pointsPath, folder + "temp.pxy");
    EXPECT_EQ(result.squareCount, 1);
    EXPECT_EQ(result.groupCount, 1);
    EXPECT_EQ(result.memberCount, 1);
    EXPECT_EQ(result.imageWidth, 4);
    EXPECT_EQ(result.imageHeight, 4);
}

TEST_F(PipelineTest, ABareImageNamePutsTheFilesInTheCurrentDirectory) {
    const fs::path previous = fs::current_path();
    fs::current_path(m_dir);
    const AsciiBitmap drawing({"##....##"});
    TraceResult result;
    EXPECT_NO_THROW(result = Trace(drawing, "drawing.bmp"));
    fs::current_path(previous);
    EXPECT_EQ(result.squaresPath, "temp.sqr");
    EXPECT_EQ(result.linesPath, "temp.lix");
    EXPECT_TRUE(fs::exists(m_dir / "temp.sqr"));
    EXPECT_TRUE(fs::exists(m_dir / "temp.sqo"));
    EXPECT_TRUE(fs::exists(m_dir / "temp.pxy"));
    EXPECT_TRUE(fs::exists(m_dir / "temp.lix"));
}

TEST_F(PipelineTest, AnImageWithoutInkRunsThroughAllStages) {
    // Squares and groups files of an earlier trace are neither read nor
    // changed; points and lines files are created empty.
    { std::ofstream(PathOf("temp.sqr")) << "stale squares"; }
    { std::ofstream(PathOf("temp.sqo")) << "stale groups"; }
    for (const AsciiBitmap& blank : {AsciiBitmap(12, 7), AsciiBitmap(0, 0)}) {
        const TraceResult result = Trace(blank, ImagePath());
        EXPECT_EQ(m_status, kAllSteps);
        EXPECT_EQ(result.squareCount, 0);
        EXPECT_EQ(result.groupCount, 0);
        EXPECT_EQ(result.memberCount, 0);
        EXPECT_EQ(m_pipeline->PolylineCount(), 0);
        EXPECT_EQ(fs::file_size(PathOf("temp.pxy")), 0u);
        EXPECT_EQ(fs::file_size(PathOf("temp.lix")), 0u);
        EXPECT_EQ(fs::file_size(PathOf("temp.sqr")), 13u);
        EXPECT_EQ(fs::file_size(PathOf("temp.sqo")), 12u);
    }
}

TEST_F(PipelineTest, ASecondTraceInTheSameFolderReplacesTheFiles) {
    AsciiBitmap large(30, 30);
    large.FillBox(2, 2, 27, 4);
    large.FillBox(2, 2, 4, 27);
    Trace(large, ImagePath());
    const AsciiBitmap small({"....", ".###", "...."});
    const TraceResult result = Trace(small, (m_dir / "other.bmp").string());
    ExpectConsistent(result, small);
}

TEST_F(PipelineTest, AFileThatCannotBeWrittenStopsTheRunNamingIt) {
    const AsciiBitmap drawing({"......", ".####.", ".####.", "......"});

    // The image's folder does not exist: stage 1 cannot create its file and
    // no later stage runs.
    const std::string missing = (m_dir / "gone" / "drawing.bmp").string();
    try {
        Trace(drawing, missing);
        ADD_FAILURE() << "no error";
    } catch (const FileError& error) {
        EXPECT_EQ(error.Path(), (m_dir / "gone" / "temp.sqr").string());
        EXPECT_NE(std::string(error.what()).find("temp.sqr"), std::string::npos);
    }
    EXPECT_EQ(m_status, std::vector<std::string>{texts::kStatusAnalysing});

    // The lines file cannot be created: stage 4 fails and stage 5 never
    // starts on the stale links.
    fs::create_directory(PathOf("temp.lix"));
    try {
        Trace(drawing, ImagePath());
        ADD_FAILURE() << "no error";
    } catch (const FileError& error) {
        EXPECT_EQ(error.Path(), PathOf("temp.lix"));
    }
    EXPECT_EQ(m_status, (std::vector<std::string>{texts::kStatusAnalysing, texts::kStatusSynthesising}));
}

TEST_F(PipelineTest, AFullDiskStopsTheRunAtTheFileThatDidNotFit) {
    // /dev/full accepts the open and fails every write with "no space".
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    AsciiBitmap drawing(64, 64);
    drawing.FillBox(4, 10, 60, 13);
    drawing.FillBox(30, 4, 33, 60);
    for (const char* name : {"temp.sqr", "temp.sqo", "temp.pxy", "temp.lix"}) {
        SCOPED_TRACE(name);
        fs::remove_all(m_dir);
        fs::create_directory(m_dir);
        fs::create_symlink("/dev/full", PathOf(name));
        try {
            Trace(drawing, ImagePath());
            ADD_FAILURE() << "no error";
        } catch (const FileError& error) {
            EXPECT_EQ(error.Path(), PathOf(name));
        }
        EXPECT_NE(m_status.back(), texts::kStatusAdjusting);
    }
}

TEST_F(PipelineTest, AReadOnlyImageFolderStopsTheRun) {
    fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_TRUE(RunAsOrdinaryUser(m_dir.string(), [&] {
        const AsciiBitmap blank(5, 5);  // not even the empty points file can be created
        EXPECT_THROW(Trace(blank, ImagePath()), FileError);
        EXPECT_EQ(m_status, (std::vector<std::string>{texts::kStatusAnalysing, texts::kStatusSynthesising}));
        const AsciiBitmap drawing({"##", "##"});
        EXPECT_THROW(Trace(drawing, ImagePath()), FileError);
        EXPECT_EQ(m_status, std::vector<std::string>{texts::kStatusAnalysing});
        return !::testing::Test::HasFailure();
    }));
}

}  // namespace
