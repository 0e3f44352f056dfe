// Colour statistics of a DibImage: counting distinct colours at 6 bits per
// channel, and reducing a 24-bit picture to at most 256 representative colours
// chosen per coarse cell (3 bits per channel) of the colour cube.
#pragma once

#include <array>

#include "core/image/dib_image.h"

namespace qel {

constexpr int kCoarseCells = 512;     // 8 x 8 x 8 cells, index (r3 * 8 + g3) * 8 + b3
constexpr int kMaxRepresentatives = 5;  // per coarse cell

// The colours a reduction maps to: per coarse cell, `count` representatives at
// 8 bits per channel, in the order the nearest-colour search prefers them.
struct ReductionPalette {
    std::array<int32_t, kCoarseCells> count{};
    std::array<std::array<Rgb, kMaxRepresentatives>, kCoarseCells> colours{};
};

// Fills image.histogram (64*64*64 counts of 6-bit colours, red slowest) and
// image.colourCount from the pixels and returns the count. Indexed pixels count
// their table colour; row padding is never counted. A 1-bit picture returns 2
// and leaves both fields alone; a picture without pixels counts 0.
int32_t countColours(DibImage& image);

// Chooses at most 256 representatives from a histogram filled by countColours,
// its colour count (non-zero) and the byte size of the pixel block.
ReductionPalette chooseRepresentatives(const std::vector<int32_t>& histogram, int32_t colourCount, int64_t pixelBytes);

// Replaces every pixel of a 24-bit picture by one of at most 256 representative
// colours; depth, header and table stay. A picture of another depth, or
// without pixels, is refused and left alone.
OpResult reduceColours(DibImage& image);

}  // namespace qel
