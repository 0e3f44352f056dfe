// Fuzzes the mix command's own BMP reader and the blend, with the rectangle,
// ratio and transparent colour taken from the input's first bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/geometry/geometry.h"
#include "support_picture.h"
#include "verbose.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 16) return 0;
    int16_t p[6];
    std::memcpy(p, data, sizeof p);
    float ratio;
    std::memcpy(&ratio, data + 12, sizeof ratio);
    static qel::DibImage image;
    qel::fuzz::makeWhite24(image, 23, 17);
    const qel::OpResult mixed = qel::mixBytes(image, data + 16, size - 16, p[0] % 40, p[1] % 40, p[2] % 64, p[3] % 64,
                                              p[4] % 64, p[5] % 64, ratio, qel::packColourRef(205, 205, 205));
    qel::fuzz::sayWhy("refused", mixed.reason);
    return 0;
}
