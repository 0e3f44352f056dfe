// Clean-up of scanned and photographed drawings into the black-and-white 8-bit form the
// line-art filters take: Sauvola's local threshold, which keeps strokes under uneven light,
// and the removal of small black specks and small white holes.
//
// Both give the device table (256 entries) with every pixel black (index 0) or white (index
// 215), row padding white: the form thinning leaves and reads back unchanged.
#pragma once

#include <cstdint>

#include "core/image/dib_image.h"

namespace qel {

// Sauvola's threshold over a window x window square centred on each pixel, clipped at the
// picture's edges: T = m * (1 + k * (s / 128 - 1)) with m and s the mean and standard deviation
// of the grey there. A pixel darker than T becomes black.
struct AdaptiveBwSettings {
    int32_t window = 31;  // odd, 3 to 2047
    double k = 0.2;       // 0 to 1
};

// Makes a 1-, 4-, 8- or 24-bit picture black and white by the local threshold. Grey is the
// truncated average of the three channels (of the colour-table entry for indexed pictures, an
// index beyond the table reading black), as the grey conversion makes it. The cost does not
// depend on the window; the result is the same for any number of threads. The resolution
// fields stay.
OpResult adaptiveBlackWhite(DibImage& image, const AdaptiveBwSettings& settings);

// On an 8-bit picture read as thinning reads it (a pixel is black when its colour shows as the
// device table's black), removes 8-connected black components of fewer than `minPixels` pixels,
// then fills 4-connected white components of fewer than `minPixels` pixels that touch no edge
// of the picture. Refuses other depths.
OpResult despeckle(DibImage& image, int32_t minPixels);

}  // namespace qel
