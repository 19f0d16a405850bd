// Helpers shared by the window tests: a private system folder, a small
// drawing, and the program's long-lived objects wired as at start-up with
// every message collected instead of shown.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <QEvent>
#include <QPushButton>
#include <QTest>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QStringList>

#include "app/Vemo_main.h"
#include "common/Vemo_sys.h"
#include "drawing_support.h"
#include "image/Vemo_susie.h"
#include "test_support.h"
#include "viewer/Vemo_viewer.h"

// A copy of the delivered system folder (base image, plug-ins) in
// `folder`/Vemosys, with `settings` as its Vemo.sys.
inline std::string MakeSystemFolder(const TempFolder& folder, const std::string& settings) {
    const std::string system = folder.File("Vemosys");
    std::filesystem::copy(VEMO_SYSTEM_DIR, system, std::filesystem::copy_options::recursive);
    WriteFile(system + "/Vemo.sys", settings);
    return system;
}

// The start-up objects in their order, messages collected.
struct Program {
    explicit Program(const std::string& systemFolder)
        : viewer(&mainF), settings(systemFolder, Sink()), susie(Sink()) {
        mainF.Attach(viewer, settings, susie);
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

// A control of the window definition, by name.
template <typename T>
T* Find(QWidget& window, const char* name) {
    T* control = window.findChild<T*>(name);
    if (control == nullptr) qFatal("no control %s", name);
    return control;
}

// The test drawing in `drawings`, storing `pelsPerMeter` (0: no
// resolution; by default 72 dpi, as QImage writes it), with the folders
// "gui" and "job" for the window's and a direct job's output, and the
// window's fields set to them.
[[nodiscard]] inline bool PrepareWindowAndJobRuns(Program& program, const std::string& drawings,
                                                  uint32_t pelsPerMeter = 2835) {
    std::filesystem::create_directories(drawings + "/gui");
    std::filesystem::create_directories(drawings + "/job");
    if (!WriteDrawingAt(drawings + "/plan.bmp", pelsPerMeter)) return false;
    Find<QLineEdit>(program.mainF, "Edit1")->setText(QString::fromStdString(drawings + "/plan.bmp"));
    Find<QLineEdit>(program.mainF, "Edit2")->setText(QString::fromStdString(drawings + "/gui"));
    return true;
}

// Collects the text of `label` each time it is painted with a new text.
class PaintRecorder : public QObject {
public:
    PaintRecorder(QLabel* label, QStringList& texts) : m_label(label), m_texts(texts) { label->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_label && event->type() == QEvent::Paint && m_texts.value(m_texts.size() - 1) != m_label->text()) {
            m_texts.append(m_label->text());
        }
        return false;
    }

private:
    QLabel* m_label;
    QStringList& m_texts;
};

// Clicks "トレース実行" and waits until the run it started, if any, has
// ended and its messages have been given.
[[nodiscard]] inline bool ClickRunAndWait(TVemo_mainF& window) {
    QTest::mouseClick(Find<QPushButton>(window, "Button3"), Qt::LeftButton);
    return QTest::qWaitFor([&window] { return !window.IsRunning(); }, 300000);
}
