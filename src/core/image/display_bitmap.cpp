// Display bitmap construction and read-back through the device table.
#include "core/image/display_bitmap.h"

#include <array>
#include <cmath>
#include <cstring>

#include "core/image/dib_image.h"
#include "core/image/parallel_rows.h"

namespace qel {

namespace {

// Writes the table entry of each of the w indices of an 8-, 4- or 1-bit stored row to out.
template <typename T>
void expandIndexedRow(const uint8_t* row, int64_t w, int bitCount, const std::array<T, 256>& table, T* out) {
    switch (bitCount) {
    case 8:
        for (int64_t x = 0; x < w; ++x) out[x] = table[row[x]];
        break;
    case 4:
        for (int64_t x = 0; x < w; ++x) out[x] = table[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)];
        break;
    case 1:
        for (int64_t x = 0; x < w; ++x) out[x] = table[(row[x >> 3] >> (7 - (x & 7))) & 1];
        break;
    }
}

}  // namespace

bool displayable(const std::vector<uint8_t>& info, const PixelBytes& bits) {
    if (info.size() < kHeaderSize) return false;
    BitmapInfoHeader h;
    std::memcpy(&h, info.data(), kHeaderSize);
    const int bc = h.biBitCount;
    if (bc != 1 && bc != 4 && bc != 8 && bc != 24) return false;
    if (h.biWidth <= 0 || h.biHeight <= 0) return false;
    return static_cast<int64_t>(bits.size()) >= strideFor(h.biWidth, bc) * int64_t(h.biHeight);
}

std::unique_ptr<DisplayBitmap> buildDisplayBitmap(const std::vector<uint8_t>& info, const PixelBytes& bits) {
    if (!displayable(info, bits)) return nullptr;
    BitmapInfoHeader h;
    std::memcpy(&h, info.data(), kHeaderSize);
    auto bm = std::make_unique<DisplayBitmap>();
    bm->width = h.biWidth;
    bm->height = h.biHeight;
    bm->pixels.resize(static_cast<size_t>(int64_t(h.biWidth) * h.biHeight));
    refillDisplayBitmap(*bm, info, bits);
    return bm;
}

bool refillDisplayBitmap(DisplayBitmap& bm, const std::vector<uint8_t>& info, const PixelBytes& bits) {
    if (!displayable(info, bits)) return false;
    BitmapInfoHeader h;
    std::memcpy(&h, info.data(), kHeaderSize);
    const int bc = h.biBitCount;
    const int64_t w = h.biWidth, ht = h.biHeight;
    const int64_t stride = strideFor(w, bc);
    if (bm.width != w || bm.height != ht || bm.pixels.size() != static_cast<size_t>(w * ht)) return false;

    // Colour lookup for indexed depths: every index 0..255 resolves, beyond the table to black.
    std::array<uint32_t, 256> lut;
    const int present = static_cast<int>((info.size() - kHeaderSize) / 4);
    for (int i = 0; i < 256; ++i) {
        if (i < present) {
            const uint8_t* e = info.data() + kHeaderSize + 4 * i;
            lut[i] = packRgb(Rgb{e[2], e[1], e[0]});
        } else {
            lut[i] = packRgb(Rgb{0, 0, 0});
        }
    }

    forEachRowBand(ht, w, [&](int64_t first, int64_t last) {
        for (int64_t y = first; y < last; ++y) {
            const uint8_t* row = bits.data() + (ht - 1 - y) * stride;
            uint32_t* out = bm.pixels.data() + y * w;
            switch (bc) {
            case 24: {
                // Blue, green, red in memory are the low three bytes of a little-endian word: one load a pixel,
                // but the last, whose fourth byte may lie beyond the block.
                int64_t x = 0;
                for (; x + 1 < w; ++x) {
                    uint32_t v;
                    std::memcpy(&v, row + 3 * x, 4);
                    out[x] = 0xFF000000u | v;
                }
                for (; x < w; ++x) {
                    const uint8_t* p = row + 3 * x;
                    out[x] = 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
                }
                break;
            }
            default:
                expandIndexedRow(row, w, bc, lut, out);
                break;
            }
        }
    });
    return true;
}

PixelBytes readBack24(const DisplayBitmap& bm) {
    const int64_t w = bm.width, h = bm.height;
    const int64_t stride = strideFor(w, 24);
    PixelBytes rows(static_cast<size_t>(stride * h));
    for (int64_t y = 0; y < h; ++y) {
        uint8_t* out = rows.data() + (h - 1 - y) * stride;
        const uint32_t* in = bm.pixels.data() + y * w;
        for (int64_t x = 0; x < w; ++x) {
            uint32_t p = in[x];
            out[3 * x] = uint8_t(p);
            out[3 * x + 1] = uint8_t(p >> 8);
            out[3 * x + 2] = uint8_t(p >> 16);
        }
    }
    return rows;
}

const std::array<Rgb, 256>& deviceTable() {
    static const std::array<Rgb, 256> table = [] {
        std::array<Rgb, 256> t{};
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    t[36 * r + 6 * g + b] = Rgb{uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b)};
        for (int k = 1; k <= 40; ++k) {
            auto v = static_cast<uint8_t>(std::lround(255.0 * k / 41.0));
            t[215 + k] = Rgb{v, v, v};
        }
        return t;
    }();
    return table;
}

namespace {
int sq(int v) { return v * v; }
int dist2(Rgb a, Rgb b) { return sq(a.r - b.r) + sq(a.g - b.g) + sq(a.b - b.b); }
// Cube level nearest to a channel value; values are never equidistant from two levels.
int nearestLevel(int v) { return (v + 25) / 51; }
}  // namespace

uint8_t nearestDeviceIndex(Rgb c) {
    const auto& t = deviceTable();
    // The cube's nearest point is the per-channel nearest level.
    int best = 36 * nearestLevel(c.r) + 6 * nearestLevel(c.g) + nearestLevel(c.b);
    int bestD = dist2(c, t[best]);
    // Distance to a grey is convex in the grey level, so only the greys around the mean can win.
    const double mean = (c.r + c.g + c.b) / 3.0;
    int k0 = static_cast<int>(std::floor(mean * 41.0 / 255.0));
    for (int k = k0 - 1; k <= k0 + 2; ++k) {
        if (k < 1 || k > 40) continue;
        int d = dist2(c, t[215 + k]);
        if (d < bestD) { bestD = d; best = 215 + k; }  // cube entries have lower indices: they keep ties
    }
    return static_cast<uint8_t>(best);
}

PixelBytes readBack8(const DisplayBitmap& bm) {
    const int64_t w = bm.width, h = bm.height;
    const int64_t stride = strideFor(w, 8);
    PixelBytes rows(static_cast<size_t>(stride * h), kDeviceWhite);
    // Pictures hold few distinct colours next to each other; remember the last one.
    uint32_t lastPixel = 0;
    uint8_t lastIndex = kDeviceBlack;
    bool haveLast = false;
    for (int64_t y = 0; y < h; ++y) {
        uint8_t* out = rows.data() + (h - 1 - y) * stride;
        const uint32_t* in = bm.pixels.data() + y * w;
        for (int64_t x = 0; x < w; ++x) {
            uint32_t p = in[x];
            if (!haveLast || p != lastPixel) {
                lastPixel = p;
                lastIndex = nearestDeviceIndex(Rgb{uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
                haveLast = true;
            }
            out[x] = lastIndex;
        }
    }
    return rows;
}

PixelBytes readBack8FromBlocks(const std::vector<uint8_t>& info, const PixelBytes& bits) {
    if (!displayable(info, bits)) return {};
    BitmapInfoHeader h;
    std::memcpy(&h, info.data(), kHeaderSize);
    const int bc = h.biBitCount;
    const int64_t w = h.biWidth, ht = h.biHeight;
    const int64_t inStride = strideFor(w, bc);
    const int64_t stride = strideFor(w, 8);
    PixelBytes rows(static_cast<size_t>(stride * ht), kDeviceWhite);
    // Device index of every colour index: the colour the display shows for it, read back.
    std::array<uint8_t, 256> device;
    const int present = static_cast<int>((info.size() - kHeaderSize) / 4);
    for (int i = 0; i < 256; ++i) {
        const uint8_t* e = info.data() + kHeaderSize + 4 * i;
        device[i] = nearestDeviceIndex(i < present ? Rgb{e[2], e[1], e[0]} : Rgb{0, 0, 0});
    }
    uint32_t lastPixel = 0;
    uint8_t lastIndex = kDeviceBlack;
    bool haveLast = false;
    for (int64_t y = 0; y < ht; ++y) {
        // Both blocks are bottom-up: stored row r reads stored row r.
        const uint8_t* row = bits.data() + y * inStride;
        uint8_t* out = rows.data() + y * stride;
        switch (bc) {
        case 24:
            for (int64_t x = 0; x < w; ++x) {
                const uint8_t* p = row + 3 * x;
                const uint32_t c = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
                if (!haveLast || c != lastPixel) {
                    lastPixel = c;
                    lastIndex = nearestDeviceIndex(Rgb{p[2], p[1], p[0]});
                    haveLast = true;
                }
                out[x] = lastIndex;
            }
            break;
        default:
            expandIndexedRow(row, w, bc, device, out);
            break;
        }
    }
    return rows;
}

}  // namespace qel
