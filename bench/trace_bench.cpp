// trace_bench: speed and memory of the whole trace, stage by stage, on
// generated line drawings.
//
// Usage:  trace_bench [megapixels ...]       (default: 1 16 100)
//
// Each drawing is a square page of about the given size, drawn the same
// way at every size (so the cost per megapixel should not grow with it):
// straight strokes 1 to 8 pixels thick, mostly horizontal and vertical,
// circles, solid blobs, small text-like glyphs and dots, about 5 % ink.
// The stages write their files into a temporary folder, removed at the end.
//
// Per drawing it traces twice over, several times each, keeping the fastest
// time and the memory of the first run:
//  - stage by stage, with each stage's objects living exactly as long as in
//    the pipeline (the square table of stage 2 through stages 3 and 4):
//    seconds, items per second (squares for stages 1 and 2, groups for 3,
//    points for 4, with the links beside them, vertices written for 5) and
//    memory. "peak" is the process's resident peak during the stage, "over
//    drawing" that peak less the resident size with only the drawing in
//    memory (so it holds what the stage and the stages before it still
//    keep, such as the square table during stages 3 and 4);
//  - through the pipeline driver, as the program runs it: seconds, seconds
//    per megapixel, and the resident peak less the program's resident size
//    before the drawing was made, per pixel (so the one-byte working bitmap
//    counts, the code does not).
// Closes with a table of the sizes and the figures against the goals: the
// cost per megapixel of the last size at most 1.5 times that of the first
// (flatness), and at most 3 bytes per pixel at the last size (at 1 Mpx the
// fixed buffers of a few megabytes dominate the memory per pixel).
// Exits with 1 when a trace fails or its counts do not agree.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_drawing.h"
#include "trace/Vemotrace_compv.h"
#include "trace/Vemotrace_compv1.h"
#include "trace/Vemotrace_compv2.h"
#include "trace/Vemotrace_compv3.h"
#include "trace/Vemotrace_compv4.h"
#include "trace/Vemotrace_compv5.h"
#include "trace/Vemotrace_records.h"
#include "trace/Vemotrace_types.h"

namespace {

using bench::DrawPlan;
using bench::Page;
using bench::StatusKb;

// Starts a new peak: writing 5 to clear_refs resets VmHWM to the current
// resident size. Returns false where the kernel does not allow it.
bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// The resident size once the allocator has handed its free memory back, so
// that a figure counts what is held and not what earlier work left behind.
long SettledKb() {
    malloc_trim(0);
    return StatusKb("VmRSS");
}

struct Measure {
    double seconds = 0;
    long peakKb = 0;
};

template <typename Work>
Measure Run(Work&& work) {
    malloc_trim(0);
    const bool peakReset = ResetPeak();
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto end = std::chrono::steady_clock::now();
    Measure m;
    m.seconds = std::chrono::duration<double>(end - start).count();
    if (peakReset) {
        m.peakKb = StatusKb("VmHWM");
    } else {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        m.peakKb = usage.ru_maxrss;
    }
    return m;
}

// What one trace found; both ways of tracing must agree on all of it.
struct Counts {
    int32_t squares = 0;
    int32_t groups = 0;
    int32_t members = 0;
    int32_t points = 0;
    int32_t links = 0;
    int32_t polylines = 0;
    int32_t vertices = 0;
    bool operator==(const Counts&) const = default;
};

struct Paths {
    std::string image;  // not written: the pipeline puts its files beside it
    std::string squares;
    std::string groups;
    std::string points;
    std::string lines;
};

enum Stage { kCover, kTable, kGroups, kGraph, kLines, kStageCount };

struct StageTimes {
    Measure stage[kStageCount];
    double Total() const {
        double total = 0;
        for (const Measure& m : stage) total += m.seconds;
        return total;
    }
};

// One trace stage by stage; each stage's objects live as long as in the
// pipeline, so the memory figures are the pipeline's.
StageTimes TraceByStage(const BitmapView& view, const Paths& paths, Counts& counts, int32_t& largest) {
    StageTimes times;
    times.stage[kCover] = Run([&] { counts.squares = TVemotrace_compV1(paths.squares).MakeSquares(view); });
    {
        std::unique_ptr<TVemotrace_compV2> stage2;
        times.stage[kTable] =
            Run([&] { stage2 = std::make_unique<TVemotrace_compV2>(paths.squares, counts.squares); });
        SquareTable& table = stage2->SquareTable();
        table.width = view.width;
        table.height = view.height;
        largest = table.largestSize;
        times.stage[kGroups] = Run([&] {
            const TVemotrace_compV3 stage3(paths.groups, table);
            counts.groups = stage3.GroupCount();
            counts.members = stage3.MemberCount();
        });
        times.stage[kGraph] = Run([&] {
            const TVemotrace_compV4 stage4(paths.groups, paths.points, paths.lines, table, counts.groups,
                                           counts.members);
            counts.points = stage4.PointCount();
            counts.links = stage4.LinkCount();
        });
    }
    times.stage[kLines] = Run([&] {
        TVemotrace_compV5 stage5(paths.points, paths.lines, counts.points, counts.links);
        stage5.AdjustLines();
        counts.polylines = stage5.PolylineCount();
        counts.vertices = stage5.VertexCount();
    });
    return times;
}

// One trace through the pipeline driver.
Measure TraceWhole(const BitmapView& view, const Paths& paths, Counts& counts) {
    return Run([&] {
        TVemotrace_compV pipeline(paths.image);
        pipeline.RunTrace(view);
        const TraceResult result = pipeline.CollectResults();
        counts.squares = result.squareCount;
        counts.groups = result.groupCount;
        counts.members = result.memberCount;
        counts.points = pipeline.PointCount();
        counts.links = pipeline.LinkCount();
        counts.polylines = pipeline.PolylineCount();
        counts.vertices = pipeline.VertexCount();
    });
}

double FileMb(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0.0 : size / 1048576.0;
}

// The files the pipeline left must hold exactly the records it counted.
bool FilesMatchCounts(const Paths& paths, const Counts& counts) {
    const auto size = [](const std::string& path) -> uintmax_t {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(path, error);
        return error ? 0 : bytes;
    };
    using namespace records;
    const auto n = [](int32_t count) { return static_cast<uintmax_t>(count); };
    return size(paths.squares) == kSquareRecordSize * n(counts.squares) &&
           size(paths.groups) == kMemberRecordSize * n(counts.members) &&
           size(paths.points) == kPointRecordSize * n(counts.points) &&
           size(paths.lines) == kPolylineCountSize * n(counts.polylines) + kVertexSize * n(counts.vertices);
}

// "12.34 M squares" and the like, per second.
std::string Rate(double items, double seconds, const char* what) {
    char text[64];
    std::snprintf(text, sizeof text, "%6.2f M %s", seconds > 0 ? items / seconds / 1e6 : 0.0, what);
    return text;
}

void PrintStage(const char* name, const Measure& m, const std::string& rate, long drawingKb) {
    std::printf("  %-20s %8.3f  %-34s %8.1f %13.1f\n", name, m.seconds, rate.c_str(), m.peakKb / 1024.0,
                std::max(0L, m.peakKb - drawingKb) / 1024.0);
}

// One line of the closing table.
struct SizeFigures {
    double megapixels = 0;
    double inkShare = 0;
    double seconds = 0;
    double peakMb = 0;
    double bytesPerPixel = 0;
    double CostPerMegapixel() const { return seconds / megapixels; }
};

const char* Verdict(double value, double goal) { return value <= goal ? "met" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
    std::vector<double> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atof(argv[i]));
    if (sizes.empty()) sizes = {1, 16, 100};

    std::string pattern = (std::filesystem::temp_directory_path() / "vemo-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("trace_bench: temporary folder");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    Paths paths;
    paths.image = (folder / "drawing.bmp").string();
    paths.squares = (folder / records::kSquaresFileName).string();
    paths.groups = (folder / records::kGroupsFileName).string();
    paths.points = (folder / records::kPointsFileName).string();
    paths.lines = (folder / records::kLinesFileName).string();

    std::printf("trace_bench: the whole trace, stages 1-5 and the pipeline\n");
    std::vector<SizeFigures> table;
    int exitCode = 0;
    for (const double megapixels : sizes) {
        const auto side = static_cast<int32_t>(std::lround(std::sqrt(std::max(megapixels, 0.01) * 1e6)));
        const long programKb = SettledKb();
        const auto drawStart = std::chrono::steady_clock::now();
        const Page page = DrawPlan(side, side, 4242);
        const double drawSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - drawStart).count();
        const double actualMegapixels = double(side) * side / 1e6;
        const double inkShare = page.InkShare();
        const long drawingKb = SettledKb();
        std::printf("\n%d x %d (%.1f Mpx), %.2f %% ink, drawn in %.2f s, resident %.1f MB (program %.1f MB)\n",
                    side, side, actualMegapixels, 100 * inkShare, drawSeconds, drawingKb / 1024.0,
                    programKb / 1024.0);

        try {
            // The fastest of several runs, to see past other work on the
            // machine; small drawings get more runs. Memory of the first.
            const int repeats = actualMegapixels < 4 ? 21 : actualMegapixels < 40 ? 7 : 5;
            StageTimes stages;
            Measure whole;
            Counts counts;
            int32_t largest = 0;
            bool countsAgree = true;
            bool filesAgree = true;
            for (int r = 0; r < repeats; ++r) {
                Counts byStage, byPipeline;
                const StageTimes s = TraceByStage(page.View(), paths, byStage, largest);
                const Measure w = TraceWhole(page.View(), paths, byPipeline);
                countsAgree = countsAgree && byStage == byPipeline && byStage.members == byStage.squares &&
                              byStage.points == byStage.groups;
                filesAgree = filesAgree && FilesMatchCounts(paths, byPipeline);
                counts = byPipeline;
                if (r == 0) {
                    stages = s;
                    whole = w;
                    continue;
                }
                if (s.Total() < stages.Total()) {
                    for (int k = 0; k < kStageCount; ++k) stages.stage[k].seconds = s.stage[k].seconds;
                }
                whole.seconds = std::min(whole.seconds, w.seconds);
            }

            std::printf("  %d squares (largest %d), %d groups, %d members, %d points, %d links,\n"
                        "  %d polylines, %d vertices; fastest of %d runs\n",
                        counts.squares, largest, counts.groups, counts.members, counts.points, counts.links,
                        counts.polylines, counts.vertices, repeats);
            if (!countsAgree) {
                std::printf("  ERROR: the counts differ between runs or stages, or members != squares, or "
                            "points != groups\n");
                exitCode = 1;
            }
            if (!filesAgree) {
                std::printf("  ERROR: a file's size does not match its count\n");
                exitCode = 1;
            }
            std::printf("  %-20s %8s  %-34s %8s %13s\n", "stage", "seconds", "items per second", "peak MB",
                        "over drawing");
            PrintStage("1 square cover", stages.stage[kCover],
                       Rate(counts.squares, stages.stage[kCover].seconds, "squares"), drawingKb);
            PrintStage("2 square table", stages.stage[kTable],
                       Rate(counts.squares, stages.stage[kTable].seconds, "squares"), drawingKb);
            PrintStage("3 square groups", stages.stage[kGroups],
                       Rate(counts.groups, stages.stage[kGroups].seconds, "groups"), drawingKb);
            PrintStage("4 points and links", stages.stage[kGraph],
                       Rate(counts.points, stages.stage[kGraph].seconds, "points") + ", " +
                           Rate(counts.links, stages.stage[kGraph].seconds, "links"),
                       drawingKb);
            PrintStage("5 line adjustment", stages.stage[kLines],
                       Rate(counts.vertices, stages.stage[kLines].seconds, "vertices"), drawingKb);
            std::printf("  %-20s %8.3f\n", "stages 1-5", stages.Total());

            SizeFigures figures;
            figures.megapixels = actualMegapixels;
            figures.inkShare = inkShare;
            figures.seconds = whole.seconds;
            figures.peakMb = whole.peakKb / 1024.0;
            figures.bytesPerPixel = static_cast<double>(whole.peakKb - programKb) * 1024.0 / (actualMegapixels * 1e6);
            table.push_back(figures);
            std::printf("  whole trace %.3f s, %.4f s per Mpx, peak %.1f MB, %.2f bytes per pixel with the drawing\n",
                        whole.seconds, figures.CostPerMegapixel(), figures.peakMb, figures.bytesPerPixel);
            std::printf("  files: temp.sqr %.1f MB, temp.sqo %.1f MB, temp.pxy %.1f MB, temp.lix %.1f MB\n",
                        FileMb(paths.squares), FileMb(paths.groups), FileMb(paths.points), FileMb(paths.lines));
        } catch (const std::exception& error) {
            std::printf("  ERROR: %s\n", error.what());
            exitCode = 1;
        }
        for (const std::string* path : {&paths.squares, &paths.groups, &paths.points, &paths.lines}) {
            std::filesystem::remove(*path);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);

    if (table.empty()) return exitCode;
    std::printf("\nwhole trace through the pipeline\n");
    std::printf("  %8s %6s %9s %8s %8s %8s %6s\n", "Mpx", "ink %", "seconds", "s/Mpx", "x first", "peak MB",
                "B/px");
    for (const SizeFigures& f : table) {
        std::printf("  %8.1f %6.2f %9.3f %8.4f %8.2f %8.1f %6.2f\n", f.megapixels, 100 * f.inkShare, f.seconds,
                    f.CostPerMegapixel(), f.CostPerMegapixel() / table.front().CostPerMegapixel(), f.peakMb,
                    f.bytesPerPixel);
    }
    const SizeFigures& first = table.front();
    const SizeFigures& last = table.back();
    const double flatness = last.CostPerMegapixel() / first.CostPerMegapixel();
    std::printf("\nflatness: cost per Mpx at %.1f Mpx / at %.1f Mpx = %.2f (goal <= 1.5): %s\n", last.megapixels,
                first.megapixels, flatness, Verdict(flatness, 1.5));
    std::printf("memory:   %.2f bytes per pixel at %.1f Mpx (goal <= 3): %s\n", last.bytesPerPixel,
                last.megapixels, Verdict(last.bytesPerPixel, 3.0));
    return exitCode;
}
