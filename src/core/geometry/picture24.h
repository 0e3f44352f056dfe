// Checked view of a 24-bit picture's rows for the geometry operations: the
// header's size is only trusted when the pixel block holds every row.
#pragma once

#include <cstdint>

#include "core/image/dib_image.h"

namespace qel::geometry_detail {

struct Rows24 {
    int32_t width = 0;
    int32_t height = 0;
    int64_t stride = 0;
    uint8_t* bits = nullptr;

    uint8_t* rowFromTop(int64_t y) const { return bits + (height - 1 - y) * stride; }
};

// False unless the record holds a 24-bit picture of positive size whose rows all fit in `bits`.
inline constexpr const char* kNeedsRows24 = "needs a 24-bit picture with every row present";
inline bool rows24(DibImage& image, Rows24& out) {
    if (!image.hasBlocks()) return false;
    const BitmapInfoHeader h = image.header();
    if (h.biBitCount != 24 || h.biWidth <= 0 || h.biHeight <= 0) return false;
    const int64_t stride = strideFor(h.biWidth, 24);
    if (static_cast<int64_t>(image.bits.size()) < stride * h.biHeight) return false;
    out = Rows24{h.biWidth, h.biHeight, stride, image.bits.data()};
    return true;
}

}  // namespace qel::geometry_detail
