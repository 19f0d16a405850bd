// Vemo_main: the main window TVemo_mainF.
//
// Collects the image file, the output folder, the axis flips, the ratios
// and the output formats; runs one trace job per click of "トレース実行" on
// a worker thread, while the window stays responsive: the status panel
// shows the stage text and a progress bar (each stage, then each file
// written), and its "中止" button stops the run. Opens the viewer and the
// help document; carries the settings from one program run to the next
// through the settings holder.
//
// Reads: "Vemo.sys" (through TVemo_sysF) at first show. Writes: "Vemo.sys"
// at close, unless start-up failed; deletes the last run's four
// intermediate files at close while they belong to the image in Edit1 and
// are still the files that run wrote.
//
// The lock on the intermediate files' folder is held during a run and
// while the viewer shows the run's files, never while the window is idle:
// another run (vemo-trace --keep-temp) may use the folder in between, so
// before the viewer draws the run's lines the window checks, under the
// lock, that the files are still the ones its run wrote.
//
// Messages of a run (the job's, the loader's) are collected on the worker
// thread and shown, in their order, when the run has ended. Closing the
// window during a run asks whether to stop it; the window closes once the
// stopped run has cleaned up.
//
// The controls come from resources/Vemo_main.ui and keep its names
// (Edit1, CheckBox3, Panel5, ...): tests and the viewer find them by name.
#pragma once

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QIcon>
#include <QString>
#include <QWidget>

#include "base/Vemo_folderlock.h"
#include "common/Vemo_sys.h"
#include "job/Vemo_comp.h"
#include "trace/Vemotrace_types.h"

class QProgressBar;
class QPushButton;
class QMimeData;
class TVemo_susieF;
class TVemo_viewareF;
namespace Ui {
class TVemo_mainF;
}

// The caption of every message box, and the program's name for the system.
inline constexpr const char* kApplicationTitle = "Vemo";

// Shows `text` in a plain modal message box: application title, one OK
// button, no icon.
void ShowMessage(QWidget* owner, const std::string& text);

// Shows an error that stopped an operation: its text in an error box.
void ShowError(QWidget* owner, std::exception_ptr error);

// The window definitions name the font their captions were laid out with;
// this maps it to the proportional Japanese Gothic that Debian ships, so
// that the captions keep their widths. Call before the first window exists.
void MapWindowFont();

// The program icon (resources/vemo.svg) for the application and its windows.
QIcon ProgramIcon();

// The one local, regular file in a drop, or empty when the drop holds
// anything else (several files, a folder, a remote address).
QString DroppedImagePath(const QMimeData* data);

class TVemo_mainF : public QWidget {
    Q_OBJECT

public:
    // Runs FormCreate. The viewer, the settings holder and the plug-in
    // loader are created after the window and handed over with Attach.
    explicit TVemo_mainF(QWidget* parent = nullptr);
    ~TVemo_mainF() override;
    TVemo_mainF(const TVemo_mainF&) = delete;
    TVemo_mainF& operator=(const TVemo_mainF&) = delete;

    void Attach(TVemo_viewareF& viewer, TVemo_sysF& settings, TVemo_susieF& susie);

    // 1 while the last run's results belong to the image path in Edit1.
    int IsResultsCurrent() const { return m_resultsCurrent; }
    TraceResult LastResult() const { return m_lastResult; }

    // True from a click of "トレース実行" until its run has ended and its
    // messages have been shown; runFinished() is signalled then.
    bool IsRunning() const { return m_run != nullptr; }
    // Stops the run in progress (the "中止" button).
    void StopRun();

    // A second start asked for this window: show it in front, restored
    // when it is minimised.
    void BringToFront();

    // Where the window's messages go; a message box by default.
    void SetMessageSink(MessageSink messages);
    // The window's messages, for the windows it opens.
    MessageSink Messages() const;
    // The image file dialog (OpenDialog1): the chosen path, or empty when
    // cancelled. A file-open dialog without filter, title or start folder
    // by default.
    void SetImageFileChooser(std::function<QString()> chooser);
    // The folder chooser used by Button2; ChooseFolder by default.
    void SetFolderChooser(std::function<std::string(QWidget*, const std::string&)> chooser);
    // Asked when the window is closed during a run: true stops the run and
    // closes the window after it. A yes/no message box by default.
    void SetQuestion(std::function<bool(const std::string&)> ask);
    // Runs on the worker thread before each job (tests hold a run there).
    void SetWorkerGate(std::function<void()> gate);

    // Event handlers and operations, named after the window definition.
    void FormCreate();
    void FormShow();
    void FormClose();
    void Edit1Change();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    SettingsRecord LoadFromSettings();
    void SaveToSettings();
    // An image file dropped on the window: it fills the image field, and
    // the output folder field when that is empty.
    void DropImageFile(const QString& path);

signals:
    void runFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct Run;
    // What the window knows of a file its run wrote, to tell it apart from
    // a file another run wrote there since.
    struct FileStamp {
        bool exists = false;
        unsigned long long device = 0, inode = 0;
        long long size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
        bool operator==(const FileStamp&) const = default;
    };
    using Stamps = std::array<FileStamp, 4>;
    static Stamps StampsOf(const TraceResult& result);

    TraceOptions CollectOptions() const;
    void SetStatusText(const QString& text);
    void AddRunControls();
    void StartRun(const std::string& imagePath, const std::string& outputFolder);
    void FinishRun();
    // Takes the lock on the last run's folder and checks its files; false
    // (and the results no longer current) when they are no longer its own.
    bool LockOwnFiles(TVemo_folderlock& lock);
    void DeleteIntermediateFiles();
    void Tell(const std::string& text) const;
    // From the worker thread: runs `update` on the window's thread.
    void Post(std::function<void()> update);

    std::unique_ptr<Ui::TVemo_mainF> m_ui;
    TVemo_viewareF* m_viewer = nullptr;
    TVemo_sysF* m_settingsHolder = nullptr;
    TVemo_susieF* m_susie = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_stopButton = nullptr;
    std::unique_ptr<Run> m_run;
    bool m_closeAfterRun = false;
    Stamps m_stamps;
    // The messages of the run in progress, shown when it ends.
    mutable std::mutex m_pendingMutex;
    mutable std::vector<std::string> m_pending;

    SettingsRecord m_settings;
    TraceResult m_lastResult;
    int m_resultsCurrent = 0;
    int m_skipSave = 0;
    bool m_shown = false;

    MessageSink m_messages;
    std::function<QString()> m_chooseImageFile;
    std::function<std::string(QWidget*, const std::string&)> m_chooseFolder;
    std::function<bool(const std::string&)> m_ask;
    std::function<void()> m_workerGate;
};
