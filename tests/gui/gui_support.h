// Helpers shared by the window tests: a private system folder, a small
// drawing, and the program's long-lived objects wired as at start-up with
// every message collected instead of shown.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stdlib.h>

#include <QImage>
#include <QString>

#include "app/Vemo_main.h"
#include "app/Vemo_sys.h"
#include "app/Vemo_viewarestub.h"
#include "image/Vemo_susie.h"

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vemo-gui-XXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A copy of the delivered system folder (base image, plug-ins) in
// `folder`/Vemosys, with `settings` as its Vemo.sys.
inline std::string MakeSystemFolder(const ScratchFolder& folder, const std::string& settings) {
    const std::string system = folder.File("Vemosys");
    std::filesystem::copy(VEMO_SYSTEM_DIR, system, std::filesystem::copy_options::recursive);
    WriteBytes(system + "/Vemo.sys", settings);
    return system;
}

// A cross and a small square outline, as a 1-bit BMP.
inline void WriteDrawing(const std::string& path) {
    QImage image(60, 40, QImage::Format_Mono);
    image.setColor(0, qRgb(0, 0, 0));
    image.setColor(1, qRgb(255, 255, 255));
    image.fill(1);
    for (int x = 5; x < 55; ++x) image.setPixel(x, 20, 0);
    for (int y = 5; y < 35; ++y) image.setPixel(30, y, 0);
    for (int i = 10; i < 20; ++i) {
        image.setPixel(i, 5, 0);
        image.setPixel(i, 14, 0);
        image.setPixel(10, i - 5, 0);
        image.setPixel(19, i - 5, 0);
    }
    image.save(QString::fromStdString(path), "BMP");
}

// The start-up objects in their order, messages collected.
struct Program {
    explicit Program(const std::string& systemFolder)
        : viewer(mainF), settings(systemFolder, Sink()), susie(Sink()) {
        mainF.Attach(viewer, settings, susie);
        viewer.Attach(settings, susie);
        mainF.SetMessageSink(Sink());
    }
    MessageSink Sink() {
        return [this](const std::string& text) { messages.push_back(text); };
    }

    std::vector<std::string> messages;
    TVemo_mainF mainF;
    TVemo_viewareF viewer;
    TVemo_sysF settings;
    TVemo_susieF susie;
};

inline const char* kIntermediateNames[] = {"temp.sqr", "temp.sqo", "temp.pxy", "temp.lix"};
