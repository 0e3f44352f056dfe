// Quarter turns, mirror images and cutting out a rectangle, at every depth the record holds
// (1, 4, 8 and 24 bits): each pixel moves as it is, the colour table stays, and the new rows
// are padded to 4 bytes with zeros. A one-pixel stroke stays one pixel wide.
#include <algorithm>
#include <cstring>
#include <string>

#include "core/geometry/geometry.h"
#include "core/image/cpu_features.h"
#include "core/image/parallel_rows.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <tmmintrin.h>
#define QEL_REVERSE_SSSE3 1
#endif

namespace qel {

namespace {

#ifdef QEL_REVERSE_SSSE3
// Output byte k of 16 reversed 24-bit pixels comes from input byte 45 - 3 (k / 3) + k % 3. Output
// vector v takes from input vector u the bytes masks[v][u] picks (-128: none).
struct ReverseMasks {
    alignas(16) int8_t m[3][3][16];
    constexpr ReverseMasks() : m{} {
        for (int v = 0; v < 3; ++v)
            for (int u = 0; u < 3; ++u)
                for (int j = 0; j < 16; ++j) {
                    const int k = 16 * v + j, from = 45 - 3 * (k / 3) + k % 3;
                    m[v][u][j] = int8_t(from / 16 == u ? from % 16 : -128);
                }
    }
};
constexpr ReverseMasks kReverse;

// Copies 24-bit pixels in reverse order 16 at a time: out pixel x is the pixel `last` - 3x.
// Returns how many it did; the rest are left to the caller.
__attribute__((target("ssse3"))) int64_t reverseRunSsse3(uint8_t* out, const uint8_t* last, int64_t width) {
    __m128i mask[3][3];
    for (int v = 0; v < 3; ++v)
        for (int u = 0; u < 3; ++u) mask[v][u] = _mm_load_si128(reinterpret_cast<const __m128i*>(kReverse.m[v][u]));
    int64_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t* in = last - 3 * (x + 15);
        __m128i a[3];
        for (int u = 0; u < 3; ++u) a[u] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * u));
        for (int v = 0; v < 3; ++v) {
            const __m128i r = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a[0], mask[v][0]), _mm_shuffle_epi8(a[1], mask[v][1])),
                                           _mm_shuffle_epi8(a[2], mask[v][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 16 * v), r);
        }
    }
    return x;
}

#endif

// Where destination pixel (x, y) comes from: source (x0 + xx*x + xy*y, y0 + yx*x + yy*y), both from
// the top left.
struct Mapping {
    int64_t x0, xx, xy;
    int64_t y0, yx, yy;
};

// Copies `width` pixels ending at `last` (the first one written) to `out` in reverse order.
template <int Bits>
void reverseRun(uint8_t* out, const uint8_t* last, int64_t width) {
    if constexpr (Bits == 8) {
        for (int64_t x = 0; x < width; ++x) out[x] = last[-x];
    } else {
        // Sixteen pixels a step where the processor shuffles bytes. The rest move four bytes each,
        // faster than three: the spare byte read is that of the source pixel after this one and
        // the spare byte written is overwritten by the next pixel, so only the first pixel (the
        // source row's last) and the last move three.
        int64_t done = 0;
#ifdef QEL_REVERSE_SSSE3
        if (hasSsse3()) done = reverseRunSsse3(out, last, width);
        if (done == width) return;
#endif
        if (done == 0) std::memcpy(out, last, 3), done = 1;
        for (int64_t x = done; x + 1 < width; ++x) {
            uint32_t v;
            std::memcpy(&v, last - 3 * x, 4);
            std::memcpy(out + 3 * x, &v, 4);
        }
        if (width > 1) std::memcpy(out + 3 * (width - 1), last - 3 * (width - 1), 3);
    }
}

// Four destination rows at a time of a tile of a quarter turn (the mapping's xx and yy are 0): destination
// pixel (x, y) is source pixel (x0 + xy*y, y0 + yx*x), so a destination row runs along one source
// column and four neighbouring destination rows take four neighbouring pixels of one source row,
// read together. Asks for the source lines of the next tile, `ahead` pixels on. Returns the first
// row it left (fewer than four remain).
template <int Bits, class SrcRow>
int64_t quarterTile(const SrcRow& srcRow, int64_t srcWidth, int64_t srcStride, uint8_t* dst, int64_t dstStride,
                    int64_t width, int64_t height, const Mapping& m, int64_t top, int64_t bottom, int64_t left,
                    int64_t right, int64_t ahead) {
    constexpr int64_t n = Bits / 8;
    const int64_t step = -m.yx * srcStride, apart = m.xy * n;
    int64_t y = top;
    for (; y + 4 <= bottom; y += 4) {
        uint8_t* out[4];
        for (int j = 0; j < 4; ++j) out[j] = dst + (height - 1 - (y + j)) * dstStride;
        const int64_t sx = m.x0 + m.xy * y;
        const uint8_t* in = srcRow(m.y0 + m.yx * left) + sx * n;
        if (y == top)
            for (int64_t k = 0; k < ahead; ++k) __builtin_prefetch(in + (ahead + k) * step);
        int64_t x = left;
        if constexpr (Bits == 24) {
            // Four bytes move faster than three where the spare byte read is a pixel of the same
            // source row; the spare byte written is overwritten by the next pixel, so the row's
            // last pixel moves three.
            if (std::max(sx, sx + 3 * m.xy) + 1 < srcWidth) {
                for (const int64_t end = std::min(right, width - 1); x < end; ++x, in += step) {
                    uint32_t v[4];
                    for (int j = 0; j < 4; ++j) std::memcpy(&v[j], in + j * apart, 4);
                    for (int j = 0; j < 4; ++j) std::memcpy(out[j] + 3 * x, &v[j], 4);
                }
            }
        }
        for (; x < right; ++x, in += step)
            for (int j = 0; j < 4; ++j) std::memcpy(out[j] + n * x, in + j * apart, n);
    }
    return y;
}

template <int Bits>
void copyRows(const uint8_t* src, int64_t srcWidth, int64_t srcStride, int64_t srcHeight, uint8_t* dst, int64_t dstStride,
              int64_t width, int64_t height, const Mapping& m) {
    const auto srcRow = [&](int64_t y) { return src + (srcHeight - 1 - y) * srcStride; };
    // A quarter turn reads each source row once per destination row: tiles of kTileRows destination
    // rows by kTileColumns pixels keep the source rows they read in cache between those rows.
    constexpr int64_t kTileRows = 16, kTileColumns = 128;
    forEachRowBand(height, width, [&](int64_t first, int64_t last) {
        for (int64_t top = first; top < last; top += kTileRows) {
            const int64_t bottom = std::min(top + kTileRows, last);
            if (m.xx == 1 && m.yx == 0 && Bits >= 8) {  // runs of one source row
                for (int64_t y = top; y < bottom; ++y)
                    std::memcpy(dst + (height - 1 - y) * dstStride, srcRow(m.y0 + m.yy * y) + (m.x0 + m.xy * y) * (Bits / 8),
                                size_t(width * (Bits / 8)));
                continue;
            }
            if (m.xx == -1 && m.yx == 0 && Bits >= 8) {  // runs of one source row, backwards
                for (int64_t y = top; y < bottom; ++y)
                    reverseRun<Bits>(dst + (height - 1 - y) * dstStride, srcRow(m.y0 + m.yy * y) + (m.x0 + m.xy * y) * (Bits / 8),
                                     width);
                continue;
            }
            for (int64_t left = 0; left < width; left += kTileColumns) {
                const int64_t right = std::min(left + kTileColumns, width);
                int64_t y = top;
                if (m.xx == 0 && Bits >= 8) y = quarterTile<Bits>(srcRow, srcWidth, srcStride, dst, dstStride, width, height, m,
                                                                   top, bottom, left, right, right < width ? kTileColumns : 0);
                for (; y < bottom; ++y) {
                    uint8_t* out = dst + (height - 1 - y) * dstStride;
                    int64_t sx = m.x0 + m.xy * y + m.xx * left, sy = m.y0 + m.yy * y + m.yx * left;
                    for (int64_t x = left; x < right; ++x, sx += m.xx, sy += m.yx) {
                        const uint8_t* in = srcRow(sy);
                        if constexpr (Bits == 24) {
                            std::memcpy(out + 3 * x, in + 3 * sx, 3);
                        } else if constexpr (Bits == 8) {
                            out[x] = in[sx];
                        } else if constexpr (Bits == 4) {
                            const int v = (in[sx >> 1] >> ((sx & 1) ? 0 : 4)) & 0x0F;
                            out[x >> 1] |= uint8_t(v << ((x & 1) ? 0 : 4));
                        } else {
                            const int v = (in[sx >> 3] >> (7 - (sx & 7))) & 1;
                            out[x >> 3] |= uint8_t(v << (7 - (x & 7)));
                        }
                    }
                }
            }
        }
    });
}

// Builds the width x height picture whose pixels the mapping takes from the record's; `turned`
// swaps the resolution fields with the sides.
OpResult move(DibImage& image, int32_t width, int32_t height, const Mapping& m, bool turned) {
    BitmapInfoHeader h = image.header();
    const int bits = h.biBitCount;
    const int64_t srcStride = strideFor(h.biWidth, bits), dstStride = strideFor(width, bits);
    PixelBytes out(size_t(dstStride * height));  // zero: padding and the packed rows' spare bits
    const uint8_t* src = image.bits.data();
    switch (bits) {
    case 1: copyRows<1>(src, h.biWidth, srcStride, h.biHeight, out.data(), dstStride, width, height, m); break;
    case 4: copyRows<4>(src, h.biWidth, srcStride, h.biHeight, out.data(), dstStride, width, height, m); break;
    case 8: copyRows<8>(src, h.biWidth, srcStride, h.biHeight, out.data(), dstStride, width, height, m); break;
    default: copyRows<24>(src, h.biWidth, srcStride, h.biHeight, out.data(), dstStride, width, height, m); break;
    }
    h.biWidth = width;
    h.biHeight = height;
    h.biSizeImage = uint32_t(out.size());
    if (turned) std::swap(h.biXPelsPerMeter, h.biYPelsPerMeter);
    std::vector<uint8_t> info = image.info;  // the colour table as it is
    std::memcpy(info.data(), &h, kHeaderSize);
    image.replace(std::move(info), std::move(out));
    return OpResult::changed();
}

// Why the record cannot be moved, or "".
std::string refusal(const DibImage& image) {
    if (!image.pixelRowsPresent()) return kNoPixelRows;
    const int bits = image.bitCount();
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return "needs a 1-, 4-, 8- or 24-bit picture, not " + std::to_string(bits) + "-bit";
    return {};
}

OpResult turn(DibImage& image, bool quarter, const Mapping& m) {
    if (std::string why = refusal(image); !why.empty()) return OpResult::refused(why);
    const auto h = image.header();
    return quarter ? move(image, h.biHeight, h.biWidth, m, true) : move(image, h.biWidth, h.biHeight, m, false);
}

}  // namespace

OpResult rotate90(DibImage& image) {
    const int64_t h = image.header().biHeight;
    return turn(image, true, {0, 0, 1, h - 1, -1, 0});
}

OpResult rotate180(DibImage& image) {
    const auto hd = image.header();
    return turn(image, false, {hd.biWidth - 1, -1, 0, hd.biHeight - 1, 0, -1});
}

OpResult rotate270(DibImage& image) {
    const int64_t w = image.header().biWidth;
    return turn(image, true, {w - 1, 0, -1, 0, 1, 0});
}

OpResult flipHorizontal(DibImage& image) {
    const int64_t w = image.header().biWidth;
    return turn(image, false, {w - 1, -1, 0, 0, 0, 1});
}

OpResult flipVertical(DibImage& image) {
    const int64_t h = image.header().biHeight;
    return turn(image, false, {0, 1, 0, h - 1, 0, -1});
}

std::string cropRefusal(const DibImage& image, const CropSettings& c) {
    const auto h = image.header();
    const std::string rect = std::to_string(c.x) + "," + std::to_string(c.y) + "," + std::to_string(c.width) + "," +
                             std::to_string(c.height);
    if (c.width < 1 || c.height < 1) return "the rectangle " + rect + " needs a width and height of at least 1";
    if (c.x < 0 || c.y < 0 || int64_t(c.x) + c.width > h.biWidth || int64_t(c.y) + c.height > h.biHeight)
        return "the rectangle " + rect + " does not lie inside the " + std::to_string(h.biWidth) + " x " +
               std::to_string(h.biHeight) + " picture";
    return {};
}

OpResult crop(DibImage& image, const CropSettings& c) {
    if (std::string why = refusal(image); !why.empty()) return OpResult::refused(why);
    if (std::string why = cropRefusal(image, c); !why.empty()) return OpResult::refused(why);
    return move(image, c.width, c.height, {c.x, 1, 0, c.y, 0, 1}, false);
}

}  // namespace qel
