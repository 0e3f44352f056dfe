// Fuzzes the document BMP reader with the display-bitmap build, the save
// bytes and a reload of them (a classic file must read back the same).
#include <cstddef>
#include <cstdint>

#include "image/dib_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qel::DibImage image;
    if (!image.loadBytes(data, size)) return 0;
    const std::vector<uint8_t> saved = image.fileBytes();
    qel::DibImage again;
    if (!again.loadBytes(saved.data(), saved.size())) __builtin_trap();
    if (again.info != image.info || again.bits != image.bits) __builtin_trap();
    return 0;
}
