// Line-art filters for black line drawings on an 8-bit picture: thinning to
// one-pixel strokes, straightening into segments, and two line-tidying filters.
// Each filter changes the picture in place and rebuilds the display bitmap; a
// picture it cannot work on (not 8-bit, blocks that disagree with the header,
// a colour table lacking a colour the filter needs) is refused and left unchanged.
#pragma once

#include <cstdint>

#include "core/image/dib_image.h"

namespace qel {

// Thins the black strokes to one pixel (sequential border peeling, one layer per
// pass, until a pass deletes nothing). Re-reads the picture through the device
// table first; afterwards every byte is the black or the white index.
OpResult thin(DibImage& image);

// Redraws a thinned drawing as chains of straight segments of `length` walked
// pixels, started from end and junction points. A length below 1 changes nothing.
OpResult straighten(DibImage& image, int length);

// Draws a straight segment of colour index `colour` into an 8-bit picture;
// (x, y) count from the top-left. The end with the larger coordinate along the
// main axis is not drawn. Pixels outside the picture are skipped.
void drawSegment(DibImage& image, int x0, int y0, int x1, int y1, uint8_t colour);

// Evens out the steps of thinned strokes and moves one-pixel bumps back into
// straight strokes; isolated pixels disappear.
OpResult tidyLines(DibImage& image);

// Template clean-up of black line work: bumps, notches and specks beside
// straight lines. Re-reads the picture through the device table first.
OpResult tidyLines2(DibImage& image);

}  // namespace qel
