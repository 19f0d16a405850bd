// Vemo_viewer: TVemo_viewareF (behaviour in the header).
#include "viewer/Vemo_viewer.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <optional>
#include <span>

#include "common/Vemo_texts.h"
#include "export/Vemo_compdata.h"
#include "image/Vemo_bmpset.h"
#include "trace/Vemotrace_records.h"
#include "ui_Vemo_viewer.h"
#include "viewer/Vemo_qtcanvas.h"

namespace {

constexpr double kZoomInFactor = 1.5;
constexpr double kZoomOutFactor = 0.75;
constexpr double kSmallestZoom = 0.01;
// Image pixels that stay visible across and down at the largest zoom.
constexpr double kFewestVisiblePixels = 5.0;
// Screen pixels per image pixel that one scroll-bar line step moves.
constexpr double kLineStepPixels = 8.0;

// The bytes of the lines file, or as many as could be read. It is opened
// as the trace opens its files (no link followed, nothing but a regular
// file), and anything else reads as empty, so a planted temp.lix can
// neither hang the window nor fill its memory.
std::vector<uint8_t> ReadLinesFile(const std::string& path) {
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    std::vector<uint8_t> bytes;
    std::size_t read = 0;
    try {
        RecordReader reader(path);
        // Sized once, as the file is now: a repaint waits for this read.
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(path, error);
        if (!error) bytes.reserve(static_cast<std::size_t>(size) + kChunk);
        for (std::size_t got = kChunk; got == kChunk; read += got) {
            bytes.resize(read + kChunk);
            got = reader.ReadUpTo(bytes.data() + read, kChunk);
        }
        bytes.resize(read);
    } catch (const FileError&) {
        bytes.resize(read);  // a file cut short draws what it holds
    } catch (const std::bad_alloc&) {
        bytes.clear();  // no overlay rather than no program
    }
    return bytes;
}

// The paper's index in an ink-and-paper colour table.
constexpr int kPaperIndex = 1;

// True when the table holds ink (entry 0) and one other colour in all its
// other entries: any pixel not ink then shows as paper.
bool IsInkAndPaper(const QList<QRgb>& table) {
    if (table.size() <= kPaperIndex || table[0] == table[kPaperIndex]) return false;
    return std::all_of(table.begin() + kPaperIndex, table.end(), [&](QRgb colour) { return colour == table[kPaperIndex]; });
}

}  // namespace

TVemo_viewareF::TVemo_viewareF(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui::TVemo_viewareF>()) {
    m_ui->setupUi(this);
    setFixedSize(size());
    m_ui->CheckBox1->setVisible(false);

    // PaintBox2 lies over the visible part of the scroll box, so it lives on
    // the viewport rather than on the scrolled surface. Wheel events pass
    // through it to the scroll box.
    m_ui->PaintBox2->setParent(m_ui->ScrollBox1->viewport());
    m_ui->PaintBox2->raise();
    m_ui->PaintBox2->show();
    // The surface is painted whole at every paint: no background first.
    m_ui->PaintBox1->setAttribute(Qt::WA_OpaquePaintEvent);
    m_ui->PaintBox1->installEventFilter(this);
    m_ui->PaintBox2->installEventFilter(this);
    m_ui->ScrollBox1->viewport()->installEventFilter(this);

    connect(m_ui->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(m_ui->Button2, &QPushButton::clicked, this, [this] { Button2Click(m_ui->Button2); });
    connect(m_ui->Button3, &QPushButton::clicked, this, [this] { Button2Click(m_ui->Button3); });
    // As the check boxes' click events, these run on every change of state,
    // also one made by the program.
    connect(m_ui->CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    connect(m_ui->CheckBox2, &QCheckBox::toggled, this, [this] { CheckBox2Click(); });

    m_resetting = 0;
}

TVemo_viewareF::~TVemo_viewareF() = default;

void TVemo_viewareF::SetContext(ViewerContext context) { m_context = std::move(context); }

int TVemo_viewareF::OpenImage(const std::string& imagePath, const TraceResult& result) {
    m_imagePath = imagePath;
    m_result = result;
    m_lines.clear();
    m_linesRead = false;
    m_linesIndex.clear();
    m_linesIndexed = false;
    // The last image is not needed whatever happens (a failed opening is
    // not shown), and two A0 scans at once may not fit in memory.
    m_image.SetImage(QImage());
    ++m_imageGeneration;
    if (LoadImage() != 0) return 1;
    ResetView();
    return 0;
}

int TVemo_viewareF::LoadImage() {
    if (!m_context.settings || !m_context.plugins) return 1;
    try {
        QImage image;
        QImage base;
        {
            // With an ink-and-paper base the bits say all there is to show.
            TVemo_bmpset packed(m_imagePath, *m_context.settings, *m_context.plugins, m_context.messages,
                                WorkingForm::Packed);
            if (packed.GetStatus() == 1) return 1;
            base = *packed.GetBaseBitmap();
            if (IsInkAndPaper(base.colorTable())) {
                PackedBitmap bits = packed.TakePackedBitmap();
                if (bits.IsEmpty()) return 1;
                m_image.SetPacked(std::move(bits), base.colorTable()[0], base.colorTable()[kPaperIndex]);
                m_baseCopy = base;
                m_viewport = base;
                m_visible = m_viewport.size();
                return 0;
            }
        }
        {
            const TVemo_bmpset loader(m_imagePath, *m_context.settings, *m_context.plugins, m_context.messages);
            if (loader.GetStatus() == 1) return 1;
            image = *loader.GetWorkingBitmap();
            base = *loader.GetBaseBitmap();
        }
        // A picture of no pixels has nothing to show and no zoom that fits it.
        if (image.isNull() || image.width() < 1 || image.height() < 1 ||
            image.format() != QImage::Format_Indexed8) {
            return 1;
        }
        // The loader is gone, so the image has no other owner and painting
        // squares into it copies nothing.
        m_image.SetImage(std::move(image));
        m_baseCopy = base;
        m_viewport = base;
        m_visible = m_viewport.size();
        return 0;
    } catch (const std::bad_alloc&) {
        // The reduced copies did not fit beside the image: no viewer rather
        // than no program.
        m_image.SetImage(QImage());
        if (m_context.messages) m_context.messages(texts::ImageNotDecodable(m_imagePath, texts::kReasonNoMemory));
        return 1;
    }
}

void TVemo_viewareF::ResetView() {
    m_ui->ScrollBox1->horizontalScrollBar()->setValue(0);
    m_ui->ScrollBox1->verticalScrollBar()->setValue(0);
    m_ui->PaintBox1->setGeometry(0, 0, 100, 100);
    m_ui->PaintBox2->setGeometry(0, 0, 100, 100);
    const QSize client = ClientSize();
    m_zoom = static_cast<double>(client.width()) / m_image.Width();
    const double byHeight = static_cast<double>(client.height()) / m_image.Height();
    if (m_zoom > byHeight) m_zoom = byHeight;
    ApplyZoom();
}

void TVemo_viewareF::ApplyZoom() {
    // Updates stay off while the surface changes size, so the scroll box
    // does not paint the steps in between.
    m_ui->ScrollBox1->setUpdatesEnabled(false);
    const auto width = static_cast<int>(m_image.Width() * m_zoom);
    const auto height = static_cast<int>(m_image.Height() * m_zoom);
    m_ui->PaintBox1->resize(std::max(width, 1), std::max(height, 1));
    const QSize client = ClientSize();
    const int visibleWidth = std::max(1, std::min(client.width(), width));
    const int visibleHeight = std::max(1, std::min(client.height(), height));
    m_visible = QSize(visibleWidth, visibleHeight);
    const int step = std::max(1, static_cast<int>(m_zoom * kLineStepPixels));
    m_ui->ScrollBox1->horizontalScrollBar()->setSingleStep(step);
    m_ui->ScrollBox1->verticalScrollBar()->setSingleStep(step);
    m_ui->ScrollBox1->setUpdatesEnabled(true);
}

QSize TVemo_viewareF::ClientSize() {
    // The scroll box lays out its scroll bars and viewport only later: from
    // a queued call once the scroll range changes, and not at all while the
    // window is hidden (OpenImage runs before it is shown), when Qt holds
    // back resize events. Lay it out now, twice, because the bars depend on
    // the viewport and the viewport on the bars.
    ensurePolished();
    QWidget* surface = m_ui->PaintBox1;
    QScrollArea* box = m_ui->ScrollBox1;
    for (int pass = 0; pass < 2; ++pass) {
        QResizeEvent surfaceResize(surface->size(), surface->size());
        QCoreApplication::sendEvent(surface, &surfaceResize);
        QResizeEvent boxResize(box->size(), box->size());
        QCoreApplication::sendEvent(box, &boxResize);
    }
    return m_ui->ScrollBox1->viewport()->size();
}

void TVemo_viewareF::PlaceClickSurface() {
    m_ui->PaintBox2->setGeometry(QRect(QPoint(0, 0), m_ui->ScrollBox1->viewport()->size()));
}

void TVemo_viewareF::FormShow() {
    m_resetting = 1;
    m_ui->CheckBox1->setChecked(false);
    m_ui->CheckBox2->setChecked(false);
    m_resetting = 0;
    const bool current = m_context.isResultsCurrent && m_context.isResultsCurrent() != 0;
    m_ui->CheckBox1->setEnabled(current);
    m_ui->CheckBox2->setEnabled(current);
}

void TVemo_viewareF::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;  // restored from the task bar, not opened
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    FormShow();
}

bool TVemo_viewareF::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->PaintBox1 && event->type() == QEvent::Paint) {
        PaintBox1Paint(static_cast<QPaintEvent*>(event));
        return true;
    }
    if (watched == m_ui->PaintBox2) {
        if (event->type() == QEvent::MouseButtonPress) return true;  // so the release comes here
        if (event->type() == QEvent::Wheel) {
            // Ctrl + wheel zooms about the point under the cursor; the
            // plain wheel is handed to the scroll box, which scrolls. (Qt
            // passes a wheel event on to the parent only when it comes
            // from the system.)
            const auto* wheel = static_cast<QWheelEvent*>(event);
            if (wheel->modifiers() & Qt::ControlModifier) {
                WheelZoom(*wheel);
            } else {
                QCoreApplication::sendEvent(m_ui->ScrollBox1->viewport(), event);
            }
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint at = mouse->position().toPoint();
            PaintBox2MouseUp(mouse->button(), at.x(), at.y());
            return true;
        }
    }
    if (watched == m_ui->ScrollBox1->viewport() && event->type() == QEvent::Resize) PlaceClickSurface();
    return QDialog::eventFilter(watched, event);
}

void TVemo_viewareF::PaintBox1Paint(QPaintEvent* /*event*/) {
    setWindowTitle(QString::fromStdString("VemoViewer-" + m_imagePath + "\u3000" +
                                          FormatNumber("%.3lf", m_zoom * 100.0) + "%"));
    const int h = m_ui->ScrollBox1->horizontalScrollBar()->value();
    const int v = m_ui->ScrollBox1->verticalScrollBar()->value();
    QPainter painter(m_ui->PaintBox1);
    // The visible part is drawn in the screen's own pixels: at 200 % a
    // bitmap twice as wide and high, with the zoom doubled, so image and
    // lines are as sharp as the screen can show them.
    const double ratio = m_ui->PaintBox1->devicePixelRatioF();
    const double deviceZoom = m_zoom * ratio;
    const QSize deviceSize(static_cast<int>(std::ceil(m_visible.width() * ratio)),
                           static_cast<int>(std::ceil(m_visible.height() * ratio)));
    const QPoint deviceOrigin(static_cast<int>(std::lround(h * ratio)), static_cast<int>(std::lround(v * ratio)));
    // A repaint of the same view (an uncovered window, a caption change)
    // shows the last frame again: drawing every polyline of an A0 sheet
    // again would cost far more than the repaint.
    const FrameKey key{m_zoom, h, v, ratio, m_visible, m_ui->CheckBox2->isChecked(), m_imageGeneration};
    if (key == m_frameKey && !m_frame.isNull()) {
        painter.drawImage(QPoint(h, v), m_frame);
        PlaceClickSurface();
        return;
    }
    if (m_viewport.size() != deviceSize || m_viewport.format() != QImage::Format_Indexed8) {
        m_viewport = QImage(deviceSize, QImage::Format_Indexed8);
        m_viewport.setColorTable(m_baseCopy.colorTable());
    }
    if (m_image.Width() > 0) m_image.Render(m_viewport, deviceZoom, deviceOrigin.x(), deviceOrigin.y());
    if (m_ui->CheckBox2->isChecked()) {
        // The lines go onto a colour copy of the visible part, not onto the
        // surface: what lies outside it is not drawn in any case, and
        // pixels written straight into an image cost far less than a
        // painter's pen change for every polyline.
        QImage visible = m_viewport.convertToFormat(QImage::Format_RGB32);
        {
            TVemo_compdata data;
            TVemo_qtcanvas canvas(visible, deviceOrigin);
            const std::span<const uint8_t> lines(Lines());
            // (The sheet's zoomed size is rounded down to whole pixels.)
            const bool wholeSheet = deviceOrigin.x() <= 0 && deviceOrigin.y() <= 0 &&
                                    m_image.Width() * deviceZoom <= deviceOrigin.x() + deviceSize.width() + 1 &&
                                    m_image.Height() * deviceZoom <= deviceOrigin.y() + deviceSize.height() + 1;
            if (wholeSheet) {
                data.DrawLines(lines, canvas, deviceZoom);
            } else {
                // Indexed at the first view of a part: the whole sheet's
                // first view need not wait for it.
                if (!m_linesIndexed) {
                    m_linesIndex = TVemo_compdata::IndexLines(lines);
                    m_linesIndexed = true;
                }
                const std::array<int32_t, 4> area = {deviceOrigin.x(), deviceOrigin.y(),
                                                     deviceOrigin.x() + deviceSize.width() - 1,
                                                     deviceOrigin.y() + deviceSize.height() - 1};
                data.DrawIndexedLines(lines, m_linesIndex, area, canvas, deviceZoom);
            }
        }
        visible.setDevicePixelRatio(ratio);
        m_frame = std::move(visible);
    } else {
        m_viewport.setDevicePixelRatio(ratio);
        m_frame = m_viewport;
    }
    m_frameKey = key;
    painter.drawImage(QPoint(h, v), m_frame);
    PlaceClickSurface();
}

const std::vector<uint8_t>& TVemo_viewareF::Lines() {
    if (!m_linesRead) {
        m_lines = ReadLinesFile(m_result.linesPath);
        m_linesRead = true;
    }
    return m_lines;
}

void TVemo_viewareF::PaintBox2MouseUp(Qt::MouseButton button, int x, int y) {
    if (button != Qt::LeftButton) return;
    QScrollBar* horizontal = m_ui->ScrollBox1->horizontalScrollBar();
    QScrollBar* vertical = m_ui->ScrollBox1->verticalScrollBar();
    const double dx = x - m_ui->PaintBox2->width() * 0.5;
    const double dy = y - m_ui->PaintBox2->height() * 0.5;
    const double newHorizontal = std::min<double>(horizontal->value() + dx, horizontal->maximum());
    const double newVertical = std::min<double>(vertical->value() + dy, vertical->maximum());
    horizontal->setValue(static_cast<int>(newHorizontal));
    vertical->setValue(static_cast<int>(newVertical));
}

void TVemo_viewareF::Button2Click(QObject* sender) {
    const double factor = sender == m_ui->Button3 ? kZoomOutFactor : kZoomInFactor;
    // The image point at the centre of the view stays there.
    ZoomAbout(factor, std::nullopt);
}

bool TVemo_viewareF::ZoomAbout(double factor, std::optional<QPoint> anchor) {
    const double newZoom = m_zoom * factor;
    if (newZoom < kSmallestZoom) return false;
    if (m_visible.width() / newZoom < kFewestVisiblePixels || m_visible.height() / newZoom < kFewestVisiblePixels) {
        return false;
    }
    QScrollBar* horizontal = m_ui->ScrollBox1->horizontalScrollBar();
    QScrollBar* vertical = m_ui->ScrollBox1->verticalScrollBar();
    const double anchorX = anchor ? anchor->x() : m_visible.width() * 0.5;
    const double anchorY = anchor ? anchor->y() : m_visible.height() * 0.5;
    const auto cx = static_cast<int64_t>((anchorX + horizontal->value()) / m_zoom);
    const auto cy = static_cast<int64_t>((anchorY + vertical->value()) / m_zoom);
    m_zoom = factor * m_zoom;
    ApplyZoom();
    // The centre is that of the new visible area, which the scroll bars
    // that come or go with the zoom may have changed.
    horizontal->setValue(static_cast<int>(cx * m_zoom - (anchor ? anchorX : m_visible.width() * 0.5)));
    vertical->setValue(static_cast<int>(cy * m_zoom - (anchor ? anchorY : m_visible.height() * 0.5)));
    m_ui->PaintBox1->update();
    return true;
}

void TVemo_viewareF::WheelZoom(const QWheelEvent& wheel) {
    // Touch pads send many small steps: a zoom step per notch of a wheel.
    constexpr int kNotch = 120;
    m_wheelAngle += wheel.angleDelta().y();
    while (std::abs(m_wheelAngle) >= kNotch) {
        const bool in = m_wheelAngle > 0;
        m_wheelAngle += in ? -kNotch : kNotch;
        ZoomAbout(in ? kZoomInFactor : kZoomOutFactor, wheel.position().toPoint());
    }
}

void TVemo_viewareF::CheckBox1Click() {
    if (m_resetting == 1) return;
    if (m_ui->CheckBox1->isChecked()) {
        // The squares are painted in their colours: the bits become bytes.
        m_image.ToIndexed(m_baseCopy.colorTable(), kPaperIndex);
        TVemo_compdata data;
        data.LoadSquares(m_result.squaresPath, m_result.squareCount);
        data.LoadGroups(m_result.groupsPath, m_result.groupCount, m_result.memberCount);
        {
            TVemo_qtcanvas canvas(m_image.Image());
            data.PaintSquares(canvas);
        }
        data.FreeSquares();
        data.FreeGroups();
        m_image.Rebuild();
    } else if (LoadImage() == 0) {
        ApplyZoom();
    }
    ++m_imageGeneration;
    m_ui->PaintBox1->update();
}

void TVemo_viewareF::CheckBox2Click() { m_ui->PaintBox1->update(); }

void TVemo_viewareF::Button1Click() { close(); }
