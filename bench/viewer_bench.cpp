// viewer_bench: speed and memory of the viewer window on an A0 drawing.
//
// Usage:  viewer_bench [width height]      (default: 14043 9933, A0 at 300 dpi)
//
// A child process draws the generated line drawing (bench_drawing.h), writes
// it as a 1-bit BMP into a temporary folder and traces it there, so that
// neither the drawing nor the trace counts in the memory of the viewer. The
// parent then does what the program does, on the offscreen platform:
//  - opens the image in the viewer (OpenImage: load, reduced copies, fit
//    zoom) and times it;
//  - repaints the visible area at the fit zoom and at about 8 x, each with
//    the overlay off and on, several times, and gives the median; the first
//    repaint with the overlay, which reads temp.lix, is shown apart; at
//    about 8 x also each repaint after a scroll by a few lines, with the
//    overlay, so that nothing drawn before can be shown again;
//  - reports the resident peak of the process (VmHWM) per image pixel,
//    with the resident size before the opening beside it.
// Goals: open under 1 s, every repaint under 30 ms, peak under 1.5 bytes
// per image pixel. Exits with 1 when the trace or the opening fails.
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_drawing.h"
#include "common/Vemo_sys.h"
#include "image/Vemo_susie.h"
#include "trace/Vemotrace_compv.h"
#include "viewer/Vemo_viewer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// Processor time of this thread: unlike the wall clock it does not grow
// while other programs have the processor.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Timing {
    double wallMs = 0.0;
    double cpuMs = 0.0;
};

void PutLe(std::ofstream& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A 1-bit BMP, bottom-up, colour 0 black (ink), colour 1 white.
bool WriteBmp(const bench::Page& page, const std::string& path) {
    const BitmapView view = page.View();
    const uint32_t stride = ((static_cast<uint32_t>(view.width) + 31) / 32) * 4;
    const uint32_t offset = 14 + 40 + 8;
    std::ofstream out(path, std::ios::binary);
    out.write("BM", 2);
    PutLe(out, offset + stride * static_cast<uint32_t>(view.height), 4);
    PutLe(out, 0, 4);
    PutLe(out, offset, 4);
    PutLe(out, 40, 4);
    PutLe(out, static_cast<uint32_t>(view.width), 4);
    PutLe(out, static_cast<uint32_t>(view.height), 4);
    PutLe(out, 1, 2);
    PutLe(out, 1, 2);
    for (int i = 0; i < 6; ++i) PutLe(out, 0, 4);
    PutLe(out, 0x000000, 4);
    PutLe(out, 0xFFFFFF, 4);
    std::vector<char> row(stride);
    for (int32_t y = view.height - 1; y >= 0; --y) {
        std::fill(row.begin(), row.end(), static_cast<char>(0xFF));
        const uint8_t* pixels = view.Row(y);
        for (int32_t x = 0; x < view.width; ++x) {
            if (pixels[x] == bench::kInk) row[x / 8] = static_cast<char>(row[x / 8] & ~(0x80 >> (x % 8)));
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    out.close();
    return static_cast<bool>(out);
}

// In the child: draw, write and trace; the counts go back through `fd`.
[[noreturn]] void DrawAndTrace(const std::string& imagePath, int32_t width, int32_t height, int fd) {
    const bench::Page page = bench::DrawPlan(width, height, 11);
    if (!WriteBmp(page, imagePath)) std::_Exit(1);
    TVemotrace_compV pipeline(imagePath);
    pipeline.RunTrace(page.View());
    const TraceResult result = pipeline.CollectResults();
    const int32_t counts[4] = {result.squareCount, result.groupCount, result.memberCount, pipeline.PolylineCount()};
    if (::write(fd, counts, sizeof counts) != static_cast<ssize_t>(sizeof counts)) std::_Exit(1);
    std::_Exit(0);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int32_t width = argc >= 3 ? std::atoi(argv[1]) : 14043;
    const int32_t height = argc >= 3 ? std::atoi(argv[2]) : 9933;
    std::string folderPattern = (std::filesystem::temp_directory_path() / "viewer_bench.XXXXXX").string();
    if (::mkdtemp(folderPattern.data()) == nullptr) return 1;
    const std::filesystem::path folder = folderPattern;
    const std::string imagePath = (folder / "plan.bmp").string();

    std::printf("drawing %d x %d (%.1f Mpx), tracing it in a child process...\n", width, height,
                double(width) * height / 1e6);
    std::fflush(stdout);
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return 1;
    const pid_t child = ::fork();
    if (child == 0) DrawAndTrace(imagePath, width, height, pipeEnds[1]);
    int32_t counts[4] = {};
    const bool received = ::read(pipeEnds[0], counts, sizeof counts) == static_cast<ssize_t>(sizeof counts);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "viewer_bench: the trace failed\n");
        std::filesystem::remove_all(folder);
        return 1;
    }
    TraceResult result;
    result.squaresPath = (folder / "temp.sqr").string();
    result.groupsPath = (folder / "temp.sqo").string();
    result.linesPath = (folder / "temp.lix").string();
    result.pointsPath = (folder / "temp.pxy").string();
    result.squareCount = counts[0];
    result.groupCount = counts[1];
    result.memberCount = counts[2];
    result.imageWidth = width;
    result.imageHeight = height;
    std::printf("traced: %d squares, %d groups, %d polylines, temp.lix %.1f MB\n", counts[0], counts[1], counts[3],
                std::filesystem::file_size(result.linesPath) / 1e6);

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const auto tell = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    TVemo_sysF settings(VEMO_SYSTEM_DIR, tell);
    TVemo_susieF plugins(tell);
    TVemo_viewareF viewer;
    viewer.SetContext({&settings, &plugins, tell, [] { return 1; }});
    viewer.show();
    application.processEvents();
    const long residentBefore = bench::StatusKb("VmRSS");

    const Clock::time_point openStart = Clock::now();
    const double openCpuStart = ThreadCpuMs();
    if (viewer.OpenImage(imagePath, result) != 0) {
        std::filesystem::remove_all(folder);
        return 1;
    }
    const Timing open{Milliseconds(openStart), ThreadCpuMs() - openCpuStart};
    application.processEvents();

    QWidget* surface = viewer.findChild<QWidget*>("PaintBox1");
    QAbstractButton* overlay = viewer.findChild<QAbstractButton*>("CheckBox2");
    QPushButton* zoomIn = viewer.findChild<QPushButton*>("Button2");
    const auto repaint = [&] {
        const Clock::time_point start = Clock::now();
        const double cpuStart = ThreadCpuMs();
        surface->repaint();
        return Timing{Milliseconds(start), ThreadCpuMs() - cpuStart};
    };
    const auto medianRepaint = [&] {
        std::vector<double> wall, cpu;
        for (int i = 0; i < 9; ++i) {
            const Timing timing = repaint();
            wall.push_back(timing.wallMs);
            cpu.push_back(timing.cpuMs);
        }
        return Timing{Median(wall), Median(cpu)};
    };

    QScrollBar* vertical = viewer.findChild<QScrollArea*>("ScrollBox1")->verticalScrollBar();
    const auto medianScrolledRepaint = [&] {
        std::vector<double> wall, cpu;
        for (int i = 0; i < 9; ++i) {
            vertical->setValue(vertical->value() + 3 * vertical->singleStep());
            const Timing timing = repaint();
            wall.push_back(timing.wallMs);
            cpu.push_back(timing.cpuMs);
        }
        return Timing{Median(wall), Median(cpu)};
    };

    struct Row {
        double zoom;
        Timing plain;
        Timing overlay;
        Timing scrolled;
    };
    std::vector<Row> rows;
    Timing firstOverlay;
    for (int step = 0; step < 2; ++step) {
        if (step == 1) {
            while (viewer.Zoom() * 1.5 < 8.5) zoomIn->click();
            application.processEvents();
        }
        overlay->setChecked(false);
        const Timing plain = medianRepaint();
        overlay->setChecked(true);
        if (step == 0) firstOverlay = repaint();
        const Timing withOverlay = medianRepaint();
        const Timing scrolled = step == 1 ? medianScrolledRepaint() : Timing{};
        rows.push_back({viewer.Zoom(), plain, withOverlay, scrolled});
    }
    const long peakKb = bench::StatusKb("VmHWM");
    const double pixels = double(width) * height;

    std::printf("\nTimes in ms: wall clock (processor time of the thread)\n");
    std::printf("open (load, reduced copies, fit zoom): %.0f (%.0f)   [goal < 1000]\n", open.wallMs, open.cpuMs);
    std::printf("first repaint with the overlay (reads temp.lix): %.1f (%.1f)\n", firstOverlay.wallMs,
                firstOverlay.cpuMs);
    std::printf("%10s %20s %20s %20s   [goal < 30], medians of 9\n", "zoom", "repaint", "with overlay",
                "scrolled, overlay");
    for (const Row& row : rows) {
        std::printf("%10.4f %12.1f (%5.1f) %12.1f (%5.1f) %12.1f (%5.1f)\n", row.zoom, row.plain.wallMs,
                    row.plain.cpuMs, row.overlay.wallMs, row.overlay.cpuMs, row.scrolled.wallMs, row.scrolled.cpuMs);
    }
    std::printf("resident before opening: %.1f MB (%.3f bytes per image pixel)\n", residentBefore / 1024.0,
                residentBefore * 1024.0 / pixels);
    std::printf("resident peak: %.1f MB = %.3f bytes per image pixel   [goal < 1.5]\n", peakKb / 1024.0,
                peakKb * 1024.0 / pixels);

    viewer.close();
    std::filesystem::remove_all(folder);
    return 0;
}
