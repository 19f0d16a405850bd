// Vemo_main: the main window TVemo_mainF.
//
// Collects the image file, the output folder, the axis flips, the ratios
// and the output formats; runs one trace job per click of "トレース実行" on
// the window's own thread (the status panel is repainted after each stage
// text, since no events are processed while the job runs); opens the
// viewer and the help document; carries the settings from one program run
// to the next through the settings holder.
//
// Reads: "Vemo.sys" (through TVemo_sysF) at first show. Writes: "Vemo.sys"
// at close, unless start-up failed; deletes the last run's four
// intermediate files at close while they belong to the image in Edit1.
// While those files are in use the window holds the lock on their folder,
// so that no other run in that folder replaces them under the viewer.
//
// The controls come from resources/Vemo_main.ui and keep its names
// (Edit1, CheckBox3, Panel5, ...): tests and the viewer find them by name.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include <QIcon>
#include <QString>
#include <QWidget>

#include "base/Vemo_folderlock.h"
#include "common/Vemo_sys.h"
#include "job/Vemo_comp.h"
#include "trace/Vemotrace_types.h"

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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    TraceOptions CollectOptions() const;
    void SetStatusText(const QString& text);
    void DeleteIntermediateFiles();
    void Tell(const std::string& text) const;

    std::unique_ptr<Ui::TVemo_mainF> m_ui;
    TVemo_viewareF* m_viewer = nullptr;
    TVemo_sysF* m_settingsHolder = nullptr;
    TVemo_susieF* m_susie = nullptr;
    // Held from a run until its files are no longer the window's: another
    // run in that folder would replace them under the viewer.
    TVemo_folderlock m_folderLock;

    SettingsRecord m_settings;
    TraceResult m_lastResult;
    int m_resultsCurrent = 0;
    int m_skipSave = 0;
    bool m_shown = false;

    MessageSink m_messages;
    std::function<QString()> m_chooseImageFile;
    std::function<std::string(QWidget*, const std::string&)> m_chooseFolder;
};
