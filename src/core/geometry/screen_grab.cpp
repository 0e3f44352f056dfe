// The 24-bit picture of a captured screen rectangle.
#include "core/geometry/screen_grab.h"

#include <cstdlib>

#include "core/formats/bmp_file.h"

namespace qel {

CaptureRect captureRectangle(int32_t pressX, int32_t pressY, int32_t releaseX, int32_t releaseY) {
    CaptureRect r;
    r.x = pressX;
    r.y = pressY;
    r.cx = static_cast<int32_t>(std::llabs(int64_t(releaseX) - pressX));
    r.cy = static_cast<int32_t>(std::llabs(int64_t(releaseY) - pressY));
    if (r.x > releaseX) r.x = releaseX;
    if (r.y > releaseY) r.y = releaseY;
    return r;
}

OpResult fromScreen(DibImage& image, const DisplayBitmap& screen, const CaptureRect& rect) {
    image.clear();
    if (rect.cx <= 0 || rect.cy <= 0) return OpResult::refused("the rectangle has no width or height");
    if (!sizeWithinLimits(rect.cx, rect.cy)) return OpResult::refused("the rectangle is beyond the size limits");
    const int64_t w = rect.cx, h = rect.cy;
    const int64_t stride = strideFor(w, 24);
    PixelBytes bits(static_cast<size_t>(stride * h));
    const bool rasterWhole = screen.width >= 0 && screen.height >= 0 &&
                             screen.pixels.size() >= size_t(int64_t(screen.width) * screen.height);
    for (int64_t y = 0; y < h && rasterWhole; ++y) {
        const int64_t sy = rect.y + y;
        if (sy < 0 || sy >= screen.height) continue;
        uint8_t* out = bits.data() + (h - 1 - y) * stride;
        const uint32_t* in = screen.pixels.data() + sy * screen.width;
        for (int64_t x = 0; x < w; ++x) {
            const int64_t sx = rect.x + x;
            if (sx < 0 || sx >= screen.width) continue;
            const uint32_t p = in[sx];
            out[3 * x] = uint8_t(p);
            out[3 * x + 1] = uint8_t(p >> 8);
            out[3 * x + 2] = uint8_t(p >> 16);
        }
    }
    const auto header = newHeader(rect.cx, rect.cy, 24, 0, static_cast<uint32_t>(stride * h));
    image.replace(makeInfoBlock(header, 0), std::move(bits));
    return OpResult::changed();
}

}  // namespace qel
