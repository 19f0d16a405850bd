// Vemo_viewer: the viewer window TVemo_viewareF.
//
// A modal window that shows one image file at an adjustable zoom, scrolled
// in ScrollBox1; a left click on the visible part brings the clicked point
// to its centre. After a trace of that image it can draw the traced
// polylines over it ("線画"), one colour per polyline, and (hidden option
// "正方形化") paint the trace's squares in their groups' colours.
//
// Zoom is screen pixels per image pixel. It starts so that the whole image
// fits; "+" multiplies it by 1.5 and "-" by 0.75, refused below 0.01 or when
// fewer than 5 image pixels would stay visible across or down. Ctrl + wheel
// zooms the same way about the point under the cursor; the plain wheel
// scrolls.
//
// Memory: a drawing of ink and paper is kept at one bit per pixel (the
// loader's packed bitmap), any other at one byte per pixel, each with small
// reduced copies (Vemo_viewimage); only a bitmap of the visible size exists
// at screen resolution, drawn in the screen's own pixels. The lines file is read once per
// opening, when the overlay is first drawn: it cannot change while the
// modal window is open.
//
// Reads: the image file (through TVemo_bmpset), temp.lix for the overlay,
// temp.sqr and temp.sqo for the squares view. Writes nothing.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Vemo_common.h"
#include "export/Vemo_compdata.h"
#include "trace/Vemotrace_types.h"
#include "viewer/Vemo_viewimage.h"

class QWheelEvent;
class TVemo_sysF;
class TVemo_susieF;

namespace Ui {
class TVemo_viewareF;
}

// What the viewer needs from the program around it; whoever creates the
// viewer fills it in (the main window at start-up, tests with their own).
// The creator also gives the viewer its font (setFont).
struct ViewerContext {
    TVemo_sysF* settings = nullptr;  // for the image loader
    TVemo_susieF* plugins = nullptr;
    MessageSink messages;  // the loader's messages to the user
    // The main window's IsResultsCurrent: non-zero while its last trace
    // belongs to the image in its image field.
    std::function<int()> isResultsCurrent;
};

class TVemo_viewareF : public QDialog {
    Q_OBJECT

public:
    // FormCreate.
    explicit TVemo_viewareF(QWidget* parent = nullptr);
    // FormDestroy.
    ~TVemo_viewareF() override;

    void SetContext(ViewerContext context);

    // Loads `imagePath` and gets the window ready to be shown: fit zoom,
    // scrolled to the top-left corner. 0 when ready; 1 when the image
    // cannot be shown (the loader has told the user why, unless the loader
    // gave an empty picture). Keeps a copy of `result` for the overlay and
    // the squares view.
    int OpenImage(const std::string& imagePath, const TraceResult& result);

    double Zoom() const { return m_zoom; }

    // Event handlers, named as in the window definition.
    void Button1Click();
    void Button2Click(QObject* sender);
    void CheckBox1Click();
    void CheckBox2Click();
    void PaintBox2MouseUp(Qt::MouseButton button, int x, int y);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void PaintBox1Paint(QPaintEvent* event);
    // Step 2 of OpenImage: 0 when the bitmaps hold the image, 1 when the
    // load failed (the bitmaps are then as they were).
    int LoadImage();
    void ResetView();
    void ApplyZoom();
    // Multiplies the zoom by `factor` within the limits of "+" and "-",
    // keeping the image point at `anchor` of the visible area (its centre
    // when none) in place. False when the limits refuse it.
    bool ZoomAbout(double factor, std::optional<QPoint> anchor);
    void WheelZoom(const QWheelEvent& wheel);
    // ScrollBox1's client area as it is with PaintBox1's present size.
    QSize ClientSize();
    void PlaceClickSurface();
    const std::vector<uint8_t>& Lines();

    std::unique_ptr<Ui::TVemo_viewareF> m_ui;
    ViewerContext m_context;

    TVemo_viewimage m_image;  // the image bitmap, with its reduced copies
    QImage m_baseCopy;        // the base image: pixel format and colour table
    QImage m_viewport;        // the visible part of the zoomed image, in device pixels
    QSize m_visible;          // the visible part's size in the window's (logical) pixels
    std::string m_imagePath;
    TraceResult m_result;
    double m_zoom = 1.0;
    int m_resetting = 0;  // 1 while FormShow resets the check boxes

    // The last frame drawn and what it shows.
    struct FrameKey {
        double zoom = 0.0;
        int left = 0;
        int top = 0;
        double ratio = 0.0;
        QSize size;
        bool overlay = false;
        uint64_t imageGeneration = 0;
        bool operator==(const FrameKey&) const = default;
    };
    FrameKey m_frameKey;
    QImage m_frame;
    uint64_t m_imageGeneration = 0;  // counts changes of the image bitmap

    std::vector<uint8_t> m_lines;  // temp.lix, read at the first overlay
    bool m_linesRead = false;
    // Each polyline's place and box in m_lines: a scrolled repaint passes
    // over the polylines outside the view.
    std::vector<TVemo_compdata::IndexedPolyline> m_linesIndex;
    bool m_linesIndexed = false;
    int m_wheelAngle = 0;  // Ctrl + wheel turns not yet taken as zoom steps
};
