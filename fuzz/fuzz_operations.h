// One operation of each family run on a picture a reader produced.
#pragma once

#include "image/dib_image.h"

namespace qel::fuzz {

inline void runOperations(DibImage& image) {
    auto h = image.header();
    if (int64_t(h.biWidth) * h.biHeight > 256 * 256) return;  // keep each input fast
    DisplayBitmap shown = *image.displayBitmap;
    DibImage copy;
    copy.restoreFrom(image.info, image.bits);
    copy.rereadAs8Bit();
    image.fromBitmap(shown);
}

}  // namespace qel::fuzz
