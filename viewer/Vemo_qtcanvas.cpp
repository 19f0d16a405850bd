// Vemo_qtcanvas: TVemo_canvas on a QPainter (rules in the header).
#include "viewer/Vemo_qtcanvas.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPen>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

// Pixels gathered before one drawPoints call.
constexpr int kPointBatch = 4096;

QColor ToQColor(CanvasColour colour) { return QColor(colour.red, colour.green, colour.blue); }

// The rectangle [left, right) x [top, bottom) given in 64 bits, cut to
// `bounds`; empty when nothing of it lies there.
QRect Clipped(int64_t left, int64_t top, int64_t right, int64_t bottom, const QRect& bounds) {
    left = std::max<int64_t>(left, bounds.left());
    top = std::max<int64_t>(top, bounds.top());
    right = std::min<int64_t>(right, int64_t{bounds.right()} + 1);
    bottom = std::min<int64_t>(bottom, int64_t{bounds.bottom()} + 1);
    if (right <= left || bottom <= top) return QRect();
    return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                 static_cast<int>(bottom - top));
}

}  // namespace

TVemo_qtcanvas::TVemo_qtcanvas(QPainter& painter) : m_painter(&painter) { Prepare(); }

TVemo_qtcanvas::TVemo_qtcanvas(QImage& image, QPoint origin) : m_origin(origin) {
    const QImage::Format format = image.format();
    if (format == QImage::Format_Mono || format == QImage::Format_MonoLSB) image.convertTo(QImage::Format_Indexed8);
    if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_RGB32 ||
        image.format() == QImage::Format_ARGB32) {
        m_direct = &image;
        m_indexedTarget = image.format() == QImage::Format_Indexed8;
        m_visible = image.rect().translated(origin);
        m_penPixel = PixelFor(CanvasColour{0, 0, 0});
        m_brushPixel = m_penPixel;
        return;
    }
    if (!origin.isNull()) throw std::invalid_argument("TVemo_qtcanvas: an origin needs a directly written image");
    m_ownPainter.emplace(&image);
    m_painter = &*m_ownPainter;
    Prepare();
}

TVemo_qtcanvas::~TVemo_qtcanvas() {
    if (m_direct) return;
    FlushPoints();
    if (m_ownPainter) m_ownPainter->end();
}

void TVemo_qtcanvas::Prepare() {
    if (!m_painter->isActive()) return;
    m_painter->setRenderHint(QPainter::Antialiasing, false);
    QPen pen = m_painter->pen();
    if (pen.style() == Qt::NoPen) pen.setStyle(Qt::SolidLine);
    m_painter->setPen(pen);

    // The device in device pixels, narrowed to the area being repainted
    // (a widget's paint event), then taken back to logical coordinates.
    // Too large an area only costs time, so the larger reading of the
    // device's size is taken.
    const QPaintDevice* device = m_painter->device();
    const qreal ratio = std::max<qreal>(1.0, device->devicePixelRatioF());
    QRect area(0, 0, static_cast<int>(std::ceil(device->width() * ratio)),
               static_cast<int>(std::ceil(device->height() * ratio)));
    const QRegion systemClip = m_painter->paintEngine() ? m_painter->paintEngine()->systemClip() : QRegion();
    if (!systemClip.isEmpty()) area &= systemClip.boundingRect();
    bool invertible = false;
    const QTransform toLogical = m_painter->deviceTransform().inverted(&invertible);
    if (invertible) area = toLogical.mapRect(area);
    if (m_painter->hasClipping()) area &= m_painter->clipBoundingRect().toAlignedRect();
    const int spare = std::max(2, static_cast<int>(std::ceil(pen.widthF())) + 1);
    m_visible = area.adjusted(-spare, -spare, spare, spare);
}

void TVemo_qtcanvas::SetBrushColour(CanvasColour colour) {
    m_brush = ToQColor(colour);
    if (m_direct) m_brushPixel = PixelFor(colour);
}

void TVemo_qtcanvas::FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    const QRect rect = Clipped(left, top, right, bottom, m_visible);
    if (rect.isEmpty()) return;
    if (m_direct) {
        const QRect target = rect.translated(-m_origin);
        for (int y = target.top(); y <= target.bottom(); ++y) {
            uchar* row = m_direct->scanLine(y);
            if (m_indexedTarget) {
                std::memset(row + target.left(), static_cast<uchar>(m_brushPixel), static_cast<std::size_t>(target.width()));
            } else {
                auto* pixels = reinterpret_cast<uint32_t*>(row) + target.left();
                std::fill(pixels, pixels + target.width(), m_brushPixel);
            }
        }
        return;
    }
    if (!m_painter->isActive()) return;
    FlushPoints();  // what was drawn first stays underneath
    m_painter->fillRect(rect, m_brush);
}

void TVemo_qtcanvas::SetPenColour(CanvasColour colour) {
    if (m_direct) {
        m_penPixel = PixelFor(colour);
        return;
    }
    const QColor pen = ToQColor(colour);
    if (pen == m_pen) return;
    FlushPoints();
    m_pen = pen;
}

void TVemo_qtcanvas::MoveTo(int32_t x, int32_t y) { m_position = QPoint(x, y); }

void TVemo_qtcanvas::LineTo(int32_t x, int32_t y) {
    const int64_t x0 = m_position.x();
    const int64_t y0 = m_position.y();
    m_position = QPoint(x, y);
    if (!m_direct && !m_painter->isActive()) return;

    const int64_t dx = int64_t{x} - x0;
    const int64_t dy = int64_t{y} - y0;
    if (dx == 0 && dy == 0) return;
    // Quick reject: the segment's box lies wholly outside the visible area.
    if (std::max<int64_t>(x0, x) < m_visible.left() || std::min<int64_t>(x0, x) > m_visible.right() ||
        std::max<int64_t>(y0, y) < m_visible.top() || std::min<int64_t>(y0, y) > m_visible.bottom()) {
        return;
    }

    // Step i = 0 .. major - 1 along the longer axis (i = major, the end
    // pixel, is left out); the shorter axis moves by i * minor / major,
    // rounded to the nearest pixel, halves away from the start.
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const int64_t major = xMajor ? std::llabs(dx) : std::llabs(dy);
    const int64_t minor = xMajor ? std::llabs(dy) : std::llabs(dx);
    const int64_t majorStart = xMajor ? x0 : y0;
    const int64_t minorStart = xMajor ? y0 : x0;
    const int64_t majorSign = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const int64_t minorSign = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const int64_t low = xMajor ? m_visible.left() : m_visible.top();
    const int64_t high = xMajor ? m_visible.right() : m_visible.bottom();
    const int64_t minorLow = xMajor ? m_visible.top() : m_visible.left();
    const int64_t minorHigh = xMajor ? m_visible.bottom() : m_visible.right();

    // Only the steps whose major coordinate lies in [low, high].
    int64_t first = majorSign > 0 ? low - majorStart : majorStart - high;
    int64_t last = majorSign > 0 ? high - majorStart : majorStart - low;
    first = std::max<int64_t>(first, 0);
    last = std::min<int64_t>(last, major - 1);
    for (int64_t i = first; i <= last; ++i) {
        // 128 bits: i * minor can exceed 63 bits for segments across the int32 range.
        const auto offset = static_cast<int64_t>((__int128{2} * i * minor + major) / (__int128{2} * major));
        const int64_t along = majorStart + majorSign * i;
        const int64_t across = minorStart + minorSign * offset;
        if (across < minorLow || across > minorHigh) continue;
        if (m_direct) {
            xMajor ? Plot(along, across) : Plot(across, along);
            continue;
        }
        m_points.append(xMajor ? QPoint(static_cast<int>(along), static_cast<int>(across))
                               : QPoint(static_cast<int>(across), static_cast<int>(along)));
        if (m_points.size() >= kPointBatch) FlushPoints();
    }
}

void TVemo_qtcanvas::FlushPoints() {
    if (m_points.isEmpty()) return;
    if (m_painter->isActive()) {
        QPen pen = m_painter->pen();
        pen.setColor(m_pen);
        m_painter->setPen(pen);
        m_painter->drawPoints(m_points.constData(), static_cast<int>(m_points.size()));
    }
    m_points.clear();
}

uint32_t TVemo_qtcanvas::PixelFor(CanvasColour colour) {
    const QRgb wanted = qRgb(colour.red, colour.green, colour.blue);
    if (!m_indexedTarget) return wanted;
    QList<QRgb> table = m_direct->colorTable();
    for (qsizetype i = 0; i < table.size(); ++i) {
        if ((table[i] & 0xFFFFFF) == (wanted & 0xFFFFFF)) return static_cast<uchar>(i);
    }
    if (table.size() < 256) {
        table.append(wanted);
        m_direct->setColorTable(table);
        return static_cast<uchar>(table.size() - 1);
    }
    if (m_usedIndexes.empty()) {
        uchar used[256] = {};
        for (int y = 0; y < m_direct->height(); ++y) {
            const uchar* row = m_direct->constScanLine(y);
            for (int x = 0; x < m_direct->width(); ++x) used[row[x]] = 1;
        }
        m_usedIndexes.assign(std::begin(used), std::end(used));
    }
    // From the top down: base tables keep their own colours at the bottom.
    for (int i = 255; i >= 0; --i) {
        if (m_usedIndexes[static_cast<std::size_t>(i)]) continue;
        m_usedIndexes[static_cast<std::size_t>(i)] = true;
        table[i] = wanted;
        m_direct->setColorTable(table);
        return static_cast<uchar>(i);
    }
    int nearest = 0;
    int nearestDistance = std::numeric_limits<int>::max();
    for (int i = 0; i < 256; ++i) {
        const int distance = std::abs(qRed(table[i]) - colour.red) + std::abs(qGreen(table[i]) - colour.green) +
                             std::abs(qBlue(table[i]) - colour.blue);
        if (distance < nearestDistance) {
            nearest = i;
            nearestDistance = distance;
        }
    }
    return static_cast<uchar>(nearest);
}
