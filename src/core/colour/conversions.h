// Colour-depth conversions of a DibImage: to an indexed picture of 256 or 16
// colours (table built in order of first appearance), to grey and to black
// and white. Each changes the record in place and rebuilds the display bitmap,
// or refuses a record it cannot convert and leaves it unchanged.
// (The conversion to 24 bits is DibImage::fromBitmap.)
#pragma once

#include "core/image/dib_image.h"

namespace qel {

// 24-bit or 8-bit picture to 8 bits (colours 256) or 4 bits (colours 16) with a
// table of exactly `colours` entries, unused ones grey (205, 205, 205). Colours
// take entries in order of first appearance; once the table is full a new colour
// takes the nearest entry. Other depths or other colour counts are refused.
OpResult toIndexed(DibImage& image, int colours);

// Header width of the 16-colour result for a picture `width` pixels wide:
// rounded to the nearest multiple of 4, halves up; a 1-pixel picture stays 1.
int32_t sixteenColourWidth(int32_t width);

// 24-bit pixels, or the colour table of a 4- or 8-bit picture, become the
// truncated average of their three channels. Pixel indices and depth stay.
OpResult toGrey(DibImage& image);

// Colour-table entries of a 4- or 8-bit picture become black when the average of
// their channels is below `threshold`, white otherwise. Other depths are refused.
OpResult toBlackWhite(DibImage& image, int threshold);

// The threshold toBlackWhite takes that splits the picture's pixels by Otsu's rule: the histogram
// is of the same channel average, per pixel; the split maximises the variance between the darker
// and the lighter class (the first such split on ties). A picture of one grey gets 128. Needs a
// 4- or 8-bit picture with every row present (else -1).
int otsuThreshold(const DibImage& image);

// toBlackWhite at otsuThreshold's threshold; refuses what either refuses.
OpResult toBlackWhiteAuto(DibImage& image);

}  // namespace qel
