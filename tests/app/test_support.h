// Helpers shared by the app tests: a temporary folder and file I/O.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stdlib.h>

#include <QImage>
#include <QString>

// A fresh folder under the system's temporary folder, removed at the end.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vemo-test-XXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

// A cross and a small square outline, as a 1-bit BMP.
[[nodiscard]] inline bool WriteDrawing(const std::string& path) {
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
    return image.save(QString::fromStdString(path), "BMP");
}
