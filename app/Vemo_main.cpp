// Vemo_main: the main window.
#include "app/Vemo_main.h"

#include <filesystem>
#include <new>
#include <string_view>
#include <thread>
#include <utility>

#include <malloc.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QUrl>

#include "app/Vemo_language.h"
#include "app/Vemo_options.h"
#include "app/Vemodirectory_box.h"
#include "base/Vemo_fileerror.h"
#include "base/Vemo_path.h"
#include "common/Vemo_common.h"
#include "common/Vemo_texts.h"
#include "export/Vemo_dxftemplate.h"
#include "ui_Vemo_main.h"
#include "viewer/Vemo_viewer.h"

namespace {

std::string TextOf(const QLineEdit* edit) { return edit->text().toStdString(); }

std::string FlagOf(const QCheckBox* box) { return box->isChecked() ? "1" : "0"; }

// The status panel grows by this much below the stage text for the
// progress bar and the "中止" button.
constexpr int kRunControlsHeight = 28;

// The ratio as the window shows it: a space, then three decimals.
QString DisplayedRatio(const std::string& stored) {
    return QString::fromStdString(FormatNumber(" %.3lf", ParseNumber(stored)));
}

}  // namespace

void ShowMessage(QWidget* owner, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, QString::fromStdString(text), QMessageBox::Ok, owner);
    box.exec();
}

void ShowError(QWidget* owner, std::exception_ptr error) {
    std::string text;
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        text = texts::kReasonNoMemory;
    } catch (const std::exception& known) {
        text = known.what();
    } catch (...) {
        // An error of an unknown kind has no text to show.
    }
    QMessageBox::critical(owner, kApplicationTitle, TranslateMessage(text));
}

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/vemo.svg")); }

void MapWindowFont() { QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")); }

TVemo_mainF::TVemo_mainF(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui::TVemo_mainF>()) {
#ifdef __GLIBC__
    // The run's worker thread would get a malloc arena of its own, which
    // hands its memory back between the stages and takes it again page by
    // page: a run in the window cost a fifth more than through vemo-trace.
    // One arena, as in vemo-trace's one thread (bench/window_cost).
    mallopt(M_ARENA_MAX, 1);
#endif
    m_ui->setupUi(this);
    m_messages = [this](const std::string& text) { ShowMessage(this, text); };
    m_chooseImageFile = [this] { return QFileDialog::getOpenFileName(this); };
    m_chooseFolder = ChooseFolder;
    m_ask = [this](const std::string& question) {
        return QMessageBox::question(this, kApplicationTitle, TranslateMessage(question),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };
    setWindowIcon(ProgramIcon());
    setAcceptDrops(true);
    ConnectWindowOptions(*this);

    connect(m_ui->Edit1, &QLineEdit::textChanged, this, &TVemo_mainF::Edit1Change);
    const std::pair<QPushButton*, void (TVemo_mainF::*)()> buttons[] = {
        {m_ui->Button1, &TVemo_mainF::Button1Click}, {m_ui->Button2, &TVemo_mainF::Button2Click},
        {m_ui->Button3, &TVemo_mainF::Button3Click}, {m_ui->Button4, &TVemo_mainF::Button4Click},
        {m_ui->Button5, &TVemo_mainF::Button5Click}, {m_ui->Button6, &TVemo_mainF::Button6Click},
    };
    for (const auto& [button, handler] : buttons) {
        // An error must not unwind through Qt's event code: it stops here,
        // is shown, and the window carries on.
        connect(button, &QPushButton::clicked, this, [this, handler = handler] {
            try {
                (this->*handler)();
            } catch (...) {
                ShowError(this, std::current_exception());
            }
        });
    }
    FormCreate();
}

// One run in progress: the job on its worker thread, the flag that stops
// it and the lock on its folder, which the window takes so that a busy
// folder is told at once.
struct TVemo_mainF::Run {
    std::string imagePath;
    TVemo_folderlock lock;
    CancelFlag cancel;
    std::unique_ptr<TVemo_comp> job;
    std::thread worker;
};

TVemo_mainF::~TVemo_mainF() {
    // The program ends during a run only when the window was closed some
    // other way than by the user (the session ends): stop it and wait.
    if (m_run && m_run->worker.joinable()) {
        m_run->cancel.Request();
        m_run->worker.join();
    }
}

void TVemo_mainF::Attach(TVemo_viewareF& viewer, TVemo_sysF& settings, TVemo_susieF& susie) {
    m_viewer = &viewer;
    m_settingsHolder = &settings;
    m_susie = &susie;
    // The viewer loads through the same holder and plug-ins, tells the user
    // through this window and offers its line drawing while this window's
    // results belong to the image.
    viewer.SetContext({&settings, &susie, Messages(), [this] { return IsResultsCurrent(); }});
    viewer.setFont(font());
}

void TVemo_mainF::SetMessageSink(MessageSink messages) { m_messages = std::move(messages); }

MessageSink TVemo_mainF::Messages() const {
    return [this](const std::string& text) { Tell(text); };
}

void TVemo_mainF::SetImageFileChooser(std::function<QString()> chooser) { m_chooseImageFile = std::move(chooser); }

void TVemo_mainF::SetFolderChooser(std::function<std::string(QWidget*, const std::string&)> chooser) {
    m_chooseFolder = std::move(chooser);
}

void TVemo_mainF::SetQuestion(std::function<bool(const std::string&)> ask) { m_ask = std::move(ask); }

void TVemo_mainF::SetWorkerGate(std::function<void()> gate) { m_workerGate = std::move(gate); }

void TVemo_mainF::Tell(const std::string& text) const {
    // No message box may open on the worker thread: its messages wait for
    // the end of the run.
    if (QThread::currentThread() != thread()) {
        const std::lock_guard<std::mutex> guard(m_pendingMutex);
        m_pending.push_back(text);
        return;
    }
    if (!m_messages) return;
    // Untranslated, the text goes on as its bytes: a path need not be UTF-8.
    const QString translated = TranslateMessage(text);
    m_messages(translated == QString::fromStdString(text) ? text : translated.toStdString());
}

void TVemo_mainF::Post(std::function<void()> update) {
    QMetaObject::invokeMethod(this, std::move(update), Qt::QueuedConnection);
}

void TVemo_mainF::FormCreate() {
    m_skipSave = 0;
    setFixedSize(size());
    m_ui->Panel5->setBackgroundRole(QPalette::Highlight);
    m_ui->Panel5->setForegroundRole(QPalette::HighlightedText);
    if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
    // The template travels as bytes (its line-type texts hold single 0xA5
    // bytes); Latin-1 carries every byte through the list unchanged.
    for (const std::string& item : DxfTemplate()) {
        m_ui->ListBox1->addItem(QString::fromLatin1(item.data(), static_cast<qsizetype>(item.size())));
    }
    AddRunControls();
}

// The progress bar and the "中止" button, below the stage text.
void TVemo_mainF::AddRunControls() {
    QWidget* panel = m_ui->Panel4;
    const int top = panel->height() - 2;
    panel->resize(panel->width(), panel->height() + kRunControlsHeight);
    m_progress = new QProgressBar(panel);
    m_progress->setObjectName(QStringLiteral("RunProgress"));
    m_progress->setGeometry(8, top, 205, 22);
    m_progress->setRange(0, 100);
    m_stopButton = new QPushButton(TranslateMessage(texts::kStopButton), panel);
    m_stopButton->setObjectName(QStringLiteral("StopButton"));
    m_stopButton->setGeometry(221, top - 1, 72, 25);
    connect(m_stopButton, &QPushButton::clicked, this, &TVemo_mainF::StopRun);
}

void TVemo_mainF::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous() || m_shown) return;
    m_shown = true;
    FormShow();
}

void TVemo_mainF::FormShow() {
    setWindowTitle(QString::fromUtf8(texts::kMainCaption));
    m_settings = LoadFromSettings();
    m_ui->Edit1->setText(QString::fromStdString(m_settings.defData));
    m_ui->Edit2->setText(QString::fromStdString(m_settings.defFld));
    m_resultsCurrent = 0;
    QWidget* panel = m_ui->Panel4;
    panel->hide();
    // Centred over the first controls, which end where the options begin,
    // as the stage text alone would be; the run controls hang below.
    const int textHeight = panel->height() - kRunControlsHeight;
    panel->move(width() / 2 - panel->width() / 2, m_ui->Panel7->y() / 2 - textHeight / 2);
}

SettingsRecord TVemo_mainF::LoadFromSettings() {
    SettingsRecord record;
    if (m_settingsHolder->CheckSettingsFile() == 1) {
        // Start-up failed: end the program without writing anything. The
        // close waits for the event loop, since the window is being shown.
        m_skipSave = 1;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    } else {
        record = m_settingsHolder->GetSettings();
        ApplyWindowOptions(*this, *m_settingsHolder);
    }
    const std::pair<const std::string*, QCheckBox*> flags[] = {
        {&record.xAxis, m_ui->CheckBox1}, {&record.yAxis, m_ui->CheckBox2}, {&record.expTxt, m_ui->CheckBox3},
        {&record.expDxf, m_ui->CheckBox4}, {&record.expA10, m_ui->CheckBox5},
    };
    for (const auto& [value, box] : flags) {
        if (*value == "1") box->setChecked(true);
    }
    if (record.xRatio.empty()) record.xRatio = "1.0";
    if (record.yRatio.empty()) record.yRatio = "1.0";
    m_ui->Edit3->setText(DisplayedRatio(record.xRatio));
    m_ui->Edit4->setText(DisplayedRatio(record.yRatio));
    return record;
}

void TVemo_mainF::closeEvent(QCloseEvent* event) {
    if (m_run) {
        // Never lost: a close during a run either stops the run and closes
        // the window once it has cleaned up, or is declined by the user.
        event->ignore();
        if (!m_closeAfterRun && m_ask && m_ask(texts::kStopAndClose)) {
            m_closeAfterRun = true;
            StopRun();
        }
        return;
    }
    FormClose();
    event->accept();
}

void TVemo_mainF::FormClose() {
    if (m_skipSave == 0) SaveToSettings();
    TVemo_folderlock lock;
    if (m_resultsCurrent == 1 && LockOwnFiles(lock)) DeleteIntermediateFiles();
}

TVemo_mainF::Stamps TVemo_mainF::StampsOf(const TraceResult& result) {
    Stamps stamps;
    const std::string* paths[] = {&result.squaresPath, &result.groupsPath, &result.pointsPath, &result.linesPath};
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        struct stat file {};
        if (paths[i]->empty() || ::lstat(paths[i]->c_str(), &file) != 0) continue;
        stamps[i] = {true, file.st_dev, file.st_ino, file.st_size, file.st_mtim.tv_sec, file.st_mtim.tv_nsec};
    }
    return stamps;
}

bool TVemo_mainF::LockOwnFiles(TVemo_folderlock& lock) {
    bool own = false;
    try {
        own = lock.Lock(SplitPath(m_lastResult.linesPath).folder, TVemo_folderlock::Mode::FailIfBusy) &&
              StampsOf(m_lastResult) == m_stamps;
    } catch (const FileError&) {
        // The folder is gone, and the files with it.
    }
    if (!own) {
        lock.Unlock();
        m_resultsCurrent = 0;
    }
    return own;
}

void TVemo_mainF::DeleteIntermediateFiles() {
    for (const std::string* path :
         {&m_lastResult.squaresPath, &m_lastResult.groupsPath, &m_lastResult.pointsPath, &m_lastResult.linesPath}) {
        std::error_code ignored;
        if (!path->empty()) std::filesystem::remove(*path, ignored);
    }
}

void TVemo_mainF::SaveToSettings() {
    m_settings.defData = TextOf(m_ui->Edit1);
    m_settings.defFld = TextOf(m_ui->Edit2);
    m_settings.xAxis = FlagOf(m_ui->CheckBox1);
    m_settings.yAxis = FlagOf(m_ui->CheckBox2);
    m_settings.expTxt = FlagOf(m_ui->CheckBox3);
    m_settings.expDxf = FlagOf(m_ui->CheckBox4);
    m_settings.expA10 = FlagOf(m_ui->CheckBox5);
    m_settings.xRatio = FormatNumber("%.3lf", ParseNumber(TextOf(m_ui->Edit3)));
    m_settings.yRatio = FormatNumber("%.3lf", ParseNumber(TextOf(m_ui->Edit4)));
    m_settingsHolder->SaveSettings(m_settings, CollectWindowOptions(*this));
}

void TVemo_mainF::Edit1Change() { m_resultsCurrent = 0; }

void TVemo_mainF::Button1Click() {
    const QString chosen = m_chooseImageFile ? m_chooseImageFile() : QString();
    if (chosen.isEmpty()) return;
    m_ui->Edit1->setText(chosen);
    m_ui->Edit2->setText(QString::fromStdString(SplitPath(chosen.toStdString()).folder));
}

void TVemo_mainF::Button2Click() {
    const std::string chosen = m_chooseFolder(this, TextOf(m_ui->Edit2));
    if (!chosen.empty()) m_ui->Edit2->setText(QString::fromStdString(chosen));
}

TraceOptions TVemo_mainF::CollectOptions() const {
    TraceOptions options;
    options.flipX = m_ui->CheckBox1->isChecked();
    options.flipY = m_ui->CheckBox2->isChecked();
    options.xRatioText = TextOf(m_ui->Edit3);
    options.yRatioText = TextOf(m_ui->Edit4);
    options.exportText = m_ui->CheckBox3->isChecked();
    options.exportDxf = m_ui->CheckBox4->isChecked();
    options.exportA10 = m_ui->CheckBox5->isChecked();
    for (int i = 0; i < m_ui->ListBox1->count(); ++i) {
        options.dxfTemplate.push_back(m_ui->ListBox1->item(i)->text().toLatin1().toStdString());
    }
    AddWindowOptions(*this, options);
    return options;
}

void TVemo_mainF::SetStatusText(const QString& text) {
    m_ui->Panel5->setText(TranslateMessage(text.toStdString()));
    // Paint now: a short stage would otherwise never be seen.
    m_ui->Panel5->repaint();
}

void TVemo_mainF::Button3Click() {
    if (m_run) return;
    const std::string imagePath = TextOf(m_ui->Edit1);
    const std::string outputFolder = TextOf(m_ui->Edit2);
    if (imagePath.empty()) {
        Tell(texts::kNoImageGiven);
        return;
    }
    if (outputFolder.empty()) {
        Tell(texts::kNoOutputFolderGiven);
        return;
    }
    if (const std::string problem = WindowOptionsProblem(*this); !problem.empty()) {
        Tell(problem);
        return;
    }
    StartRun(imagePath, outputFolder);
}

void TVemo_mainF::StartRun(const std::string& imagePath, const std::string& outputFolder) {
    auto run = std::make_unique<Run>();
    run->imagePath = imagePath;
    // The window never waits for another run: a busy folder is told at
    // once. A folder that cannot be opened is left to the job's checks.
    const std::string folder = SplitPath(imagePath).folder;
    bool lockHeld = false;
    try {
        if (!run->lock.Lock(folder, TVemo_folderlock::Mode::FailIfBusy)) {
            Tell(texts::FolderBusy(folder));
            return;
        }
        lockHeld = true;
    } catch (const FileError&) {
    }

    const StatusSink status = [this](std::string_view text) {
        Post([this, shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))] {
            m_progress->setFormat(QStringLiteral("%p%"));
            SetStatusText(shown);
        });
    };
    run->job = std::make_unique<TVemo_comp>(imagePath, outputFolder, *m_settingsHolder, *m_susie, Messages(), status);
    run->job->SetFolderLock(lockHeld ? FolderLockMode::HeldByCaller : FolderLockMode::FailIfBusy);
    run->job->SetCancelFlag(&run->cancel);
    run->job->SetProgressSink([this](int percent) { Post([this, percent] { m_progress->setValue(percent); }); });
    run->job->SetWritingSink([this](const std::string& path) {
        Post([this, name = QString::fromStdString(SplitPath(path).name)] {
            m_progress->setFormat(name + QStringLiteral("  %p%"));
        });
    });

    m_ui->Panel4->show();
    m_ui->Panel4->raise();
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("%p%"));
    m_stopButton->setEnabled(true);
    m_ui->Button3->setEnabled(false);
    m_ui->Button5->setEnabled(false);
    SetStatusText(QString::fromUtf8(texts::kStatusLoading));

    run->worker = std::thread([this, job = run->job.get(), options = CollectOptions(), gate = m_workerGate] {
        if (gate) gate();
        job->Run(options);
        Post([this] { FinishRun(); });
    });
    m_run = std::move(run);
}

void TVemo_mainF::StopRun() {
    if (!m_run) return;
    m_run->cancel.Request();
    m_stopButton->setEnabled(false);
}

void TVemo_mainF::FinishRun() {
    if (!m_run) return;
    m_run->worker.join();
    const std::unique_ptr<Run> run = std::move(m_run);
    std::vector<std::string> messages;
    {
        const std::lock_guard<std::mutex> guard(m_pendingMutex);
        messages.swap(m_pending);
    }
    // Only a run whose trace went through has files to show; a run that
    // failed before or was stopped keeps the last good result.
    const TraceResult result = run->job->GetResult();
    if (!result.linesPath.empty()) {
        m_lastResult = result;
        m_stamps = StampsOf(result);
        m_resultsCurrent = TextOf(m_ui->Edit1) == run->imagePath ? 1 : 0;
    } else if (m_resultsCurrent == 1 && StampsOf(m_lastResult) != m_stamps) {
        m_resultsCurrent = 0;  // the run replaced or removed them before it failed
    }
    run->lock.Unlock();
    m_ui->Button3->setEnabled(true);
    m_ui->Button5->setEnabled(true);
    m_stopButton->setEnabled(false);

    if (m_closeAfterRun) {
        m_ui->Panel4->hide();
        emit runFinished();
        close();
        return;
    }
    for (const std::string& text : messages) Tell(text);
    SetStatusText(QString::fromUtf8(texts::kStatusFinished));
    m_ui->Panel4->hide();
    emit runFinished();
}

void TVemo_mainF::Button4Click() { close(); }

void TVemo_mainF::Button5Click() {
    const std::string imagePath = TextOf(m_ui->Edit1);
    // Held while the viewer shows the run's files, so that no other run
    // replaces them under it.
    TVemo_folderlock lock;
    if (m_resultsCurrent == 1) LockOwnFiles(lock);
    if (m_viewer->OpenImage(imagePath, m_lastResult) == 1) {
        Tell(texts::CannotDisplay(imagePath));
        return;
    }
    m_viewer->exec();
}

void TVemo_mainF::Button6Click() {
    // Without a browser (or without the document) the user is told where
    // the help is, rather than nothing happening.
    const std::string document = m_settings.systemFolder + "/help/Vemo_help.htm";
    std::error_code error;
    if (!std::filesystem::is_regular_file(document, error) ||
        !QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(document)))) {
        Tell(texts::HelpNotOpened(document));
    }
}

QString DroppedImagePath(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return {};
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
    const QString path = urls.front().toLocalFile();
    std::error_code error;
    return std::filesystem::is_regular_file(path.toStdString(), error) ? path : QString();
}

void TVemo_mainF::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedImagePath(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TVemo_mainF::dropEvent(QDropEvent* event) {
    const QString path = DroppedImagePath(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    DropImageFile(path);
}

void TVemo_mainF::DropImageFile(const QString& path) {
    m_ui->Edit1->setText(path);
    // The output folder is the user's choice once made; an empty one gets
    // the image's folder, as "参照" gives it.
    if (m_ui->Edit2->text().isEmpty()) {
        m_ui->Edit2->setText(QString::fromStdString(SplitPath(path.toStdString()).folder));
    }
}

void TVemo_mainF::BringToFront() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}
