// Tests of the viewer window, offscreen: zoom, scrolling, recentring, the
// caption, the check boxes and what the surface shows.
#include <QCheckBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include "trace/Vemotrace_packed.h"
#include "viewer/Vemo_viewimage.h"
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <fstream>
#include <string>
#include <vector>

#include "common/Vemo_sys.h"
#include "image/Vemo_susie.h"
#include "viewer/Vemo_viewer.h"

namespace {

constexpr QRgb kRed = 0xFF0000;
constexpr QRgb kWhite = 0xFFFFFF;
constexpr QRgb kBlack = 0x000000;

// A white image with black pixels at `ink`, saved as an 8-bit BMP.
void WriteImage(const QString& path, int width, int height, const std::vector<QPoint>& ink = {}) {
    QImage image(width, height, QImage::Format_Indexed8);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image.fill(1);
    for (const QPoint& p : ink) image.setPixel(p, 0);
    QVERIFY(image.save(path, "BMP"));
}

void WriteBytes(const QString& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void PutInt32(std::vector<uint8_t>& bytes, int32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
}

void PutDouble(std::vector<uint8_t>& bytes, double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

QRgb Colour(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

}  // namespace

class ViewerTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    std::vector<std::string> m_messages;
    TVemo_sysF m_settings{VEMO_SYSTEM_DIR, [this](const std::string& text) { m_messages.push_back(text); }};
    TVemo_susieF m_plugins{[this](const std::string& text) { m_messages.push_back(text); }};
    int m_resultsCurrent = 1;

    QString Path(const char* name) const { return m_folder.filePath(name); }

    void Connect(TVemo_viewareF& viewer) {
        viewer.SetContext({&m_settings, &m_plugins, [this](const std::string& text) { m_messages.push_back(text); },
                           [this] { return m_resultsCurrent; }});
    }

    static QScrollArea* ScrollBox(TVemo_viewareF& viewer) { return viewer.findChild<QScrollArea*>("ScrollBox1"); }
    static QWidget* Surface(TVemo_viewareF& viewer) { return viewer.findChild<QWidget*>("PaintBox1"); }
    static QWidget* ClickSurface(TVemo_viewareF& viewer) { return viewer.findChild<QWidget*>("PaintBox2"); }
    static QPushButton* Button(TVemo_viewareF& viewer, const char* name) {
        return viewer.findChild<QPushButton*>(name);
    }
    static QCheckBox* Check(TVemo_viewareF& viewer, const char* name) { return viewer.findChild<QCheckBox*>(name); }
    // Shows the viewer and waits until it is on screen.
    static bool Shown(TVemo_viewareF& viewer) {
        viewer.show();
        return QTest::qWaitForWindowExposed(&viewer);
    }
    static QPoint Scroll(TVemo_viewareF& viewer) {
        return {ScrollBox(viewer)->horizontalScrollBar()->value(), ScrollBox(viewer)->verticalScrollBar()->value()};
    }

    // The client area of the scroll box without scroll bars.
    QSize PlainClient() {
        WriteImage(Path("probe.bmp"), 10, 10);
        TVemo_viewareF viewer;
        Connect(viewer);
        if (viewer.OpenImage(Path("probe.bmp").toStdString(), {}) != 0) return {};
        return ScrollBox(viewer)->viewport()->size();
    }

    // A drawing with one polyline and one square, as a trace leaves them.
    TraceResult WriteTrace(const std::vector<std::pair<double, double>>& polyline) {
        TraceResult result;
        result.linesPath = Path("temp.lix").toStdString();
        result.squaresPath = Path("temp.sqr").toStdString();
        result.groupsPath = Path("temp.sqo").toStdString();
        std::vector<uint8_t> lines;
        PutInt32(lines, static_cast<int32_t>(polyline.size()));
        for (const auto& [x, y] : polyline) {
            PutDouble(lines, x);
            PutDouble(lines, y);
        }
        WriteBytes(Path("temp.lix"), lines);
        // One square of side 3 at (2, 2) in group 1: red.
        std::vector<uint8_t> squares, members;
        for (int32_t field : {0, 2, 2, 3}) PutInt32(squares, field);
        for (int32_t field : {1, 0}) PutInt32(members, field);
        WriteBytes(Path("temp.sqr"), squares);
        WriteBytes(Path("temp.sqo"), members);
        result.squareCount = 1;
        result.groupCount = 2;
        result.memberCount = 1;
        return result;
    }

private slots:
    void initTestCase() { QVERIFY(m_folder.isValid()); }

    // The zoom must fit the whole image into the client area whichever way
    // is tighter, and the caption must show it with three decimals.
    void fitZoomAndCaption_data() {
        QTest::addColumn<double>("widthShare");
        QTest::addColumn<double>("heightShare");
        QTest::addColumn<QString>("zoomText");
        QTest::newRow("image as large as the client area") << 1.0 << 1.0 << "100.000%";
        QTest::newRow("twice as wide, half as high") << 2.0 << 0.5 << "50.000%";
    }
    void fitZoomAndCaption() {
        QFETCH(double, widthShare);
        QFETCH(double, heightShare);
        QFETCH(QString, zoomText);
        const QSize client = PlainClient();
        const QString path = Path("fit.bmp");
        WriteImage(path, static_cast<int>(client.width() * widthShare), static_cast<int>(client.height() * heightShare));
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(path.toStdString(), {}), 0);
        viewer.grab();  // paints, which sets the caption
        QCOMPARE(viewer.windowTitle(), "VemoViewer-" + path + QString(QChar(0x3000)) + zoomText);
        QCOMPARE(Scroll(viewer), QPoint(0, 0));
    }

    // "+" and "-" multiply by 1.5 and 0.75, and are refused below zoom 0.01
    // and when fewer than 5 image pixels would stay visible.
    void zoomButtons_data() {
        QTest::addColumn<double>("startZoom");
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<double>("expected");
        QTest::newRow("+ twice") << 1.0 << "++" << 2.25;
        QTest::newRow("+ then - is not the start") << 1.0 << "+-" << 1.125;
        QTest::newRow("- to below 0.01 is refused") << 0.012 << "-" << 0.012;
        QTest::newRow("- to just above 0.01") << 0.014 << "-" << 0.0105;
    }
    void zoomButtons() {
        QFETCH(double, startZoom);
        QFETCH(QString, clicks);
        QFETCH(double, expected);
        const QSize client = PlainClient();
        // An image whose height fits the client at the start zoom; narrow,
        // so that the width does not limit it.
        const QString path = Path("zoom.bmp");
        WriteImage(path, 100, static_cast<int>(std::lround(client.height() / startZoom)));
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(path.toStdString(), {}), 0);
        const double start = viewer.Zoom();
        QVERIFY(std::abs(start - startZoom) < startZoom * 0.01);
        for (QChar click : clicks) Button(viewer, click == '+' ? "Button2" : "Button3")->click();
        QVERIFY2(std::abs(viewer.Zoom() - start * expected / startZoom) < 1e-12,
                 qPrintable(QString::number(viewer.Zoom())));
    }

    // At a high zoom, "+" stops once fewer than 5 image pixels would show
    // across or down the visible area.
    void zoomStopsAtFiveVisiblePixels() {
        const QSize client = PlainClient();
        const QString path = Path("deep.bmp");
        WriteImage(path, client.width(), client.height());
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(path.toStdString(), {}), 0);
        for (int i = 0; i < 40; ++i) Button(viewer, "Button2")->click();
        // Zoomed in, both scroll bars show, so the visible area is the
        // viewport's present size.
        const QSize visible = ScrollBox(viewer)->viewport()->size();
        const int shortSide = std::min(visible.width(), visible.height());
        double expected = 1.0;
        while (shortSide / (expected * 1.5) >= 5.0) expected *= 1.5;
        QCOMPARE(viewer.Zoom(), expected);
    }

    // Ctrl + wheel zooms about the point under the cursor, within the
    // limits of the buttons; the plain wheel scrolls and leaves the zoom.
    void wheel() {
        const QSize client = PlainClient();
        const QString path = Path("wheel.bmp");
        WriteImage(path, client.width(), client.height());
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(path.toStdString(), {}), 0);
        QVERIFY(Shown(viewer));
        const auto turn = [&](int angle, Qt::KeyboardModifiers modifiers) {
            QWheelEvent event(QPointF(200, 100), QPointF(), QPoint(), QPoint(0, angle), Qt::NoButton, modifiers,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(ClickSurface(viewer), &event);
        };
        turn(120, Qt::ControlModifier);
        QCOMPARE(viewer.Zoom(), 1.5);
        QCOMPARE(Scroll(viewer), QPoint(100, 50));  // image point (200, 100) stays under the cursor
        turn(60, Qt::ControlModifier);              // half a notch: nothing yet
        QCOMPARE(viewer.Zoom(), 1.5);
        turn(-180, Qt::ControlModifier);            // the half notch back, then one out
        QCOMPARE(viewer.Zoom(), 1.125);
        const int before = Scroll(viewer).y();
        turn(-120, Qt::NoModifier);
        QCOMPARE(viewer.Zoom(), 1.125);
        QVERIFY(Scroll(viewer).y() > before);
    }

    // A left click brings the clicked point to the centre as far as the
    // scroll range allows; other buttons do nothing.
    void clickToRecentre_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("where");
        QTest::newRow("left, in the middle") << int(Qt::LeftButton) << "middle";
        QTest::newRow("left, lower right at the end of the range") << int(Qt::LeftButton) << "corner";
        QTest::newRow("right, anywhere") << int(Qt::RightButton) << "offcentre";
        QTest::newRow("left, off centre") << int(Qt::LeftButton) << "offcentre";
    }
    void clickToRecentre() {
        QFETCH(int, button);
        QFETCH(QString, where);
        const QSize client = PlainClient();
        const QString path = Path("scroll.bmp");
        WriteImage(path, client.width(), client.height());
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(path.toStdString(), {}), 0);
        QVERIFY(Shown(viewer));
        for (int i = 0; i < 4; ++i) Button(viewer, "Button2")->click();  // zoom 5.0625
        QScrollBar* horizontal = ScrollBox(viewer)->horizontalScrollBar();
        QScrollBar* vertical = ScrollBox(viewer)->verticalScrollBar();
        QWidget* surface = ClickSurface(viewer);
        const QSize size = surface->size();
        QCOMPARE(size, ScrollBox(viewer)->viewport()->size());
        QPoint at, expected;
        if (where == "corner") {
            horizontal->setValue(horizontal->maximum());
            vertical->setValue(vertical->maximum());
            at = QPoint(size.width() - 2, size.height() - 2);
            expected = QPoint(horizontal->maximum(), vertical->maximum());
        } else {
            horizontal->setValue(1000);
            vertical->setValue(700);
            // Even sizes have an exact middle pixel; odd ones a half.
            at = where == "middle" ? QPoint(size.width() / 2, size.height() / 2) : QPoint(100, 50);
            const double dx = at.x() - size.width() * 0.5, dy = at.y() - size.height() * 0.5;
            expected = button == Qt::LeftButton ? QPoint(static_cast<int>(1000 + dx), static_cast<int>(700 + dy))
                                                : QPoint(1000, 700);
            if (where == "middle") QVERIFY(std::abs(expected.x() - 1000) <= 1 && std::abs(expected.y() - 700) <= 1);
        }
        QTest::mouseClick(surface, Qt::MouseButton(button), {}, at);
        QCOMPARE(Scroll(viewer), expected);
    }

    // The overlay lands on the image: at zoom 1.5 the point (10.9, 3.0) is
    // drawn at (16, 4) of the surface, the first polyline in red, over the
    // image; unticking "線画" shows the image alone.
    void overlayOnTheImage() {
        const QSize client = PlainClient();
        const QString path = Path("overlay.bmp");
        std::vector<QPoint> ink;
        for (int x = 8; x < 40; ++x) ink.emplace_back(x, 3);  // a line under the polyline
        WriteImage(path, client.width(), client.height(), ink);
        const TraceResult result = WriteTrace({{10.9, 3.0}, {30.0, 3.0}});
        TVemo_viewareF viewer;
        Connect(viewer);
        m_resultsCurrent = 1;
        QCOMPARE(viewer.OpenImage(path.toStdString(), result), 0);
        QVERIFY(Shown(viewer));
        Button(viewer, "Button2")->click();
        QCOMPARE(viewer.Zoom(), 1.5);
        ScrollBox(viewer)->horizontalScrollBar()->setValue(0);
        ScrollBox(viewer)->verticalScrollBar()->setValue(0);

        const QImage plain = Surface(viewer)->grab(QRect(0, 0, 60, 12)).toImage();
        Check(viewer, "CheckBox2")->setChecked(true);
        const QImage drawn = Surface(viewer)->grab(QRect(0, 0, 60, 12)).toImage();
        QCOMPARE(Colour(plain, 16, 4), kBlack);   // image row 3 at zoom 1.5
        QCOMPARE(Colour(drawn, 16, 4), kRed);     // the polyline's first point
        QCOMPARE(Colour(drawn, 15, 4), kBlack);   // left of it: the ink
        QCOMPARE(Colour(drawn, 44, 4), kRed);     // last pixel before x 45
        QCOMPARE(Colour(drawn, 45, 4), kBlack);   // the end point stays undrawn
        QCOMPARE(Colour(drawn, 16, 7), kWhite);   // image row 4: paper
        // Scrolled, the lines stay on the image.
        ScrollBox(viewer)->horizontalScrollBar()->setValue(10);
        ScrollBox(viewer)->verticalScrollBar()->setValue(2);
        const QImage scrolled = Surface(viewer)->grab(QRect(0, 0, 60, 12)).toImage();
        QCOMPARE(Colour(scrolled, 16, 4), kRed);
        QCOMPARE(Colour(scrolled, 15, 4), kBlack);
        QCOMPARE(Colour(scrolled, 45, 4), kBlack);
        Check(viewer, "CheckBox2")->setChecked(false);
        QCOMPARE(Colour(Surface(viewer)->grab(QRect(0, 0, 60, 12)).toImage(), 16, 4), kBlack);
    }

    // Deep in and scrolled, an image pixel (c, r) covers the surface from
    // (c, r) * zoom to (c + 1, r + 1) * zoom, where the overlay puts the
    // points inside it: cutting the view out at whole image pixels and
    // stretching it would shift the image against the lines.
    void enlargedImageStaysUnderTheLines() {
        const QSize client = PlainClient();
        const QString path = Path("deepline.bmp");
        WriteImage(path, client.width(), client.height(), {{100, 80}});
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(path.toStdString(), WriteTrace({{100.5, 80.5}, {100.5, 95.0}})), 0);
        QVERIFY(Shown(viewer));
        for (int i = 0; i < 4; ++i) Button(viewer, "Button2")->click();
        // Column 100 spans 506.25 to 511.31: screen columns 506 to 510 have
        // their centres in it. Row 80 spans 405 to 410.06: rows 405 to 409.
        QCOMPARE(viewer.Zoom(), 5.0625);
        ScrollBox(viewer)->horizontalScrollBar()->setValue(403);
        ScrollBox(viewer)->verticalScrollBar()->setValue(301);
        Check(viewer, "CheckBox2")->setChecked(true);
        const QImage shown = Surface(viewer)->grab(QRect(500, 400, 20, 20)).toImage();
        QCOMPARE(Colour(shown, 505 - 500, 406 - 400), kWhite);
        QCOMPARE(Colour(shown, 506 - 500, 406 - 400), kBlack);
        QCOMPARE(Colour(shown, 510 - 500, 406 - 400), kBlack);
        QCOMPARE(Colour(shown, 511 - 500, 406 - 400), kWhite);
        QCOMPARE(Colour(shown, 507 - 500, 404 - 400), kWhite);
        QCOMPARE(Colour(shown, 507 - 500, 405 - 400), kBlack);
        QCOMPARE(Colour(shown, 507 - 500, 409 - 400), kBlack);
        QCOMPARE(Colour(shown, 507 - 500, 410 - 400), kWhite);
        QCOMPARE(Colour(shown, 508 - 500, 407 - 400), kRed);  // (100.5, 80.5) * 5.0625
    }

    // The surface is drawn in the screen's pixels: at a ratio of 2 and a
    // zoom of 1.5 every image pixel covers exactly 3 device pixels and the
    // overlay is one device pixel thin; drawn in window pixels and blown up,
    // the pixels would alternate between 2 and 4 and the line be 2 thick.
    // (ctest runs this once more with QT_SCALE_FACTOR=2.)
    void sharpAtTheScreensPixelRatio() {
        const QSize client = PlainClient();
        const QString path = Path("sharp.bmp");
        std::vector<QPoint> ink;
        for (int x = 20; x < 40; x += 2) {
            for (int y = 10; y < 30; ++y) ink.emplace_back(x, y);  // every other column
        }
        WriteImage(path, client.width(), client.height(), ink);
        TVemo_viewareF viewer;
        Connect(viewer);
        m_resultsCurrent = 1;
        QCOMPARE(viewer.OpenImage(path.toStdString(), WriteTrace({{10.0, 50.5}, {60.0, 50.5}})), 0);
        QVERIFY(Shown(viewer));
        Button(viewer, "Button2")->click();
        QCOMPARE(viewer.Zoom(), 1.5);
        ScrollBox(viewer)->horizontalScrollBar()->setValue(0);
        ScrollBox(viewer)->verticalScrollBar()->setValue(0);
        Check(viewer, "CheckBox2")->setChecked(true);
        const QImage shown = Surface(viewer)->grab(QRect(0, 0, 100, 100)).toImage();
        const double ratio = shown.devicePixelRatio();
        QCOMPARE(ratio, Surface(viewer)->devicePixelRatioF());
        const int row = static_cast<int>(20 * 1.5 * ratio);
        std::vector<int> runs;  // lengths of the black runs along the row
        for (int x = 0, run = 0; x < shown.width(); ++x) {
            if (Colour(shown, x, row) == kBlack) {
                ++run;
            } else if (run > 0) {
                runs.push_back(run);
                run = 0;
            }
        }
        QCOMPARE(runs.size(), std::size_t(10));
        const double perPixel = 1.5 * ratio;
        for (int run : runs) QVERIFY2(run == std::floor(perPixel) || run == std::ceil(perPixel), qPrintable(QString::number(run)));
        if (perPixel == std::floor(perPixel)) {
            QVERIFY(std::all_of(runs.begin(), runs.end(), [&](int run) { return run == perPixel; }));
        }
        int redRows = 0;
        for (int y = 0; y < shown.height(); ++y) redRows += Colour(shown, static_cast<int>(30 * 1.5 * ratio), y) == kRed;
        QCOMPARE(redRows, 1);
    }

    // A drawing kept as bits must look exactly as the same drawing kept as
    // bytes, at every zoom and scroll position, whatever paper index the
    // bytes use; a bit or block taken from the wrong column would show.
    void packedImageShowsAsItsBytes() {
        const int width = 700;
        const int height = 333;
        QList<QRgb> table(256, qRgb(255, 255, 255));
        table[0] = qRgb(0, 0, 0);
        QImage bytes(width, height, QImage::Format_Indexed8);
        bytes.setColorTable(table);
        std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height);
        uint32_t seed = 12345;
        const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
        for (int y = 0; y < height; ++y) {
            // Blank rows, sparse rows and a few dense ones.
            const uint32_t density = y % 7 == 0 ? 0 : y % 11 == 0 ? 50 : 2;
            for (int x = 0; x < width; ++x) {
                const bool ink = (next() >> 8) % 100 < density;
                bytes.scanLine(y)[x] = ink ? 0 : static_cast<uint8_t>(1 + (next() >> 8) % 255);
                pixels[static_cast<std::size_t>(y) * width + x] = ink ? 0 : 255;
            }
        }
        TVemo_viewimage indexed;
        indexed.SetImage(bytes);
        TVemo_viewimage packed;
        packed.SetPacked(PackedBitmap::FromBytes(BitmapView{width, height, pixels.data(), width}), table[0], table[1]);
        QCOMPARE(packed.Width(), width);
        for (double zoom : {0.01, 0.05, 0.2, 0.26, 0.7, 1.0, 1.5, 3.3}) {
            for (const QPoint at : {QPoint(0, 0), QPoint(37, 5), QPoint(static_cast<int>(width * zoom) - 40, 11)}) {
                QImage a(61, 47, QImage::Format_Indexed8);
                QImage b(61, 47, QImage::Format_Indexed8);
                indexed.Render(a, zoom, at.x(), at.y());
                packed.Render(b, zoom, at.x(), at.y());
                QCOMPARE(b.convertToFormat(QImage::Format_RGB32), a.convertToFormat(QImage::Format_RGB32));
            }
        }
        packed.ToIndexed(table, 1);
        QVERIFY(!packed.IsPacked());
        QImage a(100, 100, QImage::Format_Indexed8);
        QImage b(100, 100, QImage::Format_Indexed8);
        indexed.Render(a, 0.4, 3, 3);
        packed.Render(b, 0.4, 3, 3);
        QCOMPARE(b.convertToFormat(QImage::Format_RGB32), a.convertToFormat(QImage::Format_RGB32));
    }

    // Both check boxes start unticked at every opening and are offered only
    // while the main window's results belong to the image.
    void checkBoxesAtOpening_data() {
        QTest::addColumn<int>("resultsCurrent");
        QTest::newRow("after a trace of the image") << 1;
        QTest::newRow("never traced, or the image field edited") << 0;
    }
    void checkBoxesAtOpening() {
        QFETCH(int, resultsCurrent);
        WriteImage(Path("boxes.bmp"), 50, 40);
        TVemo_viewareF viewer;
        Connect(viewer);
        m_resultsCurrent = 1;
        QCOMPARE(viewer.OpenImage(Path("boxes.bmp").toStdString(), WriteTrace({{1, 1}, {5, 5}})), 0);
        viewer.show();
        Check(viewer, "CheckBox2")->setChecked(true);
        viewer.close();

        m_resultsCurrent = resultsCurrent;
        QCOMPARE(viewer.OpenImage(Path("boxes.bmp").toStdString(), {}), 0);
        viewer.show();
        QCOMPARE(Check(viewer, "CheckBox1")->isChecked(), false);
        QCOMPARE(Check(viewer, "CheckBox2")->isChecked(), false);
        QCOMPARE(Check(viewer, "CheckBox1")->isEnabled(), resultsCurrent != 0);
        QCOMPARE(Check(viewer, "CheckBox2")->isEnabled(), resultsCurrent != 0);
        QCOMPARE(Check(viewer, "CheckBox1")->isVisible(), false);
        m_resultsCurrent = 1;
    }

    // Reopening after zooming and scrolling starts again at the fit zoom,
    // at the top-left corner, without the overlay.
    void reopeningStartsAfresh() {
        const QSize client = PlainClient();
        const QString path = Path("again.bmp");
        WriteImage(path, client.width() * 2, client.height());
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(path.toStdString(), WriteTrace({{1, 1}, {5, 5}})), 0);
        viewer.show();
        const double fit = viewer.Zoom();
        QCOMPARE(fit, 0.5);
        Button(viewer, "Button2")->click();
        Button(viewer, "Button2")->click();
        Check(viewer, "CheckBox2")->setChecked(true);
        QVERIFY(Scroll(viewer) != QPoint(0, 0));
        Button(viewer, "Button1")->click();
        QVERIFY(!viewer.isVisible());

        QCOMPARE(viewer.OpenImage(path.toStdString(), {}), 0);
        viewer.show();
        QCOMPARE(viewer.Zoom(), fit);
        QCOMPARE(Scroll(viewer), QPoint(0, 0));
        QCOMPARE(Check(viewer, "CheckBox2")->isChecked(), false);
    }

    // The squares view paints each square in its group's colour into the
    // image; unticking it loads the image again.
    void squaresView() {
        const QSize client = PlainClient();
        const QString path = Path("squares.bmp");
        WriteImage(path, client.width(), client.height(), {{3, 3}});
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(path.toStdString(), WriteTrace({{1, 1}, {5, 5}})), 0);
        viewer.show();
        QCOMPARE(viewer.Zoom(), 1.0);
        Check(viewer, "CheckBox1")->setChecked(true);
        QImage shown = Surface(viewer)->grab(QRect(0, 0, 8, 8)).toImage();
        QCOMPARE(Colour(shown, 2, 2), kRed);  // group 1
        QCOMPARE(Colour(shown, 4, 4), kRed);
        QCOMPARE(Colour(shown, 5, 5), kWhite);
        Check(viewer, "CheckBox1")->setChecked(false);
        shown = Surface(viewer)->grab(QRect(0, 0, 8, 8)).toImage();
        QCOMPARE(Colour(shown, 2, 2), kWhite);
        QCOMPARE(Colour(shown, 3, 3), kBlack);
    }

    // Reduced to fit, a line one pixel wide must still show: sampling one
    // pixel in four would lose it.
    void reducedImageKeepsThinLines() {
        const QSize client = PlainClient();
        const QString path = Path("wide.bmp");
        std::vector<QPoint> ink;
        for (int y = 0; y < 40; ++y) ink.emplace_back(1001, y);      // vertical hairline
        for (int x = 0; x < 5000; ++x) ink.emplace_back(x, 21);       // horizontal hairline
        WriteImage(path, 5000, 40, ink);
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(path.toStdString(), {}), 0);
        const double zoom = viewer.Zoom();
        QVERIFY(zoom < 0.25);  // reduced copies in use
        const QImage shown = Surface(viewer)->grab().toImage();
        // A reduced copy may put a line one screen pixel off its exact place.
        const int column = static_cast<int>(1001 * zoom), row = static_cast<int>(21 * zoom);
        const auto blackNear = [&](int x, int y) {
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    if (shown.valid(x + dx, y + dy) && Colour(shown, x + dx, y + dy) == kBlack) return true;
                }
            }
            return false;
        };
        QVERIFY(blackNear(column, 0));
        QCOMPARE(Colour(shown, column + 4, 0), kWhite);
        QCOMPARE(Colour(shown, column - 4, 0), kWhite);
        QCOMPARE(Colour(shown, column + 4, row + 2), kWhite);
        for (int x = 0; x < client.width() - 1; x += 97) QVERIFY(blackNear(x, row));
    }

    // A lines file that is not a regular file (a FIFO planted at temp.lix
    // never ends) draws nothing instead of hanging the window.
    void overlayFromAFifo() {
        WriteImage(Path("fifo.bmp"), 50, 40);
        const QString fifo = Path("fifo.lix");
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        TraceResult result;
        result.linesPath = fifo.toStdString();
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(Path("fifo.bmp").toStdString(), result), 0);
        viewer.show();
        Check(viewer, "CheckBox2")->setChecked(true);
        const QImage shown = Surface(viewer)->grab().toImage();
        QCOMPARE(Colour(shown, 10, 10), kWhite);
    }

    // An image that cannot be loaded opens nothing and the loader says why.
    void unloadableImage() {
        m_messages.clear();
        TVemo_viewareF viewer;
        Connect(viewer);
        QCOMPARE(viewer.OpenImage(Path("missing.bmp").toStdString(), {}), 1);
        QCOMPARE(m_messages.size(), std::size_t{1});
        QVERIFY(m_messages.front().find("missing.bmp") != std::string::npos);
    }
};

QTEST_MAIN(ViewerTest)
#include "test_viewer.moc"
