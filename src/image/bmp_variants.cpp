// Non-classic BMP layouts: not read yet.
#include "image/bmp_variants.h"

namespace qel {

ImageError readBmpVariant(const uint8_t*, size_t, std::vector<uint8_t>& info, std::vector<uint8_t>& bits) {
    info.clear();
    bits.clear();
    return ImageError::NotBitmap;
}

}  // namespace qel
