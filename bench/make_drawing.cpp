// make_drawing: the drawings and our side of bench/compare.sh.
//
//   make_drawing draw <width> <height> <seed> <out.pbm>
//       Writes a generated line drawing as a 1-bit binary PBM (P4, 1 = ink):
//       walls, thin lines at any angle, circles, short text-like strokes and
//       scanner specks, all at a fixed number per megapixel, plus lines across
//       the whole sheet in proportion to its side. Ink density and structure
//       are therefore the same at every size, so the cost per megapixel can
//       be compared from 1 to 100 Mpx.
//
//   make_drawing trace <in.pbm> <work folder>
//       Reads the PBM into a working bitmap (one byte per pixel, 0 = ink),
//       runs the whole trace pipeline with its intermediate files in the work
//       folder and prints one line of key=value figures: the counts, the
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

#include "trace/Vemotrace_compv.h"
#include "trace/Vemotrace_records.h"

namespace {

class Canvas {
public:
    Canvas(int32_t width, int32_t height)
        : m_width(width), m_height(height), m_ink(static_cast<std::size_t>(width) * height, 0) {}

    // A round pen of the given thickness in pixels.
    void Line(double x0, double y0, double x1, double y1, int32_t thickness) {
        const double length = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        const auto steps = static_cast<int32_t>(std::ceil(length));
        for (int32_t i = 0; i <= steps; ++i) {
            const double t = steps == 0 ? 0.0 : static_cast<double>(i) / steps;
            Stamp(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, thickness);
        }
    }

    void Circle(double cx, double cy, double radius, int32_t thickness) {
        const auto steps = static_cast<int32_t>(std::ceil(2.0 * std::numbers::pi * radius)) + 1;
        for (int32_t i = 0; i < steps; ++i) {
            const double angle = 2.0 * std::numbers::pi * i / steps;
            Stamp(cx + radius * std::cos(angle), cy + radius * std::sin(angle), thickness);
        }
    }

    void Stamp(double x, double y, int32_t thickness) {
        const auto cx = static_cast<int32_t>(std::lround(x));
        const auto cy = static_cast<int32_t>(std::lround(y));
        const int32_t reach = thickness / 2;
        const double limit = thickness * thickness / 4.0 + 0.5;
        for (int32_t dy = -reach; dy <= reach; ++dy) {
            for (int32_t dx = -reach; dx <= reach; ++dx) {
                if (dx * dx + dy * dy > limit) continue;
                const int32_t px = cx + dx;
                const int32_t py = cy + dy;
                if (px < 0 || py < 0 || px >= m_width || py >= m_height) continue;
                m_ink[static_cast<std::size_t>(py) * m_width + px] = 1;
            }
        }
    }

    bool WritePbm(const std::string& path) const {
        std::ofstream out(path, std::ios::binary);
        out << "P4\n" << m_width << " " << m_height << "\n";
        std::vector<char> row((m_width + 7) / 8);
        for (int32_t y = 0; y < m_height; ++y) {
            std::fill(row.begin(), row.end(), 0);
            const uint8_t* ink = m_ink.data() + static_cast<std::size_t>(y) * m_width;
            for (int32_t x = 0; x < m_width; ++x) {
                if (ink[x] != 0) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            }
            out.write(row.data(), static_cast<std::streamsize>(row.size()));
        }
        out.close();
        return static_cast<bool>(out);
    }

    double Density() const {
        std::size_t ink = 0;
        for (const uint8_t v : m_ink) ink += v;
        return m_ink.empty() ? 0.0 : static_cast<double>(ink) / static_cast<double>(m_ink.size());
    }

private:
    int32_t m_width;
    int32_t m_height;
    std::vector<uint8_t> m_ink;
};

int Draw(int32_t width, int32_t height, uint32_t seed, const std::string& path) {
    Canvas canvas(width, height);
    std::mt19937 random(seed);
    auto uniform = [&](double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); };
    auto whole = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    const double megapixels = static_cast<double>(width) * height / 1e6;
    auto perMegapixel = [&](double count) { return static_cast<int64_t>(std::llround(count * megapixels)); };

    // Lines across the sheet, one per 400 pixels of its side.
    for (int32_t k = 0; k < width / 400; ++k) canvas.Line(uniform(0, width), 0, uniform(0, width), height - 1, whole(1, 4));
    for (int32_t k = 0; k < height / 400; ++k) canvas.Line(0, uniform(0, height), width - 1, uniform(0, height), whole(1, 4));
    // Walls: thick, axis-aligned.
    for (int64_t k = perMegapixel(40); k > 0; --k) {
        const double x = uniform(0, width), y = uniform(0, height), length = uniform(50, 600);
        const bool horizontal = whole(0, 1) == 0;
        canvas.Line(x, y, horizontal ? x + length : x, horizontal ? y : y + length, whole(3, 8));
    }
    // Thin lines, most of them axis-aligned.
    for (int64_t k = perMegapixel(150); k > 0; --k) {
        const double x = uniform(0, width), y = uniform(0, height), length = uniform(10, 300);
        const double angle = whole(0, 9) < 6 ? whole(0, 3) * std::numbers::pi / 2 : uniform(0, 2 * std::numbers::pi);
        canvas.Line(x, y, x + length * std::cos(angle), y + length * std::sin(angle), whole(1, 3));
    }
    for (int64_t k = perMegapixel(20); k > 0; --k) {
        canvas.Circle(uniform(0, width), uniform(0, height), uniform(5, 80), whole(1, 3));
    }
    // Lettering: short strokes in small clusters.
    for (int64_t k = perMegapixel(30); k > 0; --k) {
        const double x = uniform(0, width), y = uniform(0, height);
        for (int32_t s = 0; s < 12; ++s) {
            const double sx = x + uniform(0, 60), sy = y + uniform(0, 10);
            canvas.Line(sx, sy, sx + uniform(-6, 6), sy + uniform(-10, 10), whole(1, 2));
        }
    }
    // Scanner specks.
    for (int64_t k = perMegapixel(300); k > 0; --k) canvas.Stamp(uniform(0, width), uniform(0, height), whole(1, 2));

    if (!canvas.WritePbm(path)) {
        std::cerr << path << ": cannot write\n";
        return 1;
    }
    std::printf("drawing=%s width=%d height=%d ink=%.4f\n", path.c_str(), width, height, canvas.Density());
    return 0;
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

// Kilobytes of a "VmHWM:" style line of /proc/self/status; -1 if unknown.
long StatusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) return std::atol(line.c_str() + prefix.size());
    }
    return -1;
}

int Trace(const std::string& pbmPath, const std::string& workFolder) {
    const long rssStart = StatusKilobytes("VmRSS");  // the program alone
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
    const auto start = std::chrono::steady_clock::now();
    try {
        pipeline.RunTrace(view);
    } catch (const FileError& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long peak = StatusKilobytes("VmHWM");
    const TraceResult result = pipeline.CollectResults();
    const double pixelCount = static_cast<double>(width) * height;
    std::printf(
        "pixels=%.0f squares=%d groups=%d links=%d polylines=%d vertices=%d trace_seconds=%.3f "
        "seconds_per_mpx=%.4f program_kb=%ld peak_kb=%ld bytes_per_pixel=%.2f\n",
        pixelCount, result.squareCount, result.groupCount, pipeline.LinkCount(), pipeline.PolylineCount(),
        pipeline.VertexCount(), seconds, seconds / (pixelCount / 1e6), rssStart, peak,
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
    if (mode == "trace" && argc == 4) return Trace(argv[2], argv[3]);
    std::cerr << "usage: make_drawing draw <width> <height> <seed> <out.pbm>\n"
                 "       make_drawing trace <in.pbm> <work folder>\n";
    return 1;
}
