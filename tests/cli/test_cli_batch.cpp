// vemo-trace batches (-j): the files are those of one-at-a-time runs, each
// image's texts stay together in argument order, and a failed or killed
// trace fails only its own image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "drawing_support.h"
#include "test_support.h"

namespace {

const std::string kTrace = std::string("'") + VEMO_BUILD_DIR + "/vemo-trace'";

// Runs a shell command; returns its exit status (-1 when it did not exit).
int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// A monochrome BMP (1 bit, colour 0 black) whose ink is `ink(x, y)`.
void WriteBmp(const std::string& path, int width, int height, const std::function<bool(int, int)>& ink) {
    const uint32_t stride = (static_cast<uint32_t>(width) + 31) / 32 * 4;
    std::string bytes;
    const auto put = [&bytes](uint32_t value, int size) {
        for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    bytes += "BM";
    put(62 + stride * height, 4), put(0, 4), put(62, 4);
    put(40, 4), put(width, 4), put(height, 4), put(1, 2), put(1, 2), put(0, 4), put(stride * height, 4);
    put(2835, 4), put(2835, 4), put(2, 4), put(0, 4), put(0, 4), put(0xFFFFFF, 4);
    for (int y = height - 1; y >= 0; --y) {
        std::string row(stride, '\0');
        for (int x = 0; x < width; ++x) {
            if (!ink(x, y)) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        }
        bytes += row;
    }
    WriteFile(path, bytes);
}

// A grid of strokes that differs per `seed`, so every image has files of its own.
void WriteDrawing(const std::string& path, int seed) {
    const int width = 200 + 16 * seed, height = 160 + 8 * seed;
    WriteBmp(path, width, height, [=](int x, int y) {
        const bool wall = (x % (30 + seed) < 3) || (y % (24 + 2 * seed) < 2 + seed % 3);
        const bool diagonal = std::abs(x - y - 5 * seed) < 2;
        return x > 4 && y > 4 && x < width - 5 && y < height - 5 && (wall || diagonal);
    });
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// The images of one folder, some of which fail: a file that is no BMP, a
// BMP cut short and a name that does not exist. Traced with -j 4, then
// one call per image; both must give the same files, byte for byte, and
// the batch's texts must come in argument order, one image at a time.
// Catches shared intermediate files, output written by the wrong child,
// texts of two images interleaved and completion lines in finishing order.
TEST(CliBatch, FourAtATimeGivesTheFilesOfOneAtATimeAndKeepsTheArgumentOrder) {
    TempFolder folder;
    const std::string images = folder.File("scans");
    std::filesystem::create_directories(images);
    std::vector<std::string> names;
    for (int seed = 1; seed <= 9; ++seed) {
        names.push_back("drawing" + std::to_string(seed) + ".bmp");
        WriteDrawing(images + "/" + names.back(), seed);
    }
    names.insert(names.begin() + 2, "notbmp.bmp");
    WriteFile(images + "/notbmp.bmp", "not a picture at all");
    names.insert(names.begin() + 5, "cut.bmp");
    WriteFile(images + "/cut.bmp", ReadFile(images + "/drawing1.bmp").substr(0, 700));
    names.insert(names.begin() + 7, "missing.bmp");
    const std::vector<std::string> failing = {"notbmp.bmp", "cut.bmp", "missing.bmp"};

    const std::string formats = " --txt --dxf --a10 --svg ";
    std::string arguments;
    for (const std::string& name : names) arguments += " " + Quoted(images + "/" + name);
    std::filesystem::create_directory(folder.File("batch"));
    const int batchStatus = Shell(kTrace + " -j 4" + formats + "-o " + Quoted(folder.File("batch")) + arguments +
                                  " >" + Quoted(folder.File("out.txt")) + " 2>" + Quoted(folder.File("all.txt")));
    EXPECT_EQ(batchStatus, 1) << "some images failed";

    std::filesystem::create_directory(folder.File("single"));
    for (const std::string& name : names) {
        const bool fails = std::find(failing.begin(), failing.end(), name) != failing.end();
        EXPECT_EQ(Shell(kTrace + formats + "-o " + Quoted(folder.File("single")) + " " +
                        Quoted(images + "/" + name) + " >/dev/null 2>&1"),
                  fails ? 1 : 0)
            << name;
    }

    const std::vector<std::string> written = Sorted(FilesIn(folder.File("single")));
    EXPECT_EQ(written.size(), 4u * 9u);
    EXPECT_EQ(Sorted(FilesIn(folder.File("batch"))), written);
    for (const std::string& name : written) {
        EXPECT_TRUE(ReadFile(folder.File("batch/" + name)) == ReadFile(folder.File("single/" + name)))
            << name << " differs";
    }
    EXPECT_EQ(Sorted(FilesIn(images)).size(), names.size() - 1) << "no intermediate files left beside the images";

    // Standard output: the completion lines of the traced images, in order.
    std::vector<std::string> completions;
    for (const std::string& line : Lines(ReadFile(folder.File("out.txt")))) {
        completions.push_back(line.substr(0, line.find("をトレースしました。")));
    }
    std::vector<std::string> traced;
    for (const std::string& name : names) {
        if (std::find(failing.begin(), failing.end(), name) == failing.end()) traced.push_back(images + "/" + name);
    }
    EXPECT_EQ(completions, traced);

    // Standard error: one group per image, each from its loading text to
    // "トレース完了"; a line that names an image names the group's own.
    const std::vector<std::string> errors = Lines(ReadFile(folder.File("all.txt")));
    std::size_t group = 0;
    bool open = false;
    for (const std::string& line : errors) {
        ASSERT_LT(group, names.size()) << "more groups than images: " << line;
        if (!open) {
            EXPECT_EQ(line, "1.画像読込み") << "group " << group << " (" << names[group] << ")";
            open = true;
        }
        for (const std::string& other : names) {
            if (other != names[group] && line.find("/" + other) != std::string::npos) {
                ADD_FAILURE() << "the texts of " << names[group] << " hold " << line;
            }
        }
        if (line == "トレース完了") {
            open = false;
            ++group;
        }
    }
    EXPECT_EQ(group, names.size());
    EXPECT_FALSE(open);
}

// A trace that is killed (as when memory runs out) fails its own image,
// with a text that names it; the images around it are traced.
TEST(CliBatch, AKilledTraceFailsOnlyItsOwnImage) {
    TempFolder folder;
    const std::string system = folder.File("Vemosys");
    std::filesystem::create_directory(system);
    for (const auto& entry : std::filesystem::directory_iterator(VEMO_SYSTEM_DIR)) {
        std::filesystem::copy(entry.path(), system + "/" + entry.path().filename().string());
    }
    std::filesystem::copy_file(std::string(VEMO_FAKE_SPI_DIR) + "/fake_killed.spi", system + "/fake_killed.spi");
    std::string settings = ReadFile(system + "/Vemo.sys");
    const std::size_t key = settings.find("PNGSPI=");
    ASSERT_NE(key, std::string::npos);
    settings.replace(key, settings.find('\n', key) - key, "PNGSPI=fake_killed.spi");
    WriteFile(system + "/Vemo.sys", settings);

    WriteDrawing(folder.File("first.bmp"), 1);
    WriteFile(folder.File("killed.png"), "FAKE picture");
    WriteDrawing(folder.File("last.bmp"), 2);
    const int status = Shell(kTrace + " -j 2 --system-folder " + Quoted(system) + " " + Quoted(folder.File("first.bmp")) +
                             " " + Quoted(folder.File("killed.png")) + " " + Quoted(folder.File("last.bmp")) + " >" +
                             Quoted(folder.File("out.txt")) + " 2>" + Quoted(folder.File("err.txt")));
    EXPECT_EQ(status, 1);
    const std::vector<std::string> out = Lines(ReadFile(folder.File("out.txt")));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].rfind(folder.File("first.bmp") + "をトレースしました。", 0), 0u);
    EXPECT_EQ(out[1].rfind(folder.File("last.bmp") + "をトレースしました。", 0), 0u);
    const std::string err = ReadFile(folder.File("err.txt"));
    EXPECT_NE(err.find(folder.File("killed.png") + "のトレースが途中で終了しました。（signal 9"), std::string::npos)
        << err;
    EXPECT_NE(err.find(folder.File("killed.png") + "は処理できません。"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::exists(folder.File("first.txt")));
    EXPECT_TRUE(std::filesystem::exists(folder.File("last.txt")));
}

// Usage: -j takes a number of images from 1 up. The progress line shows
// on a terminal only, and not with --quiet.
TEST(CliBatch, RefusesABadJobCountAndDrawsProgressOnATerminalOnly) {
    TempFolder folder;
    for (const char* jobs : {"0", "-1", "x", "2x", "99999", ""}) {
        EXPECT_EQ(Shell(kTrace + " -j '" + jobs + "' a.bmp b.bmp >/dev/null 2>&1"), 2) << "-j '" << jobs << "'";
    }
    WriteDrawing(folder.File("a.bmp"), 1);
    WriteDrawing(folder.File("b.bmp"), 2);
    EXPECT_EQ(Shell(kTrace + " --jobs 2 -q " + Quoted(folder.File("a.bmp")) + " " + Quoted(folder.File("b.bmp")) +
                    " 2>" + Quoted(folder.File("err.txt")) + " >/dev/null"),
              0);
    EXPECT_EQ(ReadFile(folder.File("err.txt")), "") << "--quiet: no stage texts, no progress line";

    // On a terminal (script(1) gives the run one) the line shows the count
    // done, and --quiet turns it off.
    const std::string images = Quoted(folder.File("a.bmp")) + " " + Quoted(folder.File("b.bmp"));
    const auto onTerminal = [&](const std::string& options) {
        const std::string command = kTrace + " -j 2 " + options + " " + images;
        EXPECT_EQ(Shell("script -qec \"" + command + "\" /dev/null >" + Quoted(folder.File("tty.txt"))), 0);
        return ReadFile(folder.File("tty.txt"));
    };
    EXPECT_NE(onTerminal("").find("\r\033[K2/2 images, 0:0"), std::string::npos);
    EXPECT_EQ(onTerminal("-q").find("images, "), std::string::npos);
}

}  // namespace
