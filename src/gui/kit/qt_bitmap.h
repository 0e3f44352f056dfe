// Conversions between the core's DisplayBitmap (top-down 0xFFRRGGBB) and QImage.
#pragma once

#include <QImage>
#include <memory>

#include "core/image/display_bitmap.h"

namespace qel::ui {

// A QImage that reads the bitmap's pixels in place; valid while the bitmap lives.
inline QImage wrapImage(const DisplayBitmap& bitmap) {
    return QImage(bitmap.data(), bitmap.width, bitmap.height, bitmap.bytesPerLine(), QImage::Format_RGB32);
}

// A display bitmap holding the image's colours (alpha dropped); null for a null image.
std::unique_ptr<DisplayBitmap> displayBitmapFromImage(const QImage& image);

}  // namespace qel::ui
