// What every format harness checks on an input of its format: the reader refuses or
// gives a displayable record; an accepted small picture is written as PNG (whole and
// in blocks, the same bytes) and read back with the same depth and pixel bytes, and written in its own format when that
// can be written, read back at the same size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/formats/codecs.h"
#include "core/image/dib_image.h"

namespace qel::fuzz {

inline int checkCodec(const uint8_t* data, size_t size, ImageFormat format) {
    if (formatByContent(data, size) != format) return 0;
    DibImage image;
    image.deferDisplay = true;
    if (!image.loadBytes(data, size)) {
        if (!image.info.empty() || !image.bits.empty()) __builtin_trap();
        return 0;
    }
    if (int64_t(image.width) * image.height > (int64_t(1) << 20)) return 0;  // keeps each input quick
    if (!image.display()) __builtin_trap();
    std::vector<uint8_t> png;
    if (!encodePicture(image, ImageFormat::Png, 0, png)) __builtin_trap();
    DibImage again;
    again.deferDisplay = true;
    if (!again.loadBytes(png.data(), png.size())) __builtin_trap();
    if (again.bitCount() != image.bitCount() || again.bits != image.bits) __builtin_trap();
    // The file as handed out in pieces (how saving writes it) holds the same bytes.
    std::vector<uint8_t> pieces;
    const auto collect = [&pieces](const uint8_t* data, size_t size) {
        pieces.insert(pieces.end(), data, data + size);
        return true;
    };
    if (!encodePicture(image, ImageFormat::Png, 0, collect)) __builtin_trap();
    if (pieces != png) __builtin_trap();
    // An animation's canvas may be larger than the 16383 pixels a side WebP pictures are written at.
    const bool writable = format != ImageFormat::Webp || (image.width <= 16383 && image.height <= 16383);
    if (canWrite(format) && writable) {
        std::vector<uint8_t> own;
        if (!encodePicture(image, format, 0, own)) __builtin_trap();
        DibImage back;
        back.deferDisplay = true;
        if (!back.loadBytes(own.data(), own.size()) || back.width != image.width || back.height != image.height)
            __builtin_trap();
    }
    return 0;
}

}  // namespace qel::fuzz
