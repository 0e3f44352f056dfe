#include "gui/kit/qt_bitmap.h"

#include <cstring>

namespace qel::ui {

std::unique_ptr<DisplayBitmap> displayBitmapFromImage(const QImage& image) {
    if (image.isNull()) return nullptr;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    auto bm = std::make_unique<DisplayBitmap>();
    bm->width = rgb.width();
    bm->height = rgb.height();
    bm->pixels.resize(static_cast<size_t>(bm->width) * bm->height);
    for (int y = 0; y < bm->height; ++y) {
        const auto* line = reinterpret_cast<const uint32_t*>(rgb.constScanLine(y));
        uint32_t* out = bm->pixels.data() + static_cast<size_t>(y) * bm->width;
        for (int x = 0; x < bm->width; ++x) out[x] = line[x] | 0xFF000000u;
    }
    return bm;
}

}  // namespace qel::ui
