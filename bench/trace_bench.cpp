// trace_bench: speed and memory of trace stages 1 to 3 (square cover,
// square table, square groups) on generated line drawings.
//
// Usage:  trace_bench [megapixels ...]       (default: 1 16 100)
//
// Each drawing is a square page of about the given size, drawn the same
// way at every size (so the cost per megapixel should not grow with it):
// straight strokes 1 to 8 pixels thick, mostly horizontal and vertical,
// circles, solid blobs, small text-like glyphs and specks, about 5 % ink.
// The stages write their files into a temporary folder, removed at the end.
//
// Prints per drawing and stage the seconds, squares per second and memory:
// "peak" is the process's resident peak during the stage, "over drawing"
// that peak less the resident size with only the drawing in memory (so it
// holds what the stage and the stages before it still keep, such as the
// square table during stage 3).
// Closes with the cost per megapixel of each size against the first.
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

#include "trace/Vemotrace_compv1.h"
#include "trace/Vemotrace_compv2.h"
#include "trace/Vemotrace_compv3.h"
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

struct Measure {
    double seconds = 0;
    long peakKb = 0;
};

template <typename Work>
Measure Run(Work&& work) {
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

void PrintStage(const char* name, const Measure& m, int32_t squares, long drawingKb) {
    std::printf("  %-16s %8.3f s  %11.0f squares/s  peak %7.1f MB, %6.1f MB over drawing\n", name, m.seconds,
                m.seconds > 0 ? squares / m.seconds : 0.0, m.peakKb / 1024.0,
                std::max(0L, m.peakKb - drawingKb) / 1024.0);
}

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
    const std::string squaresPath = (folder / records::kSquaresFileName).string();
    const std::string groupsPath = (folder / records::kGroupsFileName).string();

    std::printf("trace_bench: stages 1-3 (square cover, square table, square groups)\n");
    double firstCostPerMegapixel = 0;
    int exitCode = 0;
    for (const double megapixels : sizes) {
        const auto side = static_cast<int32_t>(std::lround(std::sqrt(std::max(megapixels, 0.01) * 1e6)));
        const auto drawStart = std::chrono::steady_clock::now();
        const Page page = DrawPlan(side, 4242);
        const double drawSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - drawStart).count();
        const double actualMegapixels = double(side) * side / 1e6;
        const long drawingKb = StatusKb("VmRSS");
        std::printf("\n%d x %d (%.1f Mpx), %.2f %% ink, drawn in %.2f s, resident %.1f MB\n", side, side,
                    actualMegapixels, 100 * page.InkShare(), drawSeconds, drawingKb / 1024.0);

        try {
            // The fastest of several runs, to see past other work on the
            // machine; small drawings get more runs.
            const int repeats = actualMegapixels < 4 ? 9 : 3;
            Measure cover, table, groups;
            int32_t squares = 0, groupCount = 0, memberCount = 0, largest = 0;
            for (int r = 0; r < repeats; ++r) {
                Measure c = Run([&] { squares = TVemotrace_compV1(squaresPath).MakeSquares(page.View()); });
                Measure t, g;
                {
                    std::unique_ptr<TVemotrace_compV2> stage2;
                    t = Run([&] { stage2 = std::make_unique<TVemotrace_compV2>(squaresPath, squares); });
                    SquareTable& squareTable = stage2->SquareTable();
                    squareTable.width = page.Width();
                    squareTable.height = page.Height();
                    largest = squareTable.largestSize;
                    g = Run([&] {
                        const TVemotrace_compV3 stage3(groupsPath, squareTable);
                        groupCount = stage3.GroupCount();
                        memberCount = stage3.MemberCount();
                    });
                }
                // Times of the fastest run; memory of the first, before the
                // allocator had pages at hand from an earlier run.
                if (r == 0) {
                    cover = c;
                    table = t;
                    groups = g;
                } else if (c.seconds + t.seconds + g.seconds < cover.seconds + table.seconds + groups.seconds) {
                    cover.seconds = c.seconds;
                    table.seconds = t.seconds;
                    groups.seconds = g.seconds;
                }
            }
            std::printf("  %d squares (largest %d), %d groups, %d members; fastest of %d runs\n", squares, largest,
                        groupCount, memberCount, repeats);
            if (memberCount != squares) {
                std::printf("  ERROR: member count differs from square count\n");
                exitCode = 1;
            }
            PrintStage("1 square cover", cover, squares, drawingKb);
            PrintStage("2 square table", table, squares, drawingKb);
            PrintStage("3 square groups", groups, squares, drawingKb);
            const double total = cover.seconds + table.seconds + groups.seconds;
            const double costPerMegapixel = total / actualMegapixels;
            if (firstCostPerMegapixel == 0) firstCostPerMegapixel = costPerMegapixel;
            std::printf("  stages 1-3 %8.3f s, %.4f s per Mpx (%.2f x the first size)\n", total, costPerMegapixel,
                        costPerMegapixel / firstCostPerMegapixel);
            std::printf("  files: temp.sqr %.1f MB, temp.sqo %.1f MB\n",
                        std::filesystem::file_size(squaresPath) / 1048576.0,
                        std::filesystem::file_size(groupsPath) / 1048576.0);
        } catch (const std::exception& error) {
            std::printf("  ERROR: %s\n", error.what());
            exitCode = 1;
        }
        std::filesystem::remove(squaresPath);
        std::filesystem::remove(groupsPath);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return exitCode;
}
