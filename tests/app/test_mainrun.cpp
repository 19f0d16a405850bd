// Main window, a run off the window's thread: a close request during a run
// is answered and never lost, "中止" replaces no file, a failed run keeps the
// last good result, and the folder lock is held only during a run and while
// the viewer shows the run's files, so that vemo-trace --keep-temp next to
// an idle window does not wait. Offscreen; every message collected.
#include <condition_variable>
#include <map>
#include <mutex>

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "base/Vemo_folderlock.h"
#include "gui_support.h"
#include "job/Vemo_comp.h"

namespace {

const std::string kSettings =
    "[SYSTEM]\nDEFDATA=\nDEFFLD=\nBASBMP=Vemo_base.bmp\nPIXSTEP=1\n[SpiName]\nTIFSPI=vemo_tiff.spi\nPNGSPI=vemo_png.spi\n"
    "GIFSPI=vemo_gif.spi\n[CV1FLG]\nXAXIS=0\nYAXIS=0\n[CV2FLG]\nEXPTXT=1\nEXPDXF=1\nEXPA10=1\n[CV3FLG]\nXRATIO=1.0\n"
    "YRATIO=1.0\n";

const char* const kOutputNames[] = {"plan.txt", "plan.dxf", "plan.A10"};

// Holds every run on its worker thread until opened, so that the test acts
// while the run is certainly in progress.
class Gate {
public:
    std::function<void()> Hold() {
        return [this] {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_open; });
        };
    }
    void Open() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const char* name : kOutputNames) files[name] = ReadFile(folder + "/" + name);
    return files;
}

bool OtherRunCanLock(const std::string& folder) {
    TVemo_folderlock other;
    return other.Lock(folder, TVemo_folderlock::Mode::FailIfBusy);
}

// A program with a drawing in `folder`/plans, traced once into the same folder.
struct TracedOnce {
    TempFolder scratch;
    std::string plans = scratch.File("plans");
    std::string image = plans + "/plan.bmp";
    Program program{MakeSystemFolder(scratch, kSettings)};

    bool Trace() {
        std::filesystem::create_directory(plans);
        if (!WriteDrawing(image)) return false;
        program.mainF.show();
        Find<QLineEdit>(program.mainF, "Edit1")->setText(QString::fromStdString(image));
        Find<QLineEdit>(program.mainF, "Edit2")->setText(QString::fromStdString(plans));
        return ClickRunAndWait(program.mainF) && program.mainF.IsResultsCurrent() == 1;
    }
};

}  // namespace

class MainRunTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { MapWindowFont(); }

    // A click on the close box during a run used to be lost. Declined, the
    // run goes on to its end; accepted, the run stops, replaces no output
    // file, and the window closes once it has ended (asked once only).
    void closeDuringARunIsAnswered_data() {
        QTest::addColumn<bool>("stop");
        QTest::newRow("declined") << false;
        QTest::newRow("accepted") << true;
    }
    void closeDuringARunIsAnswered() {
        QFETCH(bool, stop);
        TracedOnce traced;
        QVERIFY(traced.Trace());
        TVemo_mainF& window = traced.program.mainF;
        const auto before = Contents(traced.plans);
        Gate gate;
        window.SetWorkerGate(gate.Hold());
        std::vector<std::string> questions;
        window.SetQuestion([&](const std::string& question) {
            questions.push_back(question);
            return stop;
        });
        Find<QCheckBox>(window, "CheckBox1")->setChecked(true);  // a finished run changes every file

        QTest::mouseClick(Find<QPushButton>(window, "Button3"), Qt::LeftButton);
        QVERIFY(window.IsRunning());
        QVERIFY(!window.close());
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QCOMPARE(questions.size(), stop ? std::size_t(1) : std::size_t(2));
        QCOMPARE(questions[0], std::string("トレース中です。トレースを中止して閉じますか？"));
        gate.Open();
        QVERIFY(QTest::qWaitFor([&] { return !window.IsRunning(); }, 300000));

        QCOMPARE(window.isVisible(), !stop);
        const auto after = Contents(traced.plans);
        for (const char* name : kOutputNames) QCOMPARE(after.at(name) == before.at(name), stop);
        if (stop) {
            QCOMPARE(traced.program.messages.size(), std::size_t(1));  // the first run's completion only
            for (const char* name : kIntermediateNames) QVERIFY2(!std::filesystem::exists(traced.plans + "/" + name), name);
        } else {
            QCOMPARE(traced.program.messages.size(), std::size_t(2));
            QCOMPARE(window.IsResultsCurrent(), 1);
        }
    }

    // "中止" ends the run with a message; the earlier run's output files and
    // results stay as they were, and the viewer may still draw them.
    void stopKeepsEarlierFilesAndResult() {
        TracedOnce traced;
        QVERIFY(traced.Trace());
        TVemo_mainF& window = traced.program.mainF;
        const auto before = Contents(traced.plans);
        const TraceResult first = window.LastResult();
        Gate gate;
        window.SetWorkerGate(gate.Hold());
        Find<QCheckBox>(window, "CheckBox2")->setChecked(true);

        QTest::mouseClick(Find<QPushButton>(window, "Button3"), Qt::LeftButton);
        QVERIFY(Find<QWidget>(window, "Panel4")->isVisible());
        QVERIFY(!Find<QPushButton>(window, "Button3")->isEnabled());
        QTest::mouseClick(Find<QPushButton>(window, "StopButton"), Qt::LeftButton);
        gate.Open();
        QVERIFY(QTest::qWaitFor([&] { return !window.IsRunning(); }, 300000));

        QCOMPARE(traced.program.messages.back(), traced.image + "のトレースを中止しました。");
        QCOMPARE(Contents(traced.plans), before);
        QVERIFY(!Find<QWidget>(window, "Panel4")->isVisible());
        QVERIFY(Find<QPushButton>(window, "Button3")->isEnabled());
        QCOMPARE(window.IsResultsCurrent(), 1);
        QCOMPARE(window.LastResult().linesPath, first.linesPath);
        QCOMPARE(window.LastResult().squareCount, first.squareCount);
    }

    // A missing output folder is found before the trace and told once; the
    // viewer keeps the last good result instead of an empty one.
    void failedRunTellsOnceAndKeepsTheLastGoodResult() {
        TracedOnce traced;
        QVERIFY(traced.Trace());
        TVemo_mainF& window = traced.program.mainF;
        const TraceResult first = window.LastResult();
        const std::string missing = traced.scratch.File("missing");
        Find<QLineEdit>(window, "Edit2")->setText(QString::fromStdString(missing));
        traced.program.messages.clear();
        QVERIFY(ClickRunAndWait(window));
        QCOMPARE(traced.program.messages,
                 std::vector<std::string>{"出力フォルダ「" + missing + "」がありません。\n" + traced.image + "は処理できません。"});
        QCOMPARE(window.IsResultsCurrent(), 1);
        QCOMPARE(window.LastResult().linesPath, first.linesPath);
        QCOMPARE(window.LastResult().groupCount, first.groupCount);
    }

    // The lock is the window's during a run and while the viewer shows the
    // run's files, never while it sits idle; files another run wrote since
    // are neither drawn nor deleted at close.
    void folderIsLockedOnlyWhileNeeded() {
        TracedOnce traced;
        {
            TVemo_folderlock other;
            std::filesystem::create_directory(traced.plans);
            QVERIFY(other.Lock(traced.plans, TVemo_folderlock::Mode::FailIfBusy));
            QVERIFY(!traced.Trace());
            QCOMPARE(traced.program.messages,
                     std::vector<std::string>{"フォルダ「" + traced.plans + "」は他のトレースが使用中です。"});
            QVERIFY(!std::filesystem::exists(traced.plans + "/temp.lix"));
        }
        TVemo_mainF& window = traced.program.mainF;
        Gate gate;
        window.SetWorkerGate(gate.Hold());
        QTest::mouseClick(Find<QPushButton>(window, "Button3"), Qt::LeftButton);
        QVERIFY(!OtherRunCanLock(traced.plans));
        gate.Open();
        QVERIFY(QTest::qWaitFor([&] { return !window.IsRunning(); }, 300000));
        QCOMPARE(window.IsResultsCurrent(), 1);
        QVERIFY(OtherRunCanLock(traced.plans));

        const auto visitViewer = [&] {
            bool locked = false;
            bool overlayOffered = false;
            QTimer::singleShot(0, [&] {
                locked = !OtherRunCanLock(traced.plans);
                overlayOffered = Find<QCheckBox>(traced.program.viewer, "CheckBox2")->isEnabled();
                traced.program.viewer.close();
            });
            QTest::mouseClick(Find<QPushButton>(window, "Button5"), Qt::LeftButton);
            return std::pair{locked, overlayOffered};
        };
        QCOMPARE(visitViewer(), std::pair(true, true));
        QVERIFY(OtherRunCanLock(traced.plans));

        // Another run in the folder writes its own intermediate files.
        TVemo_comp other(traced.image, traced.scratch.File("other"), traced.program.settings, traced.program.susie,
                         traced.program.Sink(), {});
        std::filesystem::create_directory(traced.scratch.File("other"));
        TraceOptions options;
        options.xRatioText = options.yRatioText = "1";
        options.flipX = true;
        QCOMPARE(other.Run(options), 0);
        const std::string othersLines = ReadFile(traced.plans + "/temp.lix");
        QCOMPARE(visitViewer(), std::pair(false, false));
        QCOMPARE(window.IsResultsCurrent(), 0);
        QVERIFY(window.close());
        QCOMPARE(ReadFile(traced.plans + "/temp.lix"), othersLines);
    }

    // vemo-trace --keep-temp beside an idle window traces at once; beside a
    // run it says on standard error that it waits, and goes on when the
    // run lets go (--no-wait fails with exit status 1 instead).
    void commandLineBesideTheWindow() {
        TracedOnce traced;
        QVERIFY(traced.Trace());
        const QString system = QString::fromStdString(traced.scratch.File("Vemosys"));
        const QStringList arguments{"--keep-temp", "--txt", "-o", QString::fromStdString(traced.plans),
                                    "--system-folder", system, QString::fromStdString(traced.image)};
        QProcess idle;
        idle.start(VEMO_BUILD_DIR "/vemo-trace", QStringList{"--no-wait"} + arguments);
        QVERIFY(idle.waitForFinished(120000));
        QCOMPARE(idle.exitCode(), 0);

        TVemo_folderlock running;
        QVERIFY(running.Lock(traced.plans, TVemo_folderlock::Mode::FailIfBusy));
        QProcess refused;
        refused.start(VEMO_BUILD_DIR "/vemo-trace", QStringList{"--no-wait"} + arguments);
        QVERIFY(refused.waitForFinished(120000));
        QCOMPARE(refused.exitCode(), 1);

        QProcess waiting;
        waiting.setProcessChannelMode(QProcess::MergedChannels);
        waiting.start(VEMO_BUILD_DIR "/vemo-trace", arguments);
        QVERIFY(QTest::qWaitFor(
            [&] {
                waiting.waitForReadyRead(50);
                return waiting.peek(4096).contains("waits for");
            },
            60000));
        const QString said = QString::fromUtf8(waiting.peek(4096));
        QVERIFY2(said.contains(QString::fromStdString(traced.plans)), qPrintable(said));
        QCOMPARE(waiting.state(), QProcess::Running);
        running.Unlock();
        QVERIFY(waiting.waitForFinished(120000));
        QCOMPARE(waiting.exitCode(), 0);
    }
};

QTEST_MAIN(MainRunTest)
#include "test_mainrun.moc"
