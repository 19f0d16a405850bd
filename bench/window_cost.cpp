// window_cost: what a run costs in the main window against the same job
// through vemo-trace.
//
// Usage:  window_cost IMAGE [pairs]        (default: 5 pairs)
//
// IMAGE is a 1-bit BMP, for example the A0 sheet at 600 dpi:
//   build/bench/make_drawing draw 28086 19866 1 a0-600.bmp
// Each pair runs the job once through the window (offscreen, in this
// process: the fields filled, the text, DXF and A10 formats ticked, a click
// on "トレース実行", waiting for the end of the run) and once through
// vemo-trace with the same formats and the intermediate files beside the
// image as the window writes them (--keep-temp), taking turns on which
// goes first. Prints each pair's wall-clock times and their ratio, then
// the median ratio; the goal is at most 1.10. The outputs go to a
// temporary folder removed at the end.
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Vemo_main.h"
#include "common/Vemo_sys.h"
#include "image/Vemo_susie.h"
#include "viewer/Vemo_viewer.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double RunCommandLine(const std::string& image, const std::string& output) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string system = VEMO_SYSTEM_DIR;
        ::execl(VEMO_TRACE_PATH, "vemo-trace", "-q", "--keep-temp", "--txt", "--dxf", "--a10", "--no-svg", "--no-flip-x",
                "--no-flip-y", "--x-ratio", "1", "--y-ratio", "1", "--system-folder", system.c_str(), "-o",
                output.c_str(), image.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "vemo-trace failed\n");
        std::exit(1);
    }
    return Seconds(start);
}

double RunWindow(TVemo_mainF& window) {
    const auto start = std::chrono::steady_clock::now();
    // Waiting as the program's event loop does: asleep until an event comes.
    QEventLoop loop;
    QObject::connect(&window, &TVemo_mainF::runFinished, &loop, &QEventLoop::quit);
    window.findChild<QPushButton*>("Button3")->click();
    if (window.IsRunning()) loop.exec();
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_cost IMAGE [pairs]\n");
        return 2;
    }
    const std::string image = std::filesystem::absolute(argv[1]).string();
    const int pairs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    const std::filesystem::path work = std::filesystem::temp_directory_path() / ("window_cost-" + std::to_string(::getpid()));
    std::filesystem::create_directories(work / "window");
    std::filesystem::create_directories(work / "cli");

    std::vector<std::string> messages;
    const MessageSink collect = [&messages](const std::string& text) { messages.push_back(text); };
    TVemo_mainF window;
    TVemo_viewareF viewer(&window);
    TVemo_sysF settings(VEMO_SYSTEM_DIR, collect);
    TVemo_susieF susie(collect);
    window.Attach(viewer, settings, susie);
    window.SetMessageSink(collect);
    window.show();
    window.findChild<QLineEdit*>("Edit1")->setText(QString::fromStdString(image));
    window.findChild<QLineEdit*>("Edit2")->setText(QString::fromStdString((work / "window").string()));
    for (const char* name : {"CheckBox1", "CheckBox2"}) window.findChild<QCheckBox*>(name)->setChecked(false);
    for (const char* name : {"CheckBox3", "CheckBox4", "CheckBox5"}) window.findChild<QCheckBox*>(name)->setChecked(true);
    window.findChild<QLineEdit*>("Edit3")->setText(" 1.000");
    window.findChild<QLineEdit*>("Edit4")->setText(" 1.000");

    std::vector<double> ratios;
    for (int pair = 0; pair < pairs; ++pair) {
        double inWindow = 0.0;
        double onCommandLine = 0.0;
        if (pair % 2 == 0) {
            inWindow = RunWindow(window);
            onCommandLine = RunCommandLine(image, (work / "cli").string());
        } else {
            onCommandLine = RunCommandLine(image, (work / "cli").string());
            inWindow = RunWindow(window);
        }
        if (messages.empty() || messages.back().find("time:") == std::string::npos) {
            std::fprintf(stderr, "the window's run failed: %s\n", messages.empty() ? "" : messages.back().c_str());
            return 1;
        }
        ratios.push_back(inWindow / onCommandLine);
        const std::string& told = messages.back();
        std::printf("pair %d: window %.3f s (trace %s), vemo-trace %.3f s, ratio %.3f\n", pair + 1, inWindow,
                    told.substr(told.find("time:") + 5).c_str(), onCommandLine, ratios.back());
        std::fflush(stdout);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("median ratio over %d pairs: %.3f (goal: at most 1.10)\n", pairs, ratios[ratios.size() / 2]);
    window.close();
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return 0;
}
