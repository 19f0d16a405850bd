// make_drawing: the drawings and our side of bench/compare.sh.
//
//   make_drawing draw <width> <height> <seed> <out.pbm|out.bmp>
//       Writes the generated line drawing that trace_bench traces
//       (bench/bench_drawing.h) as a 1-bit binary PBM (P4, 1 = ink), or as
//       a 1-bit BMP when the name ends in ".bmp" (seed 0: blank paper). Ink
//       density and structure are the same at every size, so the cost per
//       megapixel can be compared from 1 to 100 Mpx.
//
//   make_drawing pattern <kind> <width> <height> <out.pbm|out.bmp>
//       Writes ink that no drawing holds but a scan may, to find what the
//       join step costs at its worst (bench/join_pathological.sh): kind
//       "checker" (one-pixel squares, every pixel touching four others at
//       its corners), "noise" (each pixel ink with probability 1/2, seed 1;
//       "noise15" with 15 %), "hatch" (one-pixel lines at 45 degrees, three
//       pixels apart), "dither" (the checkerboard with a quarter of its
//       pixels left out at random),
//       "grid" (one-pixel lines on a two-pixel pitch: a junction at every
//       other pixel), "spiral" (a round spiral of one-pixel ink, turns
//       four pixels apart: one stroke as long as the page allows),
//       "checkerNN" (squares of NN pixels, thick ink meeting at corners:
//       a junction of thick strokes at every corner) or "rings"
//       (concentric one-pixel rings three pixels apart).
//
//   make_drawing trace <in.pbm> <work folder> [--join]
//       Reads the PBM into a working bitmap (one byte per pixel, 0 = ink),
//       runs the whole trace pipeline with its intermediate files in the work
//       folder (with --join, then the join step, inside the timing, whose
//       own time is join_seconds) and prints one line of key=value figures: the counts, the
//       trace's wall time, and the peak resident memory during the trace
//       less that of the program before it read the file, per pixel (so the
//       one-byte-per-pixel working bitmap counts, the code does not).
//
// Exit code 0 on success, 1 on a usage, file or trace error (message on
// standard error).
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_drawing.h"
#include "trace/Vemotrace_compv.h"
#include "trace/Vemotrace_join.h"
#include "trace/Vemotrace_packed.h"
#include "trace/Vemotrace_records.h"

namespace {

// As a BMP when the name ends in ".bmp", else as a PBM.
int Write(const bench::Page& page, const std::string& path) {
    const bool bmp = path.size() >= 4 && path.compare(path.size() - 4, 4, ".bmp") == 0;
    if (!(bmp ? page.WriteBmp(path) : page.WritePbm(path))) {
        std::cerr << path << ": cannot write\n";
        return 1;
    }
    std::printf("drawing=%s width=%d height=%d ink=%.4f\n", path.c_str(), page.Width(), page.Height(),
                page.InkShare());
    return 0;
}

int Draw(int32_t width, int32_t height, uint32_t seed, const std::string& path) {
    return Write(seed == 0 ? bench::Page(width, height) : bench::DrawPlan(width, height, seed), path);
}

bench::Page DrawPattern(const std::string& kind, int32_t width, int32_t height) {
    bench::Page page(width, height);
    if (kind == "checker") {
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = y % 2; x < width; x += 2) page.Dot(x, y);
        }
    } else if (kind.rfind("checker", 0) == 0) {
        const int32_t cell = std::max(1, std::atoi(kind.c_str() + 7));
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                if ((x / cell + y / cell) % 2 == 0) page.Dot(x, y);
            }
        }
    } else if (kind == "rings") {
        // Rings one pixel wide, three pixels apart: closed strokes, the
        // outer ones as long as the page allows.
        const double cx = width / 2.0, cy = height / 2.0;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                if (static_cast<int32_t>(std::hypot(x + 0.5 - cx, y + 0.5 - cy)) % 3 == 0) page.Dot(x, y);
            }
        }
    } else if (kind.rfind("noise", 0) == 0) {
        std::mt19937 random(1);
        const int percent = kind.size() > 5 ? std::atoi(kind.c_str() + 5) : 50;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                if (static_cast<int>(random() % 100) < percent) page.Dot(x, y);
            }
        }
    } else if (kind == "hatch") {
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = y % 3; x < width; x += 3) page.Dot(x, y);
        }
    } else if (kind == "dither") {
        std::mt19937 random(1);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = y % 2; x < width; x += 2) {
                if (random() % 4 != 0) page.Dot(x, y);
            }
        }
    } else if (kind == "grid") {
        for (int32_t y = 0; y < height; y += 2) page.Box(0, y, width - 1, y);
        for (int32_t x = 0; x < width; x += 2) page.Box(x, 0, x, height - 1);
    } else if (kind == "spiral") {
        // r = pitch * angle / 2 pi, followed pixel by pixel: a step to a
        // corner neighbour goes by a side neighbour, so the stroke is one
        // pixel wide and the trace follows it whole.
        constexpr double kPitch = 4.0;
        const double cx = width / 2.0, cy = height / 2.0;
        const double outer = std::min(cx, cy) - 1.0;
        int32_t x = static_cast<int32_t>(cx), y = static_cast<int32_t>(cy);
        page.Dot(x, y);
        for (double angle = 0.0;; angle += 0.25 / std::max(kPitch * angle / (2 * std::numbers::pi), 1.0)) {
            const double r = kPitch * angle / (2 * std::numbers::pi);
            if (r > outer) break;
            const auto nx = static_cast<int32_t>(cx + r * std::cos(angle));
            const auto ny = static_cast<int32_t>(cy + r * std::sin(angle));
            if (nx != x && ny != y) page.Dot(nx, y);
            x = nx;
            y = ny;
            page.Dot(x, y);
        }
    }
    return page;
}

int Pattern(const std::string& kind, int32_t width, int32_t height, const std::string& path) {
    const bool known = kind.rfind("checker", 0) == 0 || kind.rfind("noise", 0) == 0 || kind == "grid" ||
                       kind == "spiral" || kind == "hatch" || kind == "dither" || kind == "rings";
    if (!known) {
        std::cerr << kind
                  << ": not a pattern (checker, checkerNN, noise, noiseNN, grid, spiral, hatch, dither, rings)\n";
        return 1;
    }
    return Write(DrawPattern(kind, width, height), path);
}

// One PBM header token, skipping white space and comments.
bool ReadToken(std::FILE* file, std::string& token) {
    token.clear();
    int c = std::fgetc(file);
    while (c != EOF && (std::isspace(c) || c == '#')) {
        if (c == '#') {
            while (c != EOF && c != '\n') c = std::fgetc(file);
        }
        c = std::fgetc(file);
    }
    while (c != EOF && !std::isspace(c)) {
        token += static_cast<char>(c);
        c = std::fgetc(file);
    }
    return !token.empty();  // the single white space after the token is consumed
}

int Trace(const std::string& pbmPath, const std::string& workFolder, bool join) {
    const long rssStart = bench::StatusKb("VmRSS");  // the program alone
    std::FILE* file = std::fopen(pbmPath.c_str(), "rb");
    if (file == nullptr) {
        std::cerr << pbmPath << ": cannot open\n";
        return 1;
    }
    std::string magic, widthText, heightText;
    if (!ReadToken(file, magic) || magic != "P4" || !ReadToken(file, widthText) || !ReadToken(file, heightText)) {
        std::cerr << pbmPath << ": not a binary PBM\n";
        std::fclose(file);
        return 1;
    }
    const long width = std::atol(widthText.c_str());
    const long height = std::atol(heightText.c_str());
    if (width <= 0 || height <= 0 || width > 100000 || height > 100000) {
        std::cerr << pbmPath << ": size out of range\n";
        std::fclose(file);
        return 1;
    }
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height);
    {
        std::vector<uint8_t> row((width + 7) / 8);
        for (int32_t y = 0; y < height; ++y) {
            if (std::fread(row.data(), 1, row.size(), file) != row.size()) {
                std::cerr << pbmPath << ": ends early\n";
                std::fclose(file);
                return 1;
            }
            uint8_t* out = pixels.data() + static_cast<std::size_t>(y) * width;
            for (int32_t x = 0; x < width; ++x) out[x] = (row[x / 8] & (0x80 >> (x % 8))) != 0 ? 0 : 1;
        }
    }
    std::fclose(file);

    BitmapView view;
    view.width = static_cast<int32_t>(width);
    view.height = static_cast<int32_t>(height);
    view.pixels = pixels.data();
    view.stride = width;

    // Restart the peak so that it covers the trace (with the bitmap) and not
    // the reading of the file.
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    TVemotrace_compV pipeline(workFolder + "/drawing.pbm");
    int32_t polylines = 0, vertices = 0;
    double joinSeconds = 0.0;
    const auto start = std::chrono::steady_clock::now();
    try {
        pipeline.RunTrace(view);
        if (join) {
            const auto joinStart = std::chrono::steady_clock::now();
            // The step alone, after the trace: the ink painted again from
            // the squares (the trace job paints it while stage 5 runs).
            const TraceResult traced = pipeline.CollectResults();
            const PackedBitmap ink = TVemotrace_join::InkFromSquares(traced.squaresPath, traced.squareCount,
                                                                     traced.imageWidth, traced.imageHeight);
            TVemotrace_join joiner(traced.linesPath, ink);
            joiner.JoinLines();
            joinSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - joinStart).count();
            polylines = joiner.PolylineCount();
            vertices = joiner.VertexCount();
        } else {
            polylines = pipeline.PolylineCount();
            vertices = pipeline.VertexCount();
        }
    } catch (const FileError& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long peak = bench::StatusKb("VmHWM");
    const TraceResult result = pipeline.CollectResults();
    const double pixelCount = static_cast<double>(width) * height;
    std::printf(
        "pixels=%.0f squares=%d groups=%d links=%d polylines=%d vertices=%d trace_seconds=%.3f join_seconds=%.3f "
        "seconds_per_mpx=%.4f program_kb=%ld peak_kb=%ld bytes_per_pixel=%.2f\n",
        pixelCount, result.squareCount, result.groupCount, pipeline.LinkCount(), polylines, vertices, seconds,
        joinSeconds, seconds / (pixelCount / 1e6), rssStart, peak,
        static_cast<double>(peak - rssStart) * 1024.0 / pixelCount);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "draw" && argc == 6) {
        const long width = std::atol(argv[2]);
        const long height = std::atol(argv[3]);
        if (width <= 0 || height <= 0 || width > 100000 || height > 100000) {
            std::cerr << "width and height must be 1 to 100000\n";
            return 1;
        }
        return Draw(static_cast<int32_t>(width), static_cast<int32_t>(height),
                    static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)), argv[5]);
    }
    if (mode == "pattern" && argc == 6) {
        const long width = std::atol(argv[3]);
        const long height = std::atol(argv[4]);
        if (width <= 0 || height <= 0 || width > 100000 || height > 100000) {
            std::cerr << "width and height must be 1 to 100000\n";
            return 1;
        }
        return Pattern(argv[2], static_cast<int32_t>(width), static_cast<int32_t>(height), argv[5]);
    }
    if (mode == "trace" && argc == 4) return Trace(argv[2], argv[3], false);
    if (mode == "trace" && argc == 5 && std::string(argv[4]) == "--join") return Trace(argv[2], argv[3], true);
    std::cerr << "usage: make_drawing draw <width> <height> <seed> <out.pbm|out.bmp>\n"
                 "       make_drawing pattern <checker[NN]|noise[NN]|grid|spiral|hatch|dither|rings> <width> <height>\n"
                 "                            <out.pbm|out.bmp>\n"
                 "       make_drawing trace <in.pbm> <work folder> [--join]\n";
    return 1;
}
