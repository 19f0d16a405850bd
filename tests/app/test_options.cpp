// The main window's options: fitting (which holds the join box), snapping,
// the output unit and the resolution field. Stored in [OPTIONS] and read
// back, handed to the run as a direct job with the same options runs, and
// a missing or unusable resolution refused before anything is traced.
// Offscreen; every message collected.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "app/Vemo_options.h"
#include "common/Vemo_texts.h"
#include "gui_support.h"
#include "job/Vemo_comp.h"

namespace {

const std::string kSettings =
    "[SYSTEM]\nDEFDATA=\nDEFFLD=\nBASBMP=Vemo_base.bmp\nPIXSTEP=1\n[SPINAME]\nTIFSPI=vemo_tiff.spi\n"
    "PNGSPI=vemo_png.spi\nGIFSPI=vemo_gif.spi\n[CV1FLG]\nXAXIS=0\nYAXIS=0\n[CV2FLG]\nEXPTXT=1\nEXPDXF=1\n"
    "EXPA10=0\n[CV3FLG]\nXRATIO=1.000\nYRATIO=1.000\n";

// What the option controls show.
struct Shown {
    bool join, joinEnabled, fit, snap, snapEnabled;
    QString unit, resolution;
    bool resolutionEnabled;
    bool operator==(const Shown&) const = default;
};

Shown ShownBy(QWidget& window) {
    auto* join = Find<QCheckBox>(window, "CheckBox7");
    auto* snap = Find<QCheckBox>(window, "CheckBox9");
    auto* resolution = Find<QLineEdit>(window, "Edit5");
    return {join->isChecked(),
            join->isEnabled(),
            Find<QCheckBox>(window, "CheckBox8")->isChecked(),
            snap->isChecked(),
            snap->isEnabled(),
            Find<QComboBox>(window, "ComboBox1")->currentText(),
            resolution->text(),
            resolution->isEnabled()};
}

QString Describe(const Shown& s) {
    return QString("join %1/%2 fit %3 snap %4/%5 unit %6 dpi '%7'/%8")
        .arg(s.join)
        .arg(s.joinEnabled)
        .arg(s.fit)
        .arg(s.snap)
        .arg(s.snapEnabled)
        .arg(s.unit, s.resolution)
        .arg(s.resolutionEnabled);
}

// The new keys of [OPTIONS] as the program reads them: "KEY=value ...".
QString StoredOptions(const std::string& system) {
    TVemo_sysF settings(system, MessageSink{});
    QStringList values;
    for (const char* key : {"JOIN", "FIT", "SNAP", "UNITS", "DPI"}) {
        values << QString("%1=%2").arg(key, QString::fromStdString(settings.GetOption(key)));
    }
    return values.join(' ');
}

}  // namespace

Q_DECLARE_METATYPE(Shown)

class OptionsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { MapWindowFont(); }

    // Catches: a key not read or not written, a unit stored under the
    // window's caption ("inch") instead of its name, an unknown unit taken
    // as something other than px, the join box's own choice lost while
    // fitting holds it.
    void choicesAreShownStoredAndReadBack_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<Shown>("shown");
        QTest::addColumn<QString>("written");
        QTest::newRow("no keys: as before") << "" << Shown{false, true, false, false, false, "px", "", false}
                                            << "JOIN=0 FIT=0 SNAP=0 UNITS=px DPI=";
        QTest::newRow("fitting holds the join box")
            << "FIT=1\nJOIN=0\nSNAP=1\nUNITS=mm\nDPI=300,600\n"
            << Shown{true, false, true, true, true, "mm", "300,600", true}
            << "JOIN=0 FIT=1 SNAP=1 UNITS=mm DPI=300,600";
        QTest::newRow("inches, join of its own") << "JOIN=1\nSNAP=1\nUNITS=in\nDPI=400\n"
                                                 << Shown{true, true, false, true, false, "inch", "400", true}
                                                 << "JOIN=1 FIT=0 SNAP=1 UNITS=in DPI=400";
        QTest::newRow("unknown unit reads as px") << "UNITS=cm\nDPI=abc\n"
                                                  << Shown{false, true, false, false, false, "px", "abc", false}
                                                  << "JOIN=0 FIT=0 SNAP=0 UNITS=px DPI=abc";
    }
    void choicesAreShownStoredAndReadBack() {
        QFETCH(QString, stored);
        QFETCH(Shown, shown);
        QFETCH(QString, written);
        TempFolder folder;
        const std::string system =
            MakeSystemFolder(folder, kSettings + (stored.isEmpty() ? "" : "[OPTIONS]\n" + stored.toStdString()));
        {
            Program program(system);
            program.mainF.show();
            QVERIFY2(ShownBy(program.mainF) == shown, qPrintable(Describe(ShownBy(program.mainF))));
            QVERIFY(program.mainF.close());
        }
        QCOMPARE(StoredOptions(system), written);

        // Read back, the window shows the same.
        Program again(system);
        again.mainF.show();
        QVERIFY2(ShownBy(again.mainF) == shown, qPrintable(Describe(ShownBy(again.mainF))));
    }

    // Catches: fitting that leaves the join box free (a run that fits
    // unjoined lines), the join box left ticked after fitting is turned
    // off when the user had it off, snapping offered without fitting, the
    // resolution field live for pixels.
    void controlsFollowEachOther() {
        TempFolder folder;
        Program program(MakeSystemFolder(folder, kSettings));
        program.mainF.show();
        auto* join = Find<QCheckBox>(program.mainF, "CheckBox7");
        auto* fit = Find<QCheckBox>(program.mainF, "CheckBox8");
        auto* snap = Find<QCheckBox>(program.mainF, "CheckBox9");
        for (const bool ownJoin : {false, true}) {
            join->setChecked(ownJoin);
            QTest::mouseClick(fit, Qt::LeftButton, {}, QPoint(6, fit->height() / 2));
            QVERIFY(fit->isChecked() && join->isChecked() && !join->isEnabled() && snap->isEnabled());
            QTest::mouseClick(join, Qt::LeftButton, {}, QPoint(6, join->height() / 2));
            QVERIFY(join->isChecked());  // greyed: a click changes nothing
            QCOMPARE(CollectWindowOptions(program.mainF).at("JOIN"), std::string(ownJoin ? "1" : "0"));
            QTest::mouseClick(fit, Qt::LeftButton, {}, QPoint(6, fit->height() / 2));
            QCOMPARE(join->isChecked(), ownJoin);
            QVERIFY(join->isEnabled() && !snap->isEnabled());
        }
        // The run gets what the boxes show; snapping only with fitting.
        join->setChecked(false);
        for (const bool fitting : {true, false}) {
            fit->setChecked(fitting);
            snap->setChecked(true);
            TraceOptions options;
            AddWindowOptions(program.mainF, options);
            QVERIFY(options.fit == fitting && options.snapAngles == fitting && options.join == fitting);
        }
        auto* units = Find<QComboBox>(program.mainF, "ComboBox1");
        auto* resolution = Find<QLineEdit>(program.mainF, "Edit5");
        QVERIFY(!resolution->isEnabled());
        units->setCurrentIndex(1);
        QVERIFY(resolution->isEnabled());
        units->setCurrentIndex(0);
        QVERIFY(!resolution->isEnabled());
    }

    // Catches: a choice that does not reach the job (fitting, the unit, the
    // resolution or its axes swapped): the window's files
    // must be those of a direct job given the same choices, and differ
    // from the files without them.
    void choicesReachTheRun() {
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, kSettings));
        program.mainF.show();
        const std::string drawings = scratch.File("drawings");
        QVERIFY(PrepareWindowAndJobRuns(program, drawings, 2835));  // stores 72 dpi
        Find<QCheckBox>(program.mainF, "CheckBox8")->setChecked(true);
        Find<QCheckBox>(program.mainF, "CheckBox9")->setChecked(true);
        Find<QComboBox>(program.mainF, "ComboBox1")->setCurrentIndex(1);
        Find<QLineEdit>(program.mainF, "Edit5")->setText(" 200, 100 ");
        QVERIFY(ClickRunAndWait(program.mainF));
        QCOMPARE(program.messages.size(), std::size_t(1));

        TraceOptions options;
        options.xRatioText = options.yRatioText = " 1.000";
        options.exportText = options.exportDxf = true;
        options.join = options.fit = options.snapAngles = true;
        options.units = OutputUnit::Mm;
        options.xDpi = 200.0;
        options.yDpi = 100.0;
        const auto runJob = [&](const TraceOptions& given) {
            TVemo_comp job(drawings + "/plan.bmp", drawings + "/job", program.settings, program.susie, program.Sink(), {});
            return job.Run(given);
        };
        QCOMPARE(runJob(options), 0);
        for (const char* name : {"plan.txt", "plan.dxf"}) {
            const std::string fromWindow = ReadFile(drawings + "/gui/" + name);
            QVERIFY2(!fromWindow.empty() && fromWindow == ReadFile(drawings + "/job/" + name), name);
        }
        // Each choice changes the files, so none can be lost unseen.
        const std::string windowDxf = ReadFile(drawings + "/gui/plan.dxf");
        const std::pair<const char*, void (*)(TraceOptions&)> without[] = {
            {"fit", [](TraceOptions& o) { o.fit = false; }},
            {"unit", [](TraceOptions& o) { o.units = OutputUnit::Px; }},
            {"dpi", [](TraceOptions& o) { o.xDpi = o.yDpi = 0.0; }},
            {"axes", [](TraceOptions& o) { std::swap(o.xDpi, o.yDpi); }},
        };
        for (const auto& [name, change] : without) {
            TraceOptions other = options;
            change(other);
            QCOMPARE(runJob(other), 0);
            QVERIFY2(ReadFile(drawings + "/job/plan.dxf") != windowDxf, name);
        }
    }

    // Catches: a unit other than px traced in pixels, or refused only after
    // the trace, when the image stores no resolution and the field is
    // empty; the message must name the image and the window's field (not
    // vemo-trace's --dpi). A field whose text is no resolution is refused
    // before the run starts, naming the field; for pixels it is not read.
    void missingOrUnusableResolutionIsRefusedBeforeTheTrace_data() {
        QTest::addColumn<int>("unit");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("refusal");  // "" for a run that succeeds
        const QString noResolution = QString::fromStdString(texts::ReasonNoResolution("mm", texts::kResolutionField));
        QTest::newRow("mm, empty field") << 1 << "" << noResolution;
        QTest::newRow("mm, blanks only") << 1 << "   " << noResolution;
        QTest::newRow("mm, given") << 1 << "300" << "";
        QTest::newRow("inch, two given") << 2 << "300,600" << "";
        QTest::newRow("px needs none") << 0 << "" << "";
        QTest::newRow("px does not read the field") << 0 << "abc" << "";
        for (const char* bad : {"abc", "0", "-300", "300,", ",300", "300,600,1", "inf", "300dpi"}) {
            QTest::newRow(bad) << 1 << bad << QString::fromStdString(texts::ResolutionUnusable(bad));
        }
    }
    void missingOrUnusableResolutionIsRefusedBeforeTheTrace() {
        QFETCH(int, unit);
        QFETCH(QString, field);
        QFETCH(QString, refusal);
        TempFolder scratch;
        Program program(MakeSystemFolder(scratch, kSettings));
        program.mainF.show();
        const std::string drawings = scratch.File("drawings");
        QVERIFY(PrepareWindowAndJobRuns(program, drawings, 0));
        Find<QComboBox>(program.mainF, "ComboBox1")->setCurrentIndex(unit);
        Find<QLineEdit>(program.mainF, "Edit5")->setText(field);
        QStringList painted;
        PaintRecorder recorder(Find<QLabel>(program.mainF, "Panel5"), painted);
        QVERIFY(ClickRunAndWait(program.mainF));
        QCOMPARE(program.messages.size(), std::size_t(1));
        const std::string image = drawings + "/plan.bmp";
        if (refusal.isEmpty()) {
            QVERIFY2(program.messages[0].starts_with(image + "をトレースしました。"), program.messages[0].c_str());
            return;
        }
        const bool fieldRefused = refusal.startsWith("解像度「");
        const std::string expected =
            fieldRefused ? refusal.toStdString() : texts::CannotProcessBecause(image, refusal.toStdString());
        QCOMPARE(program.messages[0], expected);
        QVERIFY2(!painted.contains("2.画像分析"), qPrintable(painted.join(" ")));
        if (fieldRefused) QVERIFY(painted.isEmpty());  // no run was started
        QCOMPARE(FilesIn(drawings + "/gui"), std::vector<std::string>{});
        QCOMPARE(program.mainF.IsResultsCurrent(), 0);
    }
};

QTEST_MAIN(OptionsTest)
#include "test_options.moc"
