// Fuzzes the JPEG band joiner on damaged bands: the input is one to four JPEG files separated
// by "QELBAND", the first two bytes the joined picture's height. The joiner must refuse what it
// cannot join without reading outside the bands, and what it joins must be a JPEG libjpeg reads.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "core/formats/codecs.h"
#include "core/formats/jpeg_join.h"
#include "core/image/dib_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int height = data[0] << 8 | data[1];
    std::vector<std::span<const uint8_t>> bands;
    static const char kSeparator[] = "QELBAND";
    const uint8_t* p = data + 2;
    const uint8_t* end = data + size;
    while (bands.size() < 4) {
        const auto* next = static_cast<const uint8_t*>(memmem(p, size_t(end - p), kSeparator, 7));
        bands.emplace_back(p, size_t((next ? next : end) - p));
        if (!next) break;
        p = next + 7;
    }
    // Copies: the joiner may read only what each band holds (the sanitizer sees each apart).
    std::vector<std::vector<uint8_t>> copies;
    for (auto b : bands) copies.emplace_back(b.begin(), b.end());
    std::vector<std::span<const uint8_t>> spans(copies.begin(), copies.end());
    if (const auto file = qel::codec::joinJpegBands(spans, height)) {
        qel::DibImage back;
        (void)back.loadBytes(file->data(), file->size());
    }
    return 0;
}
