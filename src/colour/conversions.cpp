// Colour-depth conversions: indexed (first-appearance table), grey, black and white.
#include "colour/conversions.h"

#include <algorithm>
#include <array>
#include <limits>

namespace qel {

namespace {

// True when the header describes at least one pixel and `bits` holds every row of it.
bool pixelRowsPresent(const DibImage& image) {
    if (!image.hasBlocks()) return false;
    const auto hd = image.header();
    if (hd.biWidth <= 0 || hd.biHeight <= 0) return false;
    const int64_t need = strideFor(hd.biWidth, hd.biBitCount) * hd.biHeight;
    return need > 0 && need <= static_cast<int64_t>(image.bits.size());
}

// The table a conversion builds: colours in order of first appearance, at most
// `capacity` of them. Lookups go through an open-addressing map from colour to
// index, so a picture with many pixels costs one probe per new colour run. Once
// the table is full an unknown colour takes the nearest entry; the table no
// longer changes then, so that answer is cached in the same map.
class FirstAppearanceTable {
public:
    explicit FirstAppearanceTable(int capacity) : capacity_(capacity) { resizeMap(4096); }

    int indexOf(Rgb c) {
        const uint32_t key = keyOf(c);
        if (key == lastKey_) return lastIndex_;
        size_t slot = find(key);
        int index;
        if (keys_[slot] == key) {
            index = values_[slot];
        } else {
            if (count_ < capacity_) {
                index = count_++;
                reds_[index] = c.r;
                greens_[index] = c.g;
                blues_[index] = c.b;
            } else {
                index = nearest(c);
            }
            if (2 * (used_ + 1) > keys_.size()) {
                resizeMap(2 * keys_.size());
                slot = find(key);
            }
            keys_[slot] = key;
            values_[slot] = static_cast<uint16_t>(index);
            ++used_;
        }
        lastKey_ = key;
        lastIndex_ = index;
        return index;
    }

    int count() const { return count_; }
    Rgb entry(int i) const {
        return Rgb{static_cast<uint8_t>(reds_[i]), static_cast<uint8_t>(greens_[i]), static_cast<uint8_t>(blues_[i])};
    }

private:
    // Keys are the colour plus one, so 0 marks an empty slot.
    static uint32_t keyOf(Rgb c) { return ((uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b) + 1; }

    size_t find(uint32_t key) const {
        size_t slot = (key * 0x9E3779B1u) & mask_;
        while (keys_[slot] != 0 && keys_[slot] != key) slot = (slot + 1) & mask_;
        return slot;
    }

    void resizeMap(size_t size) {
        std::vector<uint32_t> oldKeys = std::move(keys_);
        std::vector<uint16_t> oldValues = std::move(values_);
        keys_.assign(size, 0);
        values_.assign(size, 0);
        mask_ = size - 1;
        for (size_t i = 0; i < oldKeys.size(); ++i)
            if (oldKeys[i] != 0) {
                const size_t slot = find(oldKeys[i]);
                keys_[slot] = oldKeys[i];
                values_[slot] = oldValues[i];
            }
    }

    // Smallest squared distance among the entries, the lowest index on ties.
    int nearest(Rgb c) const {
        std::array<int32_t, 256> dist;
        for (int i = 0; i < count_; ++i) {
            const int32_t dr = reds_[i] - c.r, dg = greens_[i] - c.g, db = blues_[i] - c.b;
            dist[i] = dr * dr + dg * dg + db * db;
        }
        int best = 0;
        for (int i = 1; i < count_; ++i)
            if (dist[i] < dist[best]) best = i;
        return best;
    }

    int capacity_;
    int count_ = 0;
    std::array<int32_t, 256> reds_{}, greens_{}, blues_{};
    std::vector<uint32_t> keys_;
    std::vector<uint16_t> values_;
    size_t mask_ = 0;
    size_t used_ = 0;
    uint32_t lastKey_ = 0;
    int lastIndex_ = 0;
};

}  // namespace

int32_t sixteenColourWidth(int32_t width) {
    if (width == 1) return 1;
    return static_cast<int32_t>(((int64_t(width) & ~int64_t(1)) + 2) & ~int64_t(3));
}

const DisplayBitmap* toIndexed(DibImage& image, int colours) {
    if (colours != 256 && colours != 16) return nullptr;
    if (!pixelRowsPresent(image)) return nullptr;
    const auto old = image.header();
    const int depth = old.biBitCount;
    if (depth != 8 && depth != 24) return nullptr;
    const int64_t w = old.biWidth, h = old.biHeight;
    const int64_t s8 = strideFor(w, 8);
    const int64_t sourceStride = strideFor(w, depth);

    // One new index per byte position of the 8-bit layout, padding included.
    std::vector<uint8_t> indices(static_cast<size_t>(s8 * h), 0);
    FirstAppearanceTable table(colours);
    if (depth == 24) {
        // Top row first; padding positions stay 0 without taking an entry.
        for (int64_t row = h - 1; row >= 0; --row) {
            const uint8_t* src = image.bits.data() + row * sourceStride;
            uint8_t* dst = indices.data() + row * s8;
            for (int64_t x = 0; x < w; ++x, src += 3)
                dst[x] = static_cast<uint8_t>(table.indexOf(Rgb{src[2], src[1], src[0]}));
        }
    } else {
        // Storage order, padding bytes included: a padding byte's colour takes an entry
        // like a pixel's. Each old index always yields the same new one, so it is looked
        // up once, at its first appearance.
        std::array<Rgb, 256> oldColours;
        for (int i = 0; i < 256; ++i) oldColours[i] = image.tableColour(i);
        std::array<int16_t, 256> mapped;
        mapped.fill(-1);
        const uint8_t* src = image.bits.data();
        for (size_t i = 0; i < indices.size(); ++i) {
            const uint8_t v = src[i];
            if (mapped[v] < 0) mapped[v] = static_cast<int16_t>(table.indexOf(oldColours[v]));
            indices[i] = static_cast<uint8_t>(mapped[v]);
        }
    }

    std::vector<uint8_t> newBits;
    BitmapInfoHeader hd;
    if (colours == 256) {
        newBits = std::move(indices);
        hd = newHeader(old.biWidth, old.biHeight, 8, 256, static_cast<uint32_t>(newBits.size()));
    } else {
        // Two pixels a byte, the left one high. Each row is packed from its own row of
        // indices; a nibble whose pixel lies beyond that row is 0.
        const int32_t w4 = sixteenColourWidth(old.biWidth);
        const int64_t s4 = strideFor(w4, 4);
        newBits.assign(static_cast<size_t>(s4 * h), 0);
        for (int64_t row = 0; row < h; ++row) {
            const uint8_t* src = indices.data() + row * s8;
            uint8_t* dst = newBits.data() + row * s4;
            for (int64_t i = 0; i < s4; ++i) {
                const int64_t x = 2 * i;
                const uint8_t hi = x < s8 ? src[x] : 0;
                const uint8_t lo = x + 1 < s8 ? src[x + 1] : 0;
                dst[i] = static_cast<uint8_t>((hi << 4) | lo);
            }
        }
        hd = newHeader(w4, old.biHeight, 4, 16, static_cast<uint32_t>(newBits.size()));
    }

    std::vector<uint8_t> newInfo = makeInfoBlock(hd, colours, kGreyFill);
    for (int i = 0; i < table.count(); ++i) {
        const Rgb c = table.entry(i);
        uint8_t* e = newInfo.data() + kHeaderSize + 4 * i;
        e[0] = c.b;
        e[1] = c.g;
        e[2] = c.r;
    }
    return image.replace(std::move(newInfo), std::move(newBits));
}

const DisplayBitmap* toGrey(DibImage& image) {
    if (!image.hasBlocks()) return nullptr;
    const auto hd = image.header();
    if (hd.biBitCount == 24) {
        if (!pixelRowsPresent(image)) return nullptr;
        const int64_t stride = strideFor(hd.biWidth, 24);
        for (int64_t row = 0; row < hd.biHeight; ++row) {
            uint8_t* p = image.bits.data() + row * stride;
            for (int64_t x = 0; x < hd.biWidth; ++x, p += 3) {
                const auto g = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
                p[0] = p[1] = p[2] = g;
            }
        }
    } else if (hd.biBitCount == 8 || hd.biBitCount == 4) {
        const int n = std::min(1 << hd.biBitCount, image.tableSize());
        uint8_t* e = image.table();
        for (int i = 0; i < n; ++i, e += 4) {
            const auto g = static_cast<uint8_t>((e[0] + e[1] + e[2]) / 3);
            e[0] = e[1] = e[2] = g;
        }
    }
    return image.rebuildDisplay();
}

const DisplayBitmap* toBlackWhite(DibImage& image, int threshold) {
    if (!image.hasBlocks()) return nullptr;
    const auto hd = image.header();
    if (hd.biBitCount != 8 && hd.biBitCount != 4) return image.displayBitmap.get();
    const int n = std::min(1 << hd.biBitCount, image.tableSize());
    uint8_t* e = image.table();
    for (int i = 0; i < n; ++i, e += 4) {
        const int average = (e[0] + e[1] + e[2]) / 3;
        e[0] = e[1] = e[2] = average < threshold ? 0 : 255;
    }
    return image.rebuildDisplay();
}

}  // namespace qel
