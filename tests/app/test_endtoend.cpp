// End to end on a real X server: the program's objects as start-up makes
// them, the fields typed in, the formats ticked, one click on "トレース実行".
// Checks the three output files, the stage texts painted in the status
// panel, that the window font resolved to the Japanese Gothic and that no
// caption is wider than its control; then opens the viewer on the traced
// image, zooms in, clicks, ticks "線画" and closes it. Saves screenshots of
// the window (before the run and while the status panel shows) and of the
// viewer as $VEMO_SCREENSHOT-*.png; then the window in English
// ($VEMO_SCREENSHOT-english.png), whose captions must fit as well. A run
// with the options group set by clicks and keys (fitting, millimetres, a
// resolution) saves $VEMO_SCREENSHOT-options.png and has its DXF read by
// ezdxf (tests/export/check_dxf.py).
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QSet>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "app/Vemo_language.h"
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

// What the end-to-end test does inside the modal viewer, and what it saw.
// It runs from the viewer's own event loop and always closes the viewer,
// so a failure cannot leave the test waiting on a modal window.
struct ViewerVisit {
    QString error;
    QString fitCaption;
    QString caption;
    bool zoomedIn = false;
    bool scrolled = false;
    int redPixels = 0;

    void Run() {
        auto* viewer = qobject_cast<TVemo_viewareF*>(QApplication::activeModalWidget());
        if (viewer == nullptr) {
            error = "the viewer is not the modal window";
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<QDialog*>(top); dialog != nullptr && dialog->isVisible()) dialog->close();
            }
            return;
        }
        if (!QTest::qWaitForWindowExposed(viewer)) error = "the viewer was not shown";
        QWidget* surface = Find<QWidget>(*viewer, "PaintBox1");
        surface->repaint();
        fitCaption = viewer->windowTitle();
        const double fit = viewer->Zoom();
        QTest::mouseClick(Find<QPushButton>(*viewer, "Button2"), Qt::LeftButton);
        zoomedIn = std::abs(viewer->Zoom() - fit * 1.5) < 1e-9;

        auto* box = Find<QScrollArea>(*viewer, "ScrollBox1");
        const auto position = [box] { return QPoint(box->horizontalScrollBar()->value(), box->verticalScrollBar()->value()); };
        const QPoint before = position();
        QWidget* clicks = Find<QWidget>(*viewer, "PaintBox2");
        QTest::mouseClick(clicks, Qt::LeftButton, {}, QPoint(clicks->width() * 3 / 4, clicks->height() * 3 / 4));
        scrolled = position() != before && position().x() > 0 && position().y() > 0;

        auto* lines = Find<QCheckBox>(*viewer, "CheckBox2");
        QTest::mouseClick(lines, Qt::LeftButton, {}, QPoint(6, lines->height() / 2));
        if (!lines->isChecked()) error = "線画 could not be ticked";
        surface->repaint();
        caption = viewer->windowTitle();
        const QImage shot = viewer->grab().toImage();
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) redPixels += (shot.pixel(x, y) & 0xFFFFFF) == 0xFF0000;
        }
        SaveScreenshot(*viewer, "-viewer.png");
        QTest::mouseClick(Find<QPushButton>(*viewer, "Button1"), Qt::LeftButton);
    }
};

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
        QCOMPARE(window.size(), QSize(386, 497));
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
        QVERIFY(ClickRunAndWait(window));

        QCOMPARE(painted, (QStringList{"1.画像読込み", "2.画像分析", "3.画像合成", "4.線分調整", "トレース完了"}));
        QVERIFY(grabbedWhileRunning);
        QCOMPARE(program.messages.size(), std::size_t(1));
        QVERIFY(program.messages[0].starts_with(image + "をトレースしました。 time:"));
        QVERIFY(!Find<QWidget>(window, "Panel4")->isVisible());
        for (const char* name : {"plan.txt", "plan.dxf", "plan.A10"}) {
            QVERIFY2(std::filesystem::file_size(output + "/" + name) > 1000, name);
        }
        QCOMPARE(window.IsResultsCurrent(), 1);

        // On into the viewer on the traced image: "+", a click to recentre,
        // "線画", a screenshot; "閉じる" ends the modal display.
        ViewerVisit visit;
        QTimer::singleShot(0, [&visit] { visit.Run(); });
        QTest::mouseClick(Find<QPushButton>(window, "Button5"), Qt::LeftButton);
        QVERIFY2(visit.error.isEmpty(), qPrintable(visit.error));
        const QString captionStart = "VemoViewer-" + QString::fromStdString(image) + QChar(0x3000);
        QVERIFY2(visit.fitCaption.startsWith(captionStart) && visit.fitCaption.endsWith("%"), qPrintable(visit.fitCaption));
        QVERIFY2(visit.caption.startsWith(captionStart) && visit.caption != visit.fitCaption, qPrintable(visit.caption));
        QVERIFY(visit.zoomedIn);
        QVERIFY(visit.scrolled);
        QVERIFY2(visit.redPixels > 50, qPrintable(QString::number(visit.redPixels)));  // the first polyline is red
        QVERIFY(!program.viewer.isVisible());

        QTest::mouseClick(Find<QPushButton>(window, "Button4"), Qt::LeftButton);
        for (const char* name : kIntermediateNames) QVERIFY2(!std::filesystem::exists(scratch.File(name)), name);
        QVERIFY(ReadFile(scratch.File("Vemosys/Vemo.sys")).find("EXPA10=1") != std::string::npos);
    }

    // A drawing large enough to watch: the progress bar moves while the
    // window repaints, through the stages and the files; a second run is
    // stopped with "中止" and leaves the first run's files as they were.
    void progressAndStopOnALargeDrawing() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, kSettings));
        const std::string image = scratch.File("large.bmp");
        QVERIFY(WriteLargeDrawing(image));
        TVemo_mainF& window = program.mainF;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Find<QLineEdit>(window, "Edit1")->setText(QString::fromStdString(image));
        Find<QLineEdit>(window, "Edit2")->setText(QString::fromStdString(scratch.Path()));
        for (const char* box : {"CheckBox3", "CheckBox4", "CheckBox5"}) Find<QCheckBox>(window, box)->setChecked(true);

        auto* progress = Find<QProgressBar>(window, "RunProgress");
        QTest::mouseClick(Find<QPushButton>(window, "Button3"), Qt::LeftButton);
        // One screenshot per stage and per file written, once its bar has moved.
        QSet<QString> seen;
        QSet<int> values;
        while (window.IsRunning()) {
            QTest::qWait(10);
            if (!window.IsRunning() || progress->value() == 0) continue;
            values.insert(progress->value());
            const QString step = Find<QLabel>(window, "Panel5")->text() + " " + progress->format();
            if (seen.contains(step)) continue;
            seen.insert(step);
            SaveScreenshot(window, qPrintable(QString("-progress%1.png").arg(seen.size())));
        }
        QVERIFY2(seen.size() >= 2 && values.size() >= 4, qPrintable(QStringList(seen.values()).join(" | ")));
        QCOMPARE(program.messages.size(), std::size_t(1));
        std::map<std::string, std::string> files;
        for (const char* name : {"large.txt", "large.dxf", "large.A10"}) files[name] = ReadFile(scratch.File(name));

        Find<QCheckBox>(window, "CheckBox1")->setChecked(true);
        QTest::mouseClick(Find<QPushButton>(window, "Button3"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !window.IsRunning() || progress->value() > 0; }, 60000));
        QVERIFY2(window.IsRunning(), "the run ended before it could be stopped");
        SaveScreenshot(window, "-stopping.png");
        QTest::mouseClick(Find<QPushButton>(window, "StopButton"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !window.IsRunning(); }, 60000));
        SaveScreenshot(window, "-stopped.png");
        QCOMPARE(program.messages.back(), image + "のトレースを中止しました。");
        for (const auto& [name, bytes] : files) QVERIFY2(ReadFile(scratch.File(name)) == bytes, name.c_str());
        for (const char* name : kIntermediateNames) QVERIFY2(!std::filesystem::exists(scratch.File(name)), name);
        QCOMPARE(window.IsResultsCurrent(), 0);  // its files went with the stopped run
    }

    // Fitting in millimetres at 254 dpi (0.1 mm a pixel), chosen as a user
    // does: the join box follows the fitting box, the unit is picked with
    // the keyboard, the resolution typed. The DXF holds LINE entities that
    // an independent reader accepts, within the sample's 64 x 42 mm.
    void fitInMillimetresFromTheWindow() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, kSettings));
        const std::string image = scratch.File("plan.bmp");
        std::filesystem::copy_file(VEMO_SOURCE_DIR "/samples/plan.bmp", image);
        TVemo_mainF& window = program.mainF;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Find<QLineEdit>(window, "Edit1")->setText(QString::fromStdString(image));
        Find<QLineEdit>(window, "Edit2")->setText(QString::fromStdString(scratch.Path()));
        for (const char* name : {"CheckBox4", "CheckBox8"}) {
            auto* box = Find<QCheckBox>(window, name);
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
            QVERIFY2(box->isChecked(), name);
        }
        auto* join = Find<QCheckBox>(window, "CheckBox7");
        QVERIFY(join->isChecked() && !join->isEnabled());
        auto* units = Find<QComboBox>(window, "ComboBox1");
        units->setFocus();
        QTest::keyClick(units, Qt::Key_Down);
        QCOMPARE(units->currentText(), QString("mm"));
        QTest::keyClicks(Find<QLineEdit>(window, "Edit5"), "254");
        CaptionsFit(window);
        SaveScreenshot(window, "-options.png");

        QVERIFY(ClickRunAndWait(window));
        QCOMPARE(program.messages.size(), std::size_t(1));
        QVERIFY2(program.messages[0].starts_with(image + "をトレースしました。"), program.messages[0].c_str());
        std::string report;
        QVERIFY2(ReadDxf(scratch.File("plan.dxf"), report), report.c_str());
        std::istringstream lines(report);
        int lineEntities = 0;
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with("LINE ")) continue;
            ++lineEntities;
            std::istringstream fields(line.substr(5));
            std::string layer;
            double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
            fields >> layer >> x1 >> y1 >> x2 >> y2;
            for (const double x : {x1, x2}) QVERIFY2(x >= -0.5 && x <= 64.5, line.c_str());
            for (const double y : {y1, y2}) QVERIFY2(y >= -0.5 && y <= 42.5, line.c_str());
        }
        QVERIFY2(lineEntities >= 10, report.c_str());
        QTest::mouseClick(Find<QPushButton>(window, "Button4"), Qt::LeftButton);
        const std::string stored = ReadFile(scratch.File("Vemosys/Vemo.sys"));
        for (const char* key : {"FIT=1", "UNITS=mm", "DPI=254"}) QVERIFY2(stored.find(key) != std::string::npos, key);
    }

    // The English captions fit their controls too, and the viewer's.
    void englishCaptionsFit() {
        const TVemo_language language{QLocale("en_US")};
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, kSettings + "[OPTIONS]\nFIT=1\nUNITS=in\n"));
        program.mainF.show();
        QVERIFY(QTest::qWaitForWindowExposed(&program.mainF));
        QCOMPARE(Find<QCheckBox>(program.mainF, "CheckBox7")->text(), QString("Join and clean lines"));
        CaptionsFit(program.mainF);
        CaptionsFit(program.viewer);
        SaveScreenshot(program.mainF, "-english.png");
        program.mainF.close();
    }

private:
    // check_dxf.py's report on `path` (layers and entities); false when
    // ezdxf cannot read the file or its auditor finds an error.
    static bool ReadDxf(const std::string& path, std::string& report) {
        const std::string command = "/usr/bin/python3 '" VEMO_SOURCE_DIR "/tests/export/check_dxf.py' --entities '" +
                                    path + "' 2>&1";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return false;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) report += buffer;
        return ::pclose(pipe) == 0;
    }

    // A dense plan of 6000 x 4500 pixels: lines, boxes and circles.
    static bool WriteLargeDrawing(const std::string& path) {
        QImage grey(6000, 4500, QImage::Format_Grayscale8);
        grey.fill(255);
        QPainter painter(&grey);
        painter.setPen(QPen(Qt::black, 3));
        QRandomGenerator random(7);
        for (int i = 0; i < 1500; ++i) {
            const int x = random.bounded(5800), y = random.bounded(4300), w = random.bounded(400), h = random.bounded(400);
            switch (i % 3) {
                case 0: painter.drawLine(x, y, x + w, y + h); break;
                case 1: painter.drawRect(x, y, w / 2, h / 2); break;
                default: painter.drawEllipse(QPoint(x, y), w / 4, w / 4); break;
            }
        }
        painter.end();
        QImage mono = grey.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
        mono.setColor(0, qRgb(0, 0, 0));
        mono.setColor(1, qRgb(255, 255, 255));
        return mono.save(QString::fromStdString(path), "BMP");
    }

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
        // A field's hint (the resolution's "画像の値") inside its frame.
        for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
            QVERIFY2(edit->fontMetrics().horizontalAdvance(edit->placeholderText()) + 8 <= edit->width(),
                     qPrintable(edit->objectName()));
        }
        for (QGroupBox* group : window.findChildren<QGroupBox*>()) {
            QVERIFY2(group->fontMetrics().horizontalAdvance(group->title()) + 16 <= group->width(),
                     qPrintable(group->objectName()));
        }
    }
};

QTEST_MAIN(EndToEndTest)
#include "test_endtoend.moc"
