// Colour-depth conversions: indexed (first-appearance table), grey, black and white.
#include "core/colour/conversions.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <memory>

#include "core/image/grey_pixels.h"
#include "core/image/parallel_rows.h"


namespace qel {

namespace {

// The table a conversion builds: colours in order of first appearance, at most
// `capacity` of them. While it fills, a small open-addressing map finds a known
// colour's entry. Once it is full it never changes, and every colour's index is
// its nearest entry (an entry is its own nearest, the entries being distinct), so
// lookups go to a grid of 16 x 16 x 16 boxes over the colour cube, each listing
// the only entries that can be nearest to a colour inside it, behind a
// direct-mapped cache of recent answers. Every choice is exactly the one a plain
// search of all entries makes.
class FirstAppearanceTable {
public:
    explicit FirstAppearanceTable(int capacity) : capacity_(capacity) {
        keys_.fill(0);
    }

    int indexOf(Rgb c) { return indexOf(c.r, c.g, c.b); }
    // The same from the channels: pixels are read straight from the rows without assembling an Rgb
    // in memory first (a word load of bytes just stored stalls).
    int indexOf(uint32_t r, uint32_t g, uint32_t b) {
        const uint32_t key = ((r << 16) | (g << 8) | b) + 1;
        if (key == lastKey_) return lastIndex_;
        lastKey_ = key;
        if (count_ < capacity_) {
            // The common case inline: a colour already in the table.
            size_t slot = (key * 0x9E3779B1u) >> (32 - kMapBits);
            while (keys_[slot] != 0 && keys_[slot] != key) slot = (slot + 1) & (kMapSize - 1);
            if (keys_[slot] == key) return lastIndex_ = values_[slot];
            return lastIndex_ = add(key, slot);
        }
        const size_t slot = (key * 0x9E3779B1u) >> (32 - kCacheBits);
        if (cacheKeys_[slot] == key) return lastIndex_ = cacheValues_[slot];
        return lastIndex_ = nearestAndCache(key, slot);
    }

    int count() const { return count_; }
    bool full() const { return count_ == capacity_; }
    Rgb entry(int i) const {
        return Rgb{static_cast<uint8_t>(reds_[i]), static_cast<uint8_t>(greens_[i]), static_cast<uint8_t>(blues_[i])};
    }

private:
    static constexpr int kMapBits = 10;  // four times the largest table
    static constexpr size_t kMapSize = size_t(1) << kMapBits;
    static constexpr int kCacheBits = 16;
    static constexpr int kBoxShift = 4;  // boxes 16 levels wide on each axis
    static constexpr int kBoxes = 16 * 16 * 16;

    // Keys are the colour plus one, so 0 marks an empty slot.

    // A new colour takes the next entry (the free map slot is at `slot`).
    [[gnu::noinline]] int add(uint32_t key, size_t slot) {
        const int index = count_++;
        reds_[index] = static_cast<int32_t>((key - 1) >> 16);
        greens_[index] = static_cast<int32_t>(((key - 1) >> 8) & 0xFF);
        blues_[index] = static_cast<int32_t>((key - 1) & 0xFF);
        keys_[slot] = key;
        values_[slot] = static_cast<uint8_t>(index);
        if (count_ == capacity_) buildGrid();
        return index;
    }

    [[gnu::noinline]] int nearestAndCache(uint32_t key, size_t slot) {
        const uint32_t v = key - 1;
        const int index = nearest(Rgb{static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
        cacheKeys_[slot] = key;
        cacheValues_[slot] = static_cast<uint8_t>(index);
        return index;
    }

    // Least and greatest squared distance from a channel value to the range lo..lo+15.
    static int32_t nearSq(int v, int lo) {
        const int d = v < lo ? lo - v : (v > lo + 15 ? v - lo - 15 : 0);
        return d * d;
    }
    static int32_t farSq(int v, int lo) {
        const int d = std::max(std::abs(v - lo), std::abs(v - lo - 15));
        return d * d;
    }

    // Entry f beats entry e everywhere in the box at (lr, lg, lb): the least value over
    // the box of |p - e|^2 - |p - f|^2 is positive, or zero with f before e (ties go to
    // the first entry). The difference is linear in p, so its least value is at a corner.
    bool beatsEverywhere(int f, int e, int lr, int lg, int lb) const {
        const int er = reds_[e], eg = greens_[e], eb = blues_[e];
        const int fr = reds_[f], fg = greens_[f], fb = blues_[f];
        int32_t least = er * er + eg * eg + eb * eb - fr * fr - fg * fg - fb * fb;
        const auto axis = [&least](int ev, int fv, int lo) {
            const int w = 2 * (fv - ev);  // coefficient of p on this axis
            least += w * (w < 0 ? lo + 15 : lo);
        };
        axis(er, fr, lr);
        axis(eg, fg, lg);
        axis(eb, fb, lb);
        return least > 0 || (least == 0 && f < e);
    }

    // The entries that can be nearest to some colour of a box, in index order, built the
    // first time a colour of the box needs them: an entry drops out when another entry
    // beats it everywhere in the box. Rivals are tried from the one nearest the box's far
    // corner, which removes most entries at the first test.
    const uint8_t* boxCandidates(int box, int& n) {
        if (boxLength_[box] < 0) {
            const int lr = (box >> 8) << kBoxShift, lg = ((box >> 4) & 15) << kBoxShift, lb = (box & 15) << kBoxShift;
            std::array<uint8_t, 256> rivals;
            std::array<int32_t, 256> far;
            for (int i = 0; i < count_; ++i) {
                rivals[i] = static_cast<uint8_t>(i);
                far[i] = farSq(reds_[i], lr) + farSq(greens_[i], lg) + farSq(blues_[i], lb);
            }
            std::sort(rivals.begin(), rivals.begin() + count_,
                      [&far](uint8_t a, uint8_t b) { return far[a] != far[b] ? far[a] < far[b] : a < b; });
            boxStart_[box] = static_cast<uint32_t>(candidates_.size());
            for (int e = 0; e < count_; ++e) {
                bool beaten = false;
                for (int k = 0; k < count_ && !beaten; ++k)
                    if (rivals[k] != e) beaten = beatsEverywhere(rivals[k], e, lr, lg, lb);
                if (!beaten) candidates_.push_back(static_cast<uint8_t>(e));
            }
            boxLength_[box] = static_cast<int32_t>(candidates_.size() - boxStart_[box]);
        }
        n = boxLength_[box];
        return candidates_.data() + boxStart_[box];
    }

    void buildGrid() {
        boxStart_.assign(kBoxes, 0);
        boxLength_.assign(kBoxes, -1);
        cacheKeys_.assign(size_t(1) << kCacheBits, 0);
        cacheValues_.assign(size_t(1) << kCacheBits, 0);
    }

    // Smallest squared distance among the entries, the lowest index on ties.
    int nearest(Rgb c) {
        const int box = ((c.r >> kBoxShift) << 8) | ((c.g >> kBoxShift) << 4) | (c.b >> kBoxShift);
        int n = 0;
        const uint8_t* list = boxCandidates(box, n);
        int best = 0;
        int32_t bestDistance = std::numeric_limits<int32_t>::max();
        for (int k = 0; k < n; ++k) {
            const int i = list[k];
            const int32_t dr = reds_[i] - c.r, dg = greens_[i] - c.g, db = blues_[i] - c.b;
            const int32_t distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        return best;
    }

    int capacity_;
    int count_ = 0;
    std::array<int32_t, 256> reds_{}, greens_{}, blues_{};
    std::array<uint32_t, kMapSize> keys_;
    std::array<uint8_t, kMapSize> values_{};
    std::vector<uint32_t> boxStart_;
    std::vector<int32_t> boxLength_;
    std::vector<uint8_t> candidates_;
    std::vector<uint32_t> cacheKeys_;
    std::vector<uint8_t> cacheValues_;
    uint32_t lastKey_ = 0;
    int lastIndex_ = 0;
};

}  // namespace

int32_t sixteenColourWidth(int32_t width) {
    if (width == 1) return 1;
    return static_cast<int32_t>(((int64_t(width) & ~int64_t(1)) + 2) & ~int64_t(3));
}

OpResult toIndexed(DibImage& image, int colours) {
    if (colours != 256 && colours != 16) return OpResult::refused("only 256 or 16 colours are made");
    if (!image.pixelRowsPresent()) return OpResult::refused(kNoPixelRows);
    const auto old = image.header();
    const int depth = old.biBitCount;
    if (depth != 8 && depth != 24) return OpResult::refused("needs an 8- or 24-bit picture");
    const int64_t w = old.biWidth, h = old.biHeight;
    const int64_t s8 = strideFor(w, 8);
    const int64_t sourceStride = strideFor(w, depth);

    // One new index per byte position of the 8-bit layout, padding included.
    PixelBytes indices(static_cast<size_t>(s8 * h));
    FirstAppearanceTable table(colours);
    if (depth == 24) {
        // Top row first; padding positions stay 0 without taking an entry. Once the table
        // is full every colour's index is its nearest entry whatever came before, so the
        // rows after the one that filled it are mapped in parallel, each thread with its
        // own copy of the full table and its caches.
        const auto mapRow = [&](FirstAppearanceTable& t, int64_t row, int64_t from) {
            const uint8_t* src = image.bits.data() + row * sourceStride + 3 * from;
            uint8_t* dst = indices.data() + row * s8;
            for (int64_t x = from; x < w; ++x, src += 3) dst[x] = static_cast<uint8_t>(t.indexOf(src[2], src[1], src[0]));
        };
        int64_t row = h - 1;
        for (; row >= 0 && !table.full(); --row) {
            const uint8_t* src = image.bits.data() + row * sourceStride;
            uint8_t* dst = indices.data() + row * s8;
            int64_t x = 0;
            for (; x < w && !table.full(); ++x, src += 3)
                dst[x] = static_cast<uint8_t>(table.indexOf(src[2], src[1], src[0]));
            if (x < w) mapRow(table, row, x);
        }
        const int64_t rest = row + 1;  // rows rest-1 .. 0 remain, none of them started
        std::vector<std::unique_ptr<FirstAppearanceTable>> copies(static_cast<size_t>(rowThreads()));
        forEachRowBandOnWorkers(rest, w, [&](int worker, int64_t first, int64_t last) {
            auto& mine = copies[static_cast<size_t>(worker)];
            if (!mine) mine = std::make_unique<FirstAppearanceTable>(table);
            for (int64_t r = first; r < last; ++r) mapRow(*mine, r, 0);
        });
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

    PixelBytes newBits;
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
    for (int i = 0; i < table.count(); ++i) setInfoColour(newInfo, i, table.entry(i));
    image.replace(std::move(newInfo), std::move(newBits));
    return OpResult::changed();
}

OpResult toGrey(DibImage& image) {
    if (!image.hasBlocks()) return OpResult::refused(kNoPicture);
    const auto hd = image.header();
    if (hd.biBitCount == 24) {
        if (!image.pixelRowsPresent()) return OpResult::refused(kNoPixelRows);
        const int64_t stride = strideFor(hd.biWidth, 24);
        uint8_t* bits = image.bits.data();
        forEachRowBand(hd.biHeight, int64_t(hd.biWidth) * 3, [&](int64_t first, int64_t last) {
            for (int64_t row = first; row < last; ++row) greyPixels(bits + row * stride, hd.biWidth);
        });
    } else if (hd.biBitCount == 8 || hd.biBitCount == 4) {
        const int n = std::min(1 << hd.biBitCount, image.tableSize());
        uint8_t* e = image.table();
        for (int i = 0; i < n; ++i, e += 4) {
            const auto g = static_cast<uint8_t>((e[0] + e[1] + e[2]) / 3);
            e[0] = e[1] = e[2] = g;
        }
    }
    image.rebuildDisplay();
    return OpResult::changed();
}

OpResult toBlackWhite(DibImage& image, int threshold) {
    if (!image.hasBlocks()) return OpResult::refused(kNoPicture);
    const auto hd = image.header();
    if (hd.biBitCount != 8 && hd.biBitCount != 4) return OpResult::refused("needs a 4- or 8-bit picture");
    const int n = std::min(1 << hd.biBitCount, image.tableSize());
    uint8_t* e = image.table();
    for (int i = 0; i < n; ++i, e += 4) {
        const int average = (e[0] + e[1] + e[2]) / 3;
        e[0] = e[1] = e[2] = average < threshold ? 0 : 255;
    }
    image.rebuildDisplay();
    return OpResult::changed();
}

int otsuThreshold(const DibImage& image) {
    const auto hd = image.header();
    if ((hd.biBitCount != 8 && hd.biBitCount != 4) || !image.pixelRowsPresent()) return -1;
    std::array<int64_t, 256> counts{};  // by colour index
    const int64_t w = hd.biWidth, stride = strideFor(w, hd.biBitCount);
    for (int64_t y = 0; y < hd.biHeight; ++y) {
        const uint8_t* row = image.bits.data() + y * stride;
        if (hd.biBitCount == 8) {
            for (int64_t x = 0; x < w; ++x) ++counts[row[x]];
        } else {
            for (int64_t x = 0; x < w; ++x) ++counts[(row[x / 2] >> (x % 2 ? 0 : 4)) & 15];
        }
    }
    std::array<int64_t, 256> hist{};  // by grey
    for (int i = 0; i < 256; ++i) {
        const Rgb c = image.tableColour(i);
        hist[(c.r + c.g + c.b) / 3] += counts[i];
    }
    int64_t total = 0, sum = 0;
    for (int g = 0; g < 256; ++g) total += hist[g], sum += g * hist[g];
    // Between-class variance times total^2: (s0 * total - n0 * sum)^2 / (n0 * n1), exact up to the division.
    int best = -1;
    long double bestVariance = 0;
    int64_t n0 = 0, s0 = 0;
    for (int t = 0; t < 255; ++t) {
        n0 += hist[t], s0 += t * hist[t];
        const int64_t n1 = total - n0;
        if (n0 == 0 || n1 == 0) continue;
        const __int128 d = static_cast<__int128>(s0) * total - static_cast<__int128>(n0) * sum;
        const long double variance = static_cast<long double>(d) * static_cast<long double>(d) /
                                     (static_cast<long double>(n0) * static_cast<long double>(n1));
        if (variance > bestVariance) bestVariance = variance, best = t;
    }
    // Black is below the threshold: the darker class is grey <= best.
    return best < 0 ? 128 : best + 1;
}

OpResult toBlackWhiteAuto(DibImage& image) {
    if (!image.hasBlocks()) return OpResult::refused(kNoPicture);
    const auto hd = image.header();
    if (hd.biBitCount != 8 && hd.biBitCount != 4) return OpResult::refused("needs a 4- or 8-bit picture");
    const int threshold = otsuThreshold(image);
    if (threshold < 0) return OpResult::refused(kNoPixelRows);
    return toBlackWhite(image, threshold);
}

}  // namespace qel
