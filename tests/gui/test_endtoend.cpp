// End to end on a real X server: the program's objects as start-up makes
// them, the fields typed in, the formats ticked, one click on "トレース実行".
// Checks the three output files, the stage texts painted in the status
// panel, that the window font resolved to the Japanese Gothic and that no
// caption is wider than its control. Saves screenshots of the window
// (before the run and while the status panel shows) as
// $VEMO_SCREENSHOT-*.png.
#include <QAbstractButton>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "gui_support.h"

namespace {

const std::string kSettings =
    "[SYSTEM]\nDEFDATA=\nDEFFLD=\nBASBMP=Vemo_base.bmp\nPIXSTEP=1\n[SPINAME]\nTIFSPI=vemo_tiff.spi\n"
    "PNGSPI=vemo_png.spi\nGIFSPI=vemo_gif.spi\n[CV1FLG]\nXAXIS=0\nYAXIS=0\n[CV2FLG]\nEXPTXT=0\nEXPDXF=0\n"
    "EXPA10=0\n[CV3FLG]\nXRATIO=1.000\nYRATIO=1.000\n";

void SaveScreenshot(QWidget& window, const char* suffix) {
    const QString prefix = qEnvironmentVariable("VEMO_SCREENSHOT");
    if (prefix.isEmpty()) return;
    std::filesystem::create_directories(std::filesystem::path(prefix.toStdString()).parent_path());
    QVERIFY(window.grab().save(prefix + suffix));
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { MapWindowFont(); }

    void traceFromTheWindow() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, kSettings));
        const std::string image = scratch.File("plan.bmp");
        std::filesystem::copy_file(VEMO_SOURCE_DIR "/samples/plan.bmp", image);
        const std::string output = scratch.File("out");
        std::filesystem::create_directory(output);

        TVemo_mainF& window = program.mainF;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QString("Vemo Ver1.006"));
        QCOMPARE(window.size(), QSize(386, 385));
        QCOMPARE(QFontInfo(window.font()).family(), QString("IPAPGothic"));

        QTest::keyClicks(Find<QLineEdit>(window, "Edit1"), QString::fromStdString(image));
        QTest::keyClicks(Find<QLineEdit>(window, "Edit2"), QString::fromStdString(output));
        for (const char* box : {"CheckBox3", "CheckBox4", "CheckBox5"}) {
            auto* check = Find<QCheckBox>(window, box);
            QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(6, check->height() / 2));
            QVERIFY2(check->isChecked(), box);
        }
        CaptionsFit(window);
        SaveScreenshot(window, "-filled.png");

        QStringList painted;
        auto* status = Find<QLabel>(window, "Panel5");
        PaintRecorder recorder(status, painted);
        bool grabbedWhileRunning = false;
        program.mainF.SetMessageSink([&](const std::string& text) {
            program.messages.push_back(text);
            if (!grabbedWhileRunning && Find<QWidget>(window, "Panel4")->isVisible()) {
                grabbedWhileRunning = true;
                SaveScreenshot(window, "-running.png");
            }
        });
        QTest::mouseClick(Find<QPushButton>(window, "Button3"), Qt::LeftButton);

        QCOMPARE(painted, (QStringList{"1.画像読込み", "2.画像分析", "3.画像合成", "4.線分調整", "トレース完了"}));
        QVERIFY(grabbedWhileRunning);
        QCOMPARE(program.messages.size(), std::size_t(1));
        QVERIFY(program.messages[0].starts_with(image + "をトレースしました。 time:"));
        QVERIFY(!Find<QWidget>(window, "Panel4")->isVisible());
        for (const char* name : {"plan.txt", "plan.dxf", "plan.A10"}) {
            QVERIFY2(std::filesystem::file_size(output + "/" + name) > 1000, name);
        }
        QCOMPARE(window.IsResultsCurrent(), 1);

        QTest::mouseClick(Find<QPushButton>(window, "Button4"), Qt::LeftButton);
        for (const char* name : kIntermediateNames) QVERIFY2(!std::filesystem::exists(scratch.File(name)), name);
        QVERIFY(ReadFile(scratch.File("Vemosys/Vemo.sys")).find("EXPA10=1") != std::string::npos);
    }

private:
    // Every caption must fit its control with the font the window got.
    void CaptionsFit(QWidget& window) {
        for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
            const int indicator = qobject_cast<QCheckBox*>(button) != nullptr ? 22 : 8;
            QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) + indicator <= button->width(),
                     qPrintable(button->objectName()));
        }
        for (QLabel* label : window.findChildren<QLabel*>()) {
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(label->objectName()));
            QVERIFY2(label->fontMetrics().height() <= label->height(), qPrintable(label->objectName()));
        }
        for (QGroupBox* group : window.findChildren<QGroupBox*>()) {
            QVERIFY2(group->fontMetrics().horizontalAdvance(group->title()) + 16 <= group->width(),
                     qPrintable(group->objectName()));
        }
    }
};

QTEST_MAIN(EndToEndTest)
#include "test_endtoend.moc"
