// Building the picture of a screen capture. The GUI grabs the screen into a
// DisplayBitmap raster (top-down 0xFFRRGGBB) and hands it here together with the
// rectangle the user dragged; this code makes the 24-bit picture of it.
#pragma once

#include <cstdint>

#include "core/image/dib_image.h"

namespace qel {

struct CaptureRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t cx = 0;
    int32_t cy = 0;
};

// The rectangle between a press and a release point, in either drag direction:
// it starts at the smaller coordinates and the larger ones lie just outside it.
CaptureRect captureRectangle(int32_t pressX, int32_t pressY, int32_t releaseX, int32_t releaseY);

// Replaces the record with the rectangle of `screen` as a 24-bit picture
// (header 40 bytes, no table, padded bottom-up rows, 4740 pixels per metre).
// Parts of the rectangle outside the raster come out black. A rectangle of zero
// width or height (or beyond the readers' size limits) is refused and leaves
// the record empty.
OpResult fromScreen(DibImage& image, const DisplayBitmap& screen, const CaptureRect& rect);

}  // namespace qel
