// Shared helpers of the line-art filters: colour lookup, row access and the
// classification of stroke points.
#include "core/lineart/lineart_detail.h"

#include <algorithm>
#include <string>

namespace qel::lineart_detail {

int lookupColour(const DibImage& image, Rgb c) {
    const int n = std::min(image.tableSize(), 256);
    int found = -1;
    for (int i = 0; i < n; ++i)
        if (image.tableColour(i) == c) found = i;
    return found;
}

std::optional<PixelBlock> pixelBlock8(DibImage& image) {
    if (!image.hasBlocks()) return std::nullopt;
    const auto h = image.header();
    if (h.biBitCount != 8 || h.biWidth <= 0 || h.biHeight <= 0) return std::nullopt;
    const int64_t stride = strideFor(h.biWidth, 8);
    if (stride * h.biHeight > static_cast<int64_t>(image.bits.size())) return std::nullopt;
    return PixelBlock{image.bits.data(), h.biWidth, h.biHeight, static_cast<int>(stride)};
}

void classifyPoints(const PixelBlock& b, uint8_t black, uint8_t red, uint8_t blue) {
    for (int y = 1; y < b.height - 1; ++y) {
        const uint8_t* up = b.row(y - 1);
        uint8_t* mid = b.row(y);
        const uint8_t* dn = b.row(y + 1);
        for (int x = 1; x < b.width - 1; ++x) {
            if (mid[x] != black) continue;
            const uint8_t n[8] = {mid[x + 1], up[x + 1], up[x], up[x - 1], mid[x - 1], dn[x - 1], dn[x], dn[x + 1]};
            int nb = 0, nr = 0;
            for (uint8_t v : n) {
                nb += v == black;
                nr += v == red;
            }
            if (nr > 0 || nb == 2) continue;
            mid[x] = nb == 0 ? blue : red;
        }
    }
}

std::optional<OpResult> missingColours(std::initializer_list<NeededColour> colours) {
    std::string names;
    for (const auto& c : colours)
        if (c.index < 0) names += (names.empty() ? "" : ", ") + std::string(c.name);
    if (names.empty()) return std::nullopt;
    return OpResult::refused("the colour table lacks " + names);
}

}  // namespace qel::lineart_detail
