// Fuzzes the document BMP reader with the display-bitmap build, the save
// bytes and a reload of them (a classic file must read back the same).
// A few bytes of RLE can describe a picture at the size limit; such pictures
// are read, saved and reloaded, but their display raster (4 bytes a pixel) is
// built only up to 16 million pixels, so one input stays within the timeout
// under the sanitizers. The display code is the same at every size.
#include <cstddef>
#include <cstdint>

#include "core/image/dib_image.h"
#include "fuzz/verbose.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qel::DibImage image;
    image.deferDisplay = true;
    std::string why;
    if (!image.loadBytes(data, size, nullptr, &why)) {
        qel::fuzz::sayWhy("refused", why);
        return 0;
    }
    if (int64_t(image.width) * image.height <= (int64_t(1) << 24) && !image.display()) __builtin_trap();
    const std::vector<uint8_t> saved = image.fileBytes();
    qel::DibImage again;
    again.deferDisplay = true;
    if (!again.loadBytes(saved.data(), saved.size())) __builtin_trap();
    if (again.info != image.info || again.bits != image.bits) __builtin_trap();
    return 0;
}
