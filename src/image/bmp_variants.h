// Reader for BMP layouts other than the classic one (other header sizes,
// top-down rows, compression, bit fields, other depths). Each is converted
// into the classic layout: a 40-byte header, a colour table, bottom-up rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/dib_image.h"

namespace qel {

ImageError readBmpVariant(const uint8_t* data, size_t size, std::vector<uint8_t>& info, std::vector<uint8_t>& bits);

}  // namespace qel
