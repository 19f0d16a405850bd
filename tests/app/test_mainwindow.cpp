// Main window: settings applied at show and written back at close, the
// run button's checks, the browse buttons, what a run leaves behind and
// what the close deletes. Offscreen; every message and dialog intercepted.
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/Vemodirectory_box.h"
#include "base/Vemo_folderlock.h"
#include "common/Vemo_texts.h"
#include "gui_support.h"
#include "job/Vemo_comp.h"

namespace {

const std::string kSpinameSection =
    "[SpiName]\r\n; plug-ins as the user named them\r\nTIFSPI = vemo_tiff.spi\r\nPNGSPI=vemo_png.spi\r\nGIFSPI=\r\n";

std::string SettingsText(const std::string& xAxis, const std::string& xRatio, const std::string& defData = "") {
    return "[SYSTEM]\nDEFDATA=" + defData + "\nDEFFLD=/out\nBASBMP=Vemo_base.bmp\nPIXSTEP=1\n" + kSpinameSection +
           "[CV1FLG]\nXAXIS=" + xAxis + "\nYAXIS=1\n[CV2FLG]\nEXPTXT=1\nEXPDXF=0\nEXPA10=1\n[CV3FLG]\nXRATIO=" + xRatio +
           "\n";
}

std::string Key(const std::string& settingsText, const std::string& key) {
    const std::size_t at = settingsText.find("\n" + key + "=");
    if (at == std::string::npos) return "<missing>";
    const std::size_t start = at + key.size() + 2;
    return settingsText.substr(start, settingsText.find_first_of("\r\n", start) - start);
}

// Records the help document the window asks the system to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { MapWindowFont(); }

    void settingsAreAppliedAtShow_data() {
        QTest::addColumn<QString>("xAxis");
        QTest::addColumn<QString>("xRatio");
        QTest::addColumn<bool>("flipped");
        QTest::addColumn<QString>("shownRatio");
        QTest::newRow("set flag, plain ratio") << "1" << "1.0" << true << " 1.000";
        QTest::newRow("01 is not 1") << "01" << "2" << false << " 2.000";
        QTest::newRow("yes is not 1") << "yes" << "1.23456" << false << " 1.235";
        QTest::newRow("empty ratio means 1.0") << "" << "" << false << " 1.000";
        QTest::newRow("letters give zero") << "0" << "abc" << false << " 0.000";
    }
    void settingsAreAppliedAtShow() {
        QFETCH(QString, xAxis);
        QFETCH(QString, xRatio);
        QFETCH(bool, flipped);
        QFETCH(QString, shownRatio);
        TempFolder folder;
        Program program(MakeSystemFolder(folder, SettingsText(xAxis.toStdString(), xRatio.toStdString(), "/in/p.bmp")));
        QCOMPARE(program.mainF.windowTitle(), QString("Vemotracer Ver0.90"));
        program.mainF.show();
        QCOMPARE(program.mainF.windowTitle(), QString("Vemo Ver1.006"));
        QCOMPARE(Find<QCheckBox>(program.mainF, "CheckBox1")->isChecked(), flipped);
        QVERIFY(Find<QCheckBox>(program.mainF, "CheckBox2")->isChecked());
        QVERIFY(Find<QCheckBox>(program.mainF, "CheckBox3")->isChecked());
        QVERIFY(!Find<QCheckBox>(program.mainF, "CheckBox4")->isChecked());
        QVERIFY(Find<QCheckBox>(program.mainF, "CheckBox5")->isChecked());
        QCOMPARE(Find<QLineEdit>(program.mainF, "Edit3")->text(), shownRatio);
        QCOMPARE(Find<QLineEdit>(program.mainF, "Edit4")->text(), QString(" 1.000"));
        QCOMPARE(Find<QLineEdit>(program.mainF, "Edit1")->text(), QString("/in/p.bmp"));
        QCOMPARE(Find<QLineEdit>(program.mainF, "Edit2")->text(), QString("/out"));
        QVERIFY(!Find<QWidget>(program.mainF, "Panel4")->isVisible());
        QCOMPARE(Find<QWidget>(program.mainF, "Panel4")->pos(), QPoint(43, 156));
        QCOMPARE(program.mainF.IsResultsCurrent(), 0);
        QVERIFY(program.messages.empty());
    }

    void settingsAreWrittenBackAtClose_data() {
        QTest::addColumn<QString>("typedRatio");
        QTest::addColumn<QString>("storedRatio");
        QTest::newRow("digit with a space") << " 2" << "2.000";
        QTest::newRow("rounded to three places") << "1.23456" << "1.235";
        QTest::newRow("letters") << "x1" << "0.000";
        QTest::newRow("as shown") << " 1.000" << "1.000";
    }
    void settingsAreWrittenBackAtClose() {
        QFETCH(QString, typedRatio);
        QFETCH(QString, storedRatio);
        TempFolder folder;
        const std::string system = MakeSystemFolder(folder, SettingsText("1", "1.0"));
        {
            Program program(system);
            program.mainF.show();
            Find<QLineEdit>(program.mainF, "Edit1")->setText("/scans/ä plan.bmp");
            Find<QLineEdit>(program.mainF, "Edit3")->setText(typedRatio);
            Find<QCheckBox>(program.mainF, "CheckBox1")->setChecked(false);
            Find<QCheckBox>(program.mainF, "CheckBox4")->setChecked(true);
            QVERIFY(program.mainF.close());
        }
        const std::string written = ReadFile(system + "/Vemo.sys");
        QCOMPARE(Key(written, "XRATIO"), storedRatio.toStdString());
        QCOMPARE(Key(written, "YRATIO"), std::string("1.000"));
        QCOMPARE(Key(written, "DEFDATA"), std::string("/scans/ä plan.bmp"));
        QCOMPARE(Key(written, "XAXIS"), std::string("0"));
        QCOMPARE(Key(written, "YAXIS"), std::string("1"));
        QCOMPARE(Key(written, "EXPDXF"), std::string("1"));
        QCOMPARE(Key(written, "BASBMP"), std::string("Vemo_base.bmp"));
        QVERIFY2(written.find(kSpinameSection) != std::string::npos, written.c_str());
    }

    // A start without Vemo.sys must end the program after one message and
    // must not create the file (nor its folder) on the way out.
    void missingSettingsEndsTheProgramWithoutCreatingThem_data() {
        QTest::addColumn<bool>("withFolder");
        QTest::newRow("no Vemo.sys") << true;
        QTest::newRow("no Vemosys folder") << false;
    }
    void missingSettingsEndsTheProgramWithoutCreatingThem() {
        QFETCH(bool, withFolder);
        TempFolder folder;
        const std::string system = folder.File("Vemosys");
        if (withFolder) std::filesystem::create_directory(system);
        Program program(system);
        program.mainF.show();
        QCOMPARE(program.messages, std::vector<std::string>{"Vemoを起動できません。（Vemo.sysがない）"});
        QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!program.mainF.isVisible());
        QCOMPARE(std::filesystem::exists(system + "/Vemo.sys"), false);
        QCOMPARE(std::filesystem::exists(system), withFolder);
        QCOMPARE(program.messages.size(), std::size_t(1));
    }

    void runNeedsBothFields_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("message");
        QTest::newRow("no image") << "" << "/out" << "画像ファイルを指定して下さい。";
        QTest::newRow("no image, no folder") << "" << "" << "画像ファイルを指定して下さい。";
        QTest::newRow("no folder") << "/in/plan.bmp" << "" << "出力フォルダを指定して下さい。";
    }
    void runNeedsBothFields() {
        QFETCH(QString, image);
        QFETCH(QString, output);
        QFETCH(QString, message);
        TempFolder folder;
        Program program(MakeSystemFolder(folder, SettingsText("0", "1.0")));
        program.mainF.show();
        Find<QLineEdit>(program.mainF, "Edit1")->setText(image);
        Find<QLineEdit>(program.mainF, "Edit2")->setText(output);
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button3"), Qt::LeftButton);
        QCOMPARE(program.messages, std::vector<std::string>{message.toStdString()});
        QCOMPARE(program.mainF.IsResultsCurrent(), 0);
        QVERIFY(!Find<QWidget>(program.mainF, "Panel4")->isVisible());
    }

    void browsingForTheImageSetsTheOutputFolder_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("folder");
        QTest::newRow("in a folder") << "/data/plans/plan.bmp" << "/data/plans/plan.bmp" << "/data/plans";
        QTest::newRow("at the root") << "/plan.bmp" << "/plan.bmp" << "/";
        QTest::newRow("cancelled") << "" << "/old/a.bmp" << "/old";
    }
    void browsingForTheImageSetsTheOutputFolder() {
        QFETCH(QString, chosen);
        QFETCH(QString, image);
        QFETCH(QString, folder);
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, SettingsText("0", "1.0", "/old/a.bmp")));
        program.mainF.show();
        Find<QLineEdit>(program.mainF, "Edit2")->setText("/old");
        program.mainF.SetImageFileChooser([chosen] { return chosen; });
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button1"), Qt::LeftButton);
        QCOMPARE(Find<QLineEdit>(program.mainF, "Edit1")->text(), image);
        QCOMPARE(Find<QLineEdit>(program.mainF, "Edit2")->text(), folder);
    }

    void browsingForTheFolderStartsAtTheFieldAndKeepsItOnCancel() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, SettingsText("0", "1.0")));
        program.mainF.show();
        std::vector<std::string> asked;
        std::string answer = "/elsewhere";
        std::vector<QWidget*> owners;
        program.mainF.SetFolderChooser([&](QWidget* owner, const std::string& initial) -> std::string {
            owners.push_back(owner);
            asked.push_back(initial);
            return answer;
        });
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button2"), Qt::LeftButton);
        answer.clear();
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button2"), Qt::LeftButton);
        QCOMPARE(asked, (std::vector<std::string>{"/out", "/elsewhere"}));
        QCOMPARE(owners, (std::vector<QWidget*>{&program.mainF, &program.mainF}));
        QCOMPARE(Find<QLineEdit>(program.mainF, "Edit2")->text(), QString("/elsewhere"));
    }

    void folderDialogShowsOnlyFoldersFromTheGivenOne() {
        TempFolder scratch;
        QString title;
        QString directory;
        bool foldersOnly = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            title = dialog->windowTitle();
            directory = dialog->directory().absolutePath();
            foldersOnly = dialog->fileMode() == QFileDialog::Directory && dialog->testOption(QFileDialog::ShowDirsOnly);
            dialog->reject();
        });
        QCOMPARE(ChooseFolder(nullptr, scratch.Path()), std::string());
        QCOMPARE(title, QString("フォルダを選択して下さい。"));
        QCOMPARE(directory, QString::fromStdString(scratch.Path()));
        QVERIFY(foldersOnly);
    }

    // The status panel must be painted with every stage text while the run
    // blocks the event loop, and the files of the window's run must equal
    // those of a job run directly with the built-in template: the template
    // goes through the hidden list, whose 0xA5 bytes must survive.
    void runShowsEachStageAndWritesWhatTheJobWrites() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, SettingsText("0", "1.0")));
        program.mainF.show();
        QVERIFY(QTest::qWaitForWindowExposed(&program.mainF));
        const std::string drawings = scratch.File("drawings");
        QVERIFY(PrepareWindowAndJobRuns(program, drawings));
        Find<QLineEdit>(program.mainF, "Edit3")->setText(" 2.500");
        Find<QCheckBox>(program.mainF, "CheckBox1")->setChecked(true);
        Find<QCheckBox>(program.mainF, "CheckBox4")->setChecked(true);

        auto* status = Find<QLabel>(program.mainF, "Panel5");
        QStringList painted;
        PaintRecorder recorder(status, painted);
        QVERIFY(ClickRunAndWait(program.mainF));
        QCOMPARE(painted, (QStringList{"1.画像読込み", "2.画像分析", "3.画像合成", "4.線分調整", "トレース完了"}));
        QVERIFY(!Find<QWidget>(program.mainF, "Panel4")->isVisible());
        QCOMPARE(program.messages.size(), std::size_t(1));
        QVERIFY(program.messages[0].starts_with(drawings + "/plan.bmpをトレースしました。 time:"));
        QCOMPARE(program.mainF.IsResultsCurrent(), 1);
        QCOMPARE(program.mainF.LastResult().linesPath, drawings + "/temp.lix");

        // Another image in Edit1: the window lets go of the folder.
        Find<QLineEdit>(program.mainF, "Edit1")->setText(QString::fromStdString(drawings + "/other.bmp"));
        QCOMPARE(program.mainF.IsResultsCurrent(), 0);

        TraceOptions options;
        options.flipX = options.flipY = true;
        options.xRatioText = " 2.500";
        options.yRatioText = " 1.000";
        options.exportText = options.exportDxf = options.exportA10 = true;
        TVemo_comp job(drawings + "/plan.bmp", drawings + "/job", program.settings, program.susie, program.Sink(), {});
        QCOMPARE(job.Run(options), 0);
        for (const char* name : {"plan.txt", "plan.dxf", "plan.A10"}) {
            const std::string fromWindow = ReadFile(drawings + "/gui/" + name);
            QVERIFY2(!fromWindow.empty(), name);
            QVERIFY2(fromWindow == ReadFile(drawings + "/job/" + name), name);
        }
    }

    // Catches: XRATIO=abc in Vemo.sys showing " 0.000" and tracing every x
    // to 0 without a word; the window must say so, naming the field, and
    // trace nothing.
    void ratioThatReadsAsZeroIsToldBeforeTheTrace() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, SettingsText("0", "abc")));
        program.mainF.show();
        QVERIFY(QTest::qWaitForWindowExposed(&program.mainF));
        QCOMPARE(Find<QLineEdit>(program.mainF, "Edit3")->text(), QString(" 0.000"));
        const std::string drawings = scratch.File("drawings");
        std::filesystem::create_directories(drawings);
        QVERIFY(WriteDrawing(drawings + "/plan.bmp"));
        Find<QLineEdit>(program.mainF, "Edit1")->setText(QString::fromStdString(drawings + "/plan.bmp"));
        Find<QLineEdit>(program.mainF, "Edit2")->setText(QString::fromStdString(drawings));

        auto* status = Find<QLabel>(program.mainF, "Panel5");
        QStringList painted;
        PaintRecorder recorder(status, painted);
        QVERIFY(ClickRunAndWait(program.mainF));
        QCOMPARE(program.messages.size(), std::size_t(1));
        QVERIFY2(program.messages[0].find("（Ｘ倍率「 0.000」は0として読まれます。") != std::string::npos,
                 program.messages[0].c_str());
        QVERIFY(!painted.contains("2.画像分析"));
        QCOMPARE(FilesIn(drawings), std::vector<std::string>{"plan.bmp"});
    }

    // Only the files of the run that still belongs to Edit1 are deleted.
    void closeDeletesOnlyTheCurrentRunsFiles_data() {
        QTest::addColumn<bool>("editAfterRun");
        QTest::newRow("two runs, then close") << false;
        QTest::newRow("two runs, image changed, then close") << true;
    }
    void closeDeletesOnlyTheCurrentRunsFiles() {
        QFETCH(bool, editAfterRun);
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, SettingsText("0", "1.0")));
        program.mainF.show();
        for (const char* sub : {"first", "second"}) {
            std::filesystem::create_directory(scratch.File(sub));
            QVERIFY(WriteDrawing(scratch.File(sub) + "/plan.bmp"));
            Find<QLineEdit>(program.mainF, "Edit1")->setText(QString::fromStdString(scratch.File(sub) + "/plan.bmp"));
            Find<QLineEdit>(program.mainF, "Edit2")->setText(QString::fromStdString(scratch.File(sub)));
            QVERIFY(ClickRunAndWait(program.mainF));
        }
        if (editAfterRun) Find<QLineEdit>(program.mainF, "Edit1")->setText("/somewhere/else.bmp");
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button4"), Qt::LeftButton);
        QVERIFY(!program.mainF.isVisible());
        for (const char* name : kIntermediateNames) {
            QVERIFY2(std::filesystem::exists(scratch.File("first") + "/" + name), name);
            QCOMPARE(std::filesystem::exists(scratch.File("second") + "/" + name), editAfterRun);
        }
        QVERIFY(std::filesystem::exists(scratch.File("second") + "/plan.txt"));
    }

    void viewerTellsWhenTheImageCannotBeShown() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, SettingsText("0", "1.0")));
        program.mainF.show();
        const std::string missing = scratch.File("missing.bmp");
        Find<QLineEdit>(program.mainF, "Edit1")->setText(QString::fromStdString(missing));
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button5"), Qt::LeftButton);
        QCOMPARE(program.messages.size(), std::size_t(2));
        QCOMPARE(program.messages[1], missing + "は表示できません。");
    }

    // An error inside a handler must not unwind through Qt: it is shown in
    // an error box and the window carries on.
    void errorInsideAHandlerIsShownAndTheWindowCarriesOn() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, SettingsText("0", "1.0")));
        program.mainF.show();
        program.mainF.SetMessageSink([](const std::string&) { throw std::runtime_error("disk on fire"); });
        QString shown;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->accept();
            }
        });
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button3"), Qt::LeftButton);
        QCOMPARE(shown, QString("disk on fire"));
        QVERIFY(program.mainF.isVisible());
        QCOMPARE(program.mainF.IsResultsCurrent(), 0);
    }

    void helpOpensTheDocumentInTheSystemFolder() {
        TempFolder scratch;
        const std::string system = MakeSystemFolder(scratch, SettingsText("0", "1.0"));
        Program program(system);
        program.mainF.show();
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button6"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(system + "/help/Vemo_help.htm"))});
        QVERIFY(std::filesystem::is_regular_file(system + "/help/Vemo_help.htm"));
    }

    // The options below the first controls live in [OPTIONS]: a file
    // without them starts with them off and, at close, keeps every other
    // key exactly as a save without options writes it.
    void optionsAreStoredInASectionOfTheirOwn_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("svgShown");
        QTest::addColumn<bool>("joinShown");
        QTest::newRow("no section") << "" << false << false;
        QTest::newRow("both set") << "[OPTIONS]\nEXPSVG=1\nJOIN=1\n" << true << true;
        QTest::newRow("only exactly 1 counts") << "[Options]\nEXPSVG=01\nJOIN=1\n" << false << true;
    }
    void optionsAreStoredInASectionOfTheirOwn() {
        QFETCH(QString, stored);
        QFETCH(bool, svgShown);
        QFETCH(bool, joinShown);
        TempFolder folder;
        const std::string original = SettingsText("1", "1.0", "/in/p.bmp") + stored.toStdString();
        const std::string system = MakeSystemFolder(folder, original);
        {
            Program program(system);
            program.mainF.show();
            QCOMPARE(Find<QCheckBox>(program.mainF, "CheckBox6")->isChecked(), svgShown);
            QCOMPARE(Find<QCheckBox>(program.mainF, "CheckBox7")->isChecked(), joinShown);
            Find<QCheckBox>(program.mainF, "CheckBox6")->setChecked(!svgShown);
            QVERIFY(program.mainF.close());
        }
        const std::string written = ReadFile(system + "/Vemo.sys");
        QCOMPARE(Key(written, "EXPSVG"), std::string(svgShown ? "0" : "1"));
        QCOMPARE(Key(written, "JOIN"), std::string(joinShown ? "1" : "0"));

        // The same close without the options, on a copy of the file.
        TempFolder plainFolder;
        const std::string plainSystem = MakeSystemFolder(plainFolder, original);
        TVemo_sysF plain(plainSystem, MessageSink{});
        SettingsRecord record = plain.GetSettings();
        record.xRatio = record.yRatio = "1.000";
        record.xAxis = "1";
        record.yAxis = "1";
        QCOMPARE(plain.SaveSettings(record), 0);
        const std::string withoutOptions = ReadFile(plainSystem + "/Vemo.sys");
        if (stored.isEmpty()) {
            // The section is added after everything else, which stays as it was.
            QCOMPARE(written.substr(0, withoutOptions.size()), withoutOptions);
            QVERIFY2(written.substr(withoutOptions.size()).starts_with("[OPTIONS]\n"), written.c_str());
        } else {
            QCOMPARE(written.substr(0, written.find("[O")), withoutOptions.substr(0, withoutOptions.find("[O")));
        }
    }

    // The options reach the run: SVG written, lines joined, as a direct
    // job with the same options writes them.
    void optionsReachTheRun() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, SettingsText("0", "1.0")));
        program.mainF.show();
        const std::string drawings = scratch.File("drawings");
        QVERIFY(PrepareWindowAndJobRuns(program, drawings));
        for (const char* box : {"CheckBox3", "CheckBox6", "CheckBox7"}) Find<QCheckBox>(program.mainF, box)->setChecked(true);
        Find<QCheckBox>(program.mainF, "CheckBox5")->setChecked(false);
        QVERIFY(ClickRunAndWait(program.mainF));

        TraceOptions options;
        options.yRatioText = options.xRatioText = " 1.000";
        options.flipY = true;
        options.exportText = options.exportSvg = options.join = true;
        TVemo_comp job(drawings + "/plan.bmp", drawings + "/job", program.settings, program.susie, program.Sink(), {});
        QCOMPARE(job.Run(options), 0);
        for (const char* name : {"plan.txt", "plan.svg"}) {
            const std::string fromWindow = ReadFile(drawings + "/gui/" + name);
            QVERIFY2(!fromWindow.empty() && fromWindow == ReadFile(drawings + "/job/" + name), name);
        }
        // Joined lines are fewer than the trace's pieces.
        options.join = false;
        TVemo_comp unjoined(drawings + "/plan.bmp", drawings + "/job", program.settings, program.susie, program.Sink(), {});
        QCOMPARE(unjoined.Run(options), 0);
        QVERIFY(ReadFile(drawings + "/gui/plan.txt") != ReadFile(drawings + "/job/plan.txt"));
    }

    // Without a browser the user learns where the help document is.
    void helpWithoutABrowserSaysWhereTheDocumentIs() {
        TempFolder scratch;
        const std::string system = MakeSystemFolder(scratch, SettingsText("0", "1.0"));
        Program program(system);
        program.mainF.show();
        // The offscreen platform opens nothing, as a desktop without a browser.
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button6"), Qt::LeftButton);
        QCOMPARE(program.messages, std::vector<std::string>{texts::HelpNotOpened(system + "/help/Vemo_help.htm")});
        // A missing document is said too, even where a browser would start.
        std::filesystem::remove(system + "/help/Vemo_help.htm");
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button6"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(program.messages.size(), std::size_t(2));
        QVERIFY(catcher.opened.isEmpty());
    }

    // A file dropped from a file manager fills the image field (and an
    // empty output folder field); anything else is refused.
    void droppedImageFileFillsTheImageField_data() {
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<bool>("folderFieldEmpty");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("one file") << QStringList{"plan.bmp"} << true << true;
        QTest::newRow("folder field kept") << QStringList{"plan.bmp"} << false << true;
        QTest::newRow("two files") << QStringList{"plan.bmp", "other.bmp"} << true << false;
        QTest::newRow("a folder") << QStringList{"sub"} << true << false;
        QTest::newRow("missing file") << QStringList{"gone.bmp"} << true << false;
    }
    void droppedImageFileFillsTheImageField() {
        QFETCH(QStringList, dropped);
        QFETCH(bool, folderFieldEmpty);
        QFETCH(bool, accepted);
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, SettingsText("0", "1.0", "/in/p.bmp")));
        program.mainF.show();
        std::filesystem::create_directory(scratch.File("sub"));
        WriteFile(scratch.File("plan.bmp"), "BM");
        WriteFile(scratch.File("other.bmp"), "BM");
        Find<QLineEdit>(program.mainF, "Edit2")->setText(folderFieldEmpty ? "" : "/out");
        QList<QUrl> urls;
        for (const QString& name : dropped) urls << QUrl::fromLocalFile(QString::fromStdString(scratch.File(name.toStdString())));
        QMimeData data;
        data.setUrls(urls);

        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&program.mainF, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&program.mainF, &drop);
        const QString expectedImage = accepted ? QString::fromStdString(scratch.File("plan.bmp")) : "/in/p.bmp";
        QCOMPARE(Find<QLineEdit>(program.mainF, "Edit1")->text(), expectedImage);
        const QString expectedFolder = !folderFieldEmpty ? "/out" : accepted ? QString::fromStdString(scratch.Path()) : "";
        QCOMPARE(Find<QLineEdit>(program.mainF, "Edit2")->text(), expectedFolder);
    }

    // The options sit below the first controls, which keep their places,
    // and the status panel stays centred over those.
    void optionsLeaveTheFirstControlsInPlace() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, SettingsText("0", "1.0")));
        program.mainF.show();
        QCOMPARE(Find<QWidget>(program.mainF, "Button6")->geometry(), QRect(296, 352, 80, 25));
        QCOMPARE(Find<QWidget>(program.mainF, "Panel2")->geometry(), QRect(8, 281, 369, 64));
        QCOMPARE(Find<QWidget>(program.mainF, "Panel4")->pos(), QPoint(43, 156));
        QVERIFY(Find<QWidget>(program.mainF, "Panel7")->y() >= 352 + 25);
        QVERIFY(!program.mainF.windowIcon().isNull());
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
