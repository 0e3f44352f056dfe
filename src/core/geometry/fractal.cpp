// The escape-time fractal: a black-and-white picture of a quadratic iteration.
#include "core/geometry/geometry.h"
#include "core/geometry/picture24.h"

namespace qel {

using geometry_detail::Rows24;
using geometry_detail::rows24;
using geometry_detail::kNeedsRows24;

namespace {

// Whether the point escapes. Every step stays in extended precision (80-bit on
// x86-64) so the boundary pixels come out as the reference computation gives them.
bool escapes(long double u, long double v, long double c, int n) {
    const long double bound = 1000.0f;
    for (int k = 0; k < n; ++k) {
        u = u * u - v * v + c;
        v = 2 * u * v;  // uses the new u
        if (u > bound || v > bound) break;
    }
    return u * u + v * v > 4.0;
}

}  // namespace

OpResult drawFractal(DibImage& image, float a, float b, float c, int n) {
    Rows24 pic;
    if (!rows24(image, pic)) return OpResult::refused(kNeedsRows24);
    const long double la = a, lb = b, lc = c;
    for (int32_t y = 0; y < pic.height; ++y) {
        uint8_t* row = pic.rowFromTop(y);
        const long double v0 = static_cast<long double>(y) * lb;
        for (int32_t x = 0; x < pic.width; ++x) {
            const uint8_t value = escapes(static_cast<long double>(x) * la, v0, lc, n) ? 0 : 255;
            row[3 * int64_t(x)] = row[3 * int64_t(x) + 1] = row[3 * int64_t(x) + 2] = value;
        }
    }
    image.rebuildDisplay();
    return OpResult::changed();
}

}  // namespace qel
