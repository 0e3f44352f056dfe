// Reader for BMP layouts other than the classic one (other header sizes,
// top-down rows, compression, bit fields, other depths). Each is converted
// into the classic layout: a 40-byte header, a colour table, bottom-up rows.
//
// Taken: OS/2 1.x (12-byte header, 3-byte table entries) and OS/2 2.x (16- and
// 64-byte) headers; 40-, 52-, 56-, 108- and 124-byte headers (only the first 40
// bytes are kept, with biSize 40); top-down rows; RLE8 and RLE4; 16- and 32-bit
// pixels, plain or with bit fields (alpha dropped) and 24-bit pixels, all
// converted to 24 bits; 2-bit pixels, converted to 8 bits. Pixels are read from
// bfOffBits; the colour table lies between the header (and masks) and there.
//
// Refused: Unsupported for embedded JPEG or PNG, unknown compression, header
// size or bit count; TooLarge for pictures beyond sizeWithinLimits (checked
// before anything is allocated); NotBitmap for anything truncated or
// inconsistent (zero sides, offsets outside the file, compression not matching
// the depth, bad bit-field masks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/image/dib_image.h"

namespace qel {

// Given `why`, a refusal stores its reason there.
ImageError readBmpVariant(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                          std::string* why = nullptr);

}  // namespace qel
