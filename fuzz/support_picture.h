// A small white 24-bit picture for harnesses that need one to work on.
#pragma once

#include "core/image/dib_image.h"

namespace qel::fuzz {

inline void makeWhite24(DibImage& image, int w, int h) {
    const auto stride = strideFor(w, 24);
    PixelBytes bits(static_cast<size_t>(stride * h), 0xFF);
    image.replace(makeInfoBlock(newHeader(w, h, 24, 0, static_cast<uint32_t>(stride * h)), 0), std::move(bits));
}

}  // namespace qel::fuzz
