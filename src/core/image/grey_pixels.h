// The grey of 24-bit pixels: the truncated average of their three channels.
#pragma once

#include <cstdint>

namespace qel {

// Each of n 24-bit pixels from p becomes its grey, (b + g + r) / 3, in all three bytes.
void greyPixels(uint8_t* p, int64_t n);

// The greys of n 24-bit pixels from p, one byte each into out.
void greyBytes(const uint8_t* p, uint8_t* out, int64_t n);

}  // namespace qel
