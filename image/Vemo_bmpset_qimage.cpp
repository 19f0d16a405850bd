// Vemo_bmpset_qimage: the windows' accessors of TVemo_bmpset, the one part
// of the loader that needs the GUI library (library vemo_image_qt).
//
// The QImages are views of the loader's pixels, not copies: an A0 scan is
// held once. Each view keeps its own reference to the pixels, so an image
// copied out of the loader stays valid after the loader is gone.
#include <memory>

#include <QImage>
#include <QList>

#include "image/Vemo_bmpset.h"

namespace {

void ReleasePixels(void* owner) { delete static_cast<std::shared_ptr<uint8_t[]>*>(owner); }

std::shared_ptr<const QImage> ViewOf(const IndexedBitmap& bitmap) {
    if (bitmap.IsNull()) return std::make_shared<const QImage>();
    auto* owner = new std::shared_ptr<uint8_t[]>(bitmap.pixels);
    auto image = std::make_shared<QImage>(bitmap.pixels.get(), bitmap.width, bitmap.height,
                                          static_cast<qsizetype>(bitmap.stride), QImage::Format_Indexed8,
                                          ReleasePixels, owner);
    image->setColorTable(QList<QRgb>(bitmap.colours.begin(), bitmap.colours.end()));
    return image;
}

}  // namespace

const QImage* TVemo_bmpset::GetWorkingBitmap() const {
    const IndexedBitmap* working = GetIndexedBitmap();
    if (working == nullptr) return nullptr;
    if (!m_workingImage) m_workingImage = ViewOf(*working);
    return m_workingImage.get();
}

const QImage* TVemo_bmpset::GetBaseBitmap() const {
    const IndexedBitmap* base = GetBaseIndexed();
    if (base == nullptr) return nullptr;
    if (!m_baseImage) m_baseImage = ViewOf(*base);
    return m_baseImage.get();
}
