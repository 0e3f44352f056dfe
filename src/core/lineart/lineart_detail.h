// Helpers shared by the line-art filters (not part of the public interface).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>

#include "core/image/dib_image.h"

namespace qel::lineart_detail {

// Index of the last colour-table entry exactly equal to `c`, scanning the
// entries present (at most 256) from 0 upwards; -1 when there is none.
int lookupColour(const DibImage& image, Rgb c);

// The refusal of a filter when some colour it needs has no table entry (index -1): names the
// missing ones; nothing when every index is found.
struct NeededColour {
    const char* name;
    int index;
};
std::optional<OpResult> missingColours(std::initializer_list<NeededColour> colours);

// Shared reasons of the filters.
inline constexpr const char* kNeeds8Bit = "needs an 8-bit picture";
inline constexpr const char* kNeedsRows8 = "needs an 8-bit picture with every row present";
inline constexpr const char* kNoReadBack = "the picture cannot be read back at 8 bits";

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBlue{0, 0, 255};

// The 8-bit pixel rows of a picture, addressed with y from the top.
struct PixelBlock {
    uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per row, the width rounded up to a multiple of 4
    uint8_t* row(int y) const { return data + static_cast<int64_t>(height - 1 - y) * stride; }
    int64_t bytes() const { return static_cast<int64_t>(stride) * height; }
};

// The pixel rows when the picture is 8-bit and `bits` holds every row the header names.
std::optional<PixelBlock> pixelBlock8(DibImage& image);

// Marks end and junction points red and isolated points blue, in raster order
// over the pixels with all eight neighbours inside the picture, reading the rows
// as they stand: a black pixel stays black when it has a red neighbour or exactly
// two black ones; otherwise no black neighbour makes it blue, any other count red.
void classifyPoints(const PixelBlock& b, uint8_t black, uint8_t red, uint8_t blue);

// Line tidy 2's seven rule groups, in order, at one position (x, y) with every pixel
// of the window (columns x-2..x+3, rows y-3..y+2) inside the block.
void tidy2GroupsAt(const PixelBlock& b, uint8_t black, uint8_t white, int x, int y);

}  // namespace qel::lineart_detail
