// trace_bench: speed and memory of the whole trace, stage by stage, on
// generated line drawings.
//
// Usage:  trace_bench [megapixels ...]       (default: 1 16 100)
//
// Each drawing is a square page of about the given size, drawn the same
// way at every size (so the cost per megapixel should not grow with it):
// straight strokes 1 to 8 pixels thick, mostly horizontal and vertical,
// circles, solid blobs, small text-like glyphs and specks, about 5 % ink.
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

#include "trace/Vemotrace_compv.h"
#include "trace/Vemotrace_compv1.h"
#include "trace/Vemotrace_compv2.h"
#include "trace/Vemotrace_compv3.h"
#include "trace/Vemotrace_compv4.h"
#include "trace/Vemotrace_compv5.h"
#include "trace/Vemotrace_records.h"
#include "trace/Vemotrace_types.h"

namespace {

constexpr uint8_t kInk = 0;
constexpr uint8_t kPaper = 255;

// A page of one byte per pixel, ink 0, with clipped drawing operations.
class Page {
public:
    Page(int32_t width, int32_t height)
        : m_width(width), m_height(height), m_pixels(static_cast<std::size_t>(width) * height, kPaper) {}

    void Box(int32_t left, int32_t top, int32_t right, int32_t bottom, uint8_t value = kInk) {
        left = std::max(left, 0);
        top = std::max(top, 0);
        right = std::min(right, m_width - 1);
        bottom = std::min(bottom, m_height - 1);
        if (left > right) return;
        for (int32_t y = top; y <= bottom; ++y) {
            std::memset(m_pixels.data() + static_cast<std::size_t>(y) * m_width + left, value,
                        static_cast<std::size_t>(right - left + 1));
        }
    }

    // A stroke of the given thickness, stamped along the line.
    void Stroke(double x0, double y0, double x1, double y1, int32_t thickness) {
        const double length = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        const int steps = std::max(1, static_cast<int>(length));
        for (int s = 0; s <= steps; ++s) {
            const auto x = static_cast<int32_t>(std::lround(x0 + (x1 - x0) * s / steps));
            const auto y = static_cast<int32_t>(std::lround(y0 + (y1 - y0) * s / steps));
            Box(x - thickness / 2, y - thickness / 2, x - thickness / 2 + thickness - 1,
                y - thickness / 2 + thickness - 1);
        }
    }

    void Circle(double cx, double cy, double radius, int32_t thickness) {
        const int steps = std::max(8, static_cast<int>(2 * std::numbers::pi * radius));
        for (int s = 0; s < steps; ++s) {
            const double a = 2 * std::numbers::pi * s / steps;
            const auto x = static_cast<int32_t>(std::lround(cx + radius * std::cos(a)));
            const auto y = static_cast<int32_t>(std::lround(cy + radius * std::sin(a)));
            Box(x, y, x + thickness - 1, y + thickness - 1);
        }
    }

    void Disc(double cx, double cy, double radius) {
        for (int32_t dy = -static_cast<int32_t>(radius); dy <= static_cast<int32_t>(radius); ++dy) {
            const auto half = static_cast<int32_t>(std::sqrt(radius * radius - double(dy) * dy));
            const auto y = static_cast<int32_t>(cy) + dy;
            Box(static_cast<int32_t>(cx) - half, y, static_cast<int32_t>(cx) + half, y);
        }
    }

    void Dot(int32_t x, int32_t y) { Box(x, y, x, y); }

    double InkShare() const {
        return static_cast<double>(std::count(m_pixels.begin(), m_pixels.end(), kInk)) / m_pixels.size();
    }

    BitmapView View() const { return BitmapView{m_width, m_height, m_pixels.data(), m_width}; }
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }

private:
    int32_t m_width;
    int32_t m_height;
    std::vector<uint8_t> m_pixels;
};

// The same mix per megapixel at every page size, so every size has the
// same kind of content at the same density.
Page DrawPlan(int32_t side, uint32_t seed) {
    Page page(side, side);
    std::mt19937 random(seed);
    const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    const auto thickness = [&]() {
        static const int32_t kThickness[] = {1, 1, 1, 2, 2, 2, 3, 3, 4, 5, 6, 8};
        return kThickness[random() % std::size(kThickness)];
    };
    const double megapixels = double(side) * side / 1e6;
    const auto perMegapixel = [&](double n) { return static_cast<int>(std::lround(n * megapixels)); };

    for (int i = perMegapixel(40); i > 0; --i) {  // walls and dimension lines
        const double x = uniform(0, side), y = uniform(0, side), length = uniform(10, 600);
        if (random() % 2) {
            page.Stroke(x, y, x + length, y, thickness());
        } else {
            page.Stroke(x, y, x, y + length, thickness());
        }
    }
    for (int i = perMegapixel(12); i > 0; --i) {  // slanted lines
        const double x = uniform(0, side), y = uniform(0, side);
        const double a = uniform(0, 2 * std::numbers::pi), length = uniform(10, 400);
        page.Stroke(x, y, x + length * std::cos(a), y + length * std::sin(a), thickness());
    }
    for (int i = perMegapixel(4); i > 0; --i) {  // circles and arcs
        page.Circle(uniform(0, side), uniform(0, side), uniform(5, 80), thickness());
    }
    for (int i = perMegapixel(1.5); i > 0; --i) {  // solid blobs: pillars, filled marks
        const double x = uniform(0, side), y = uniform(0, side);
        if (random() % 2) {
            page.Disc(x, y, uniform(4, 40));
        } else {
            const auto s = static_cast<int32_t>(uniform(8, 60));
            page.Box(static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(x) + s,
                     static_cast<int32_t>(y) + s);
        }
    }
    for (int i = perMegapixel(25); i > 0; --i) {  // labels: rows of small glyphs
        double x = uniform(0, side);
        const double y = uniform(0, side);
        const double height = uniform(7, 20), width = height * 0.6;
        const int32_t pen = height > 14 ? 2 : 1;
        for (int glyph = 2 + static_cast<int>(random() % 8); glyph > 0; --glyph, x += width * 1.3) {
            for (int stroke = 2 + static_cast<int>(random() % 3); stroke > 0; --stroke) {
                page.Stroke(x + uniform(0, width), y + uniform(0, height), x + uniform(0, width),
                            y + uniform(0, height), pen);
            }
        }
    }
    for (int i = perMegapixel(600); i > 0; --i) {  // scanner specks
        page.Dot(static_cast<int32_t>(uniform(0, side)), static_cast<int32_t>(uniform(0, side)));
    }
    return page;
}

// Resident set sizes in kB from /proc/self/status ("VmRSS", "VmHWM").
long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

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
        const Page page = DrawPlan(side, 4242);
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
