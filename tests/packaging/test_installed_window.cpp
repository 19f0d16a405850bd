// The window started from an installed tree (run by installed_tree_test.sh
// as an ordinary user, VEMO_INSTALLED_SYSTEM naming the installed system
// folder and XDG_CONFIG_HOME a fresh settings folder): a field changed and
// the window closed must land in the user's copy of Vemo.sys, not in the
// installed file, and without a message.
#include <QLineEdit>
#include <QTest>

#include "gui_support.h"

class InstalledWindowTest : public QObject {
    Q_OBJECT

private slots:
    void aFieldChangedIsSavedAtCloseInTheUsersCopy() {
        const QString system = qEnvironmentVariable("VEMO_INSTALLED_SYSTEM");
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (system.isEmpty() || config.isEmpty()) QSKIP("run by installed_tree_test.sh");
        const std::string installed = system.toStdString() + "/Vemo.sys";
        const std::string userCopy = config.toStdString() + "/vemo/Vemo.sys";
        const std::string before = ReadFile(installed);
        {
            Program program(system.toStdString());
            program.mainF.show();
            QVERIFY(QTest::qWaitForWindowExposed(&program.mainF));
            QCOMPARE(ReadFile(userCopy), before);
            Find<QLineEdit>(program.mainF, "Edit1")->setText("/scans/installed plan.bmp");
            QVERIFY(program.mainF.close());
            QVERIFY2(program.messages.empty(), program.messages.empty() ? "" : program.messages[0].c_str());
        }
        QVERIFY(ReadFile(userCopy).find("DEFDATA=/scans/installed plan.bmp") != std::string::npos);
        QCOMPARE(ReadFile(installed), before);
    }
};

QTEST_MAIN(InstalledWindowTest)
#include "test_installed_window.moc"
