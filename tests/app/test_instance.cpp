// Single instance, with real processes: a second start brings the running
// window to the front and ends with exit code -1 before creating anything;
// a killed instance leaves nothing that blocks the next start.
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include "app/Vemo_instance.h"
#include "gui_support.h"

namespace {

const std::string kSettings = "[SYSTEM]\nDEFDATA=\nDEFFLD=\nBASBMP=Vemo_base.bmp\n";

// -1 as the parent sees it.
constexpr int kPreviousInstanceExit = 255;

QProcessEnvironment EnvironmentWith(const std::string& runtimeFolder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeFolder));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

void Start(QProcess& process, const std::string& program, const std::string& runtimeFolder) {
    process.setProcessEnvironment(EnvironmentWith(runtimeFolder));
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QString::fromStdString(program), {});
    QVERIFY(process.waitForStarted());
}

// A crashed instance's socket file is still there but refuses connections.
bool Answers(const std::string& socketPath) {
    QLocalSocket probe;
    probe.connectToServer(QString::fromStdString(socketPath));
    return probe.waitForConnected(200);
}

}  // namespace

class InstanceTest : public QObject {
    Q_OBJECT

private slots:
    void secondStartRaisesTheFirstWindowAndEnds() {
        TempFolder runtime;
        TempFolder scratch;
        const std::string system = MakeSystemFolder(scratch, kSettings);
        const std::string settingsBefore = ReadFile(VEMO_SYSTEM_DIR "/Vemo.sys");

        TVemo_instance first(runtime.Path());
        QVERIFY(!first.FindPreviousInstance());
        Program program(system);
        program.mainF.show();
        program.mainF.showMinimized();
        int asked = 0;
        first.Listen([&] {
            ++asked;
            program.mainF.BringToFront();
        });

        QProcess second;
        Start(second, VEMO_BUILD_DIR "/vemo", runtime.Path());
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), kPreviousInstanceExit);
        QTRY_COMPARE(asked, 1);
        QVERIFY(!program.mainF.isMinimized());
        QVERIFY(program.mainF.isVisible());
        // It ended before its settings holder existed: nothing read or written.
        QCOMPARE(ReadFile(VEMO_SYSTEM_DIR "/Vemo.sys"), settingsBefore);
    }

    void killedInstanceDoesNotBlockTheNextStart() {
        TempFolder runtime;
        TempFolder install;
        MakeSystemFolder(install, kSettings);
        const std::string program = install.File("vemo");
        std::filesystem::copy_file(VEMO_BUILD_DIR "/vemo", program);
        const std::string socket = TVemo_instance(runtime.Path()).SocketPath();

        QProcess crashed;
        Start(crashed, program, runtime.Path());
        QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(socket), 20000);
        crashed.kill();
        QVERIFY(crashed.waitForFinished());
        QVERIFY(std::filesystem::exists(socket));
        QVERIFY(!Answers(socket));

        QProcess next;
        Start(next, program, runtime.Path());
        // It is the running instance once it listens on a socket of its own.
        QTRY_VERIFY_WITH_TIMEOUT(Answers(socket), 20000);
        QProcess third;
        Start(third, program, runtime.Path());
        QVERIFY(third.waitForFinished(20000));
        QCOMPARE(third.exitCode(), kPreviousInstanceExit);
        QCOMPARE(next.state(), QProcess::Running);
        next.kill();
        QVERIFY(next.waitForFinished());
    }
};

QTEST_MAIN(InstanceTest)
#include "test_instance.moc"
