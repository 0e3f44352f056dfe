// Scaling of 24-bit pictures: nearest neighbour, running-mean averaging and
// the doubling route of the scale command, plus the dialog's aspect coupling.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <tmmintrin.h>
#define QEL_SCALE_SSSE3 1
#endif

#include "core/geometry/geometry.h"
#include "core/geometry/picture24.h"
#include "core/formats/bmp_file.h"
#include "core/image/cpu_features.h"
#include "core/image/parallel_rows.h"

namespace qel {

using geometry_detail::Rows24;
using geometry_detail::rows24;
using geometry_detail::kNeedsRows24;

namespace {

// Factors are single precision, formed from the two sizes; products with an
// index are taken in double (exact for these magnitudes) and truncated.
float factor(int32_t to, int32_t from) { return static_cast<float>(to) / static_cast<float>(from); }
int64_t scaled(int64_t index, float f) { return static_cast<int64_t>(static_cast<double>(index) * static_cast<double>(f)); }

// For each destination index along one axis, the source index visited last by
// nearest resampling, or -1 when none lands there.
std::vector<int32_t> nearestMap(int32_t from, int32_t to) {
    std::vector<int32_t> map(static_cast<size_t>(to), -1);
    const float s = factor(to, from);
    if (s > 1.0f) {
        const float inv = 1.0f / s;
        // A rounded-up inverse could point one past the last source index.
        for (int32_t d = 0; d < to; ++d) map[d] = static_cast<int32_t>(std::min<int64_t>(scaled(d, inv), from - 1));
    } else {
        for (int32_t x = 0; x < from; ++x) {
            const int64_t d = scaled(x, s);
            if (d < to) map[static_cast<size_t>(d)] = x;  // indices only grow: the last writer is the largest
        }
    }
    return map;
}

// Destination index of every source index for averaging (-1 beyond the destination).
std::vector<int32_t> averageMap(int32_t from, int32_t to) {
    std::vector<int32_t> map(static_cast<size_t>(from));
    const float s = factor(to, from);
    for (int32_t x = 0; x < from; ++x) {
        const int64_t d = scaled(x, s);
        map[x] = d < to ? static_cast<int32_t>(d) : -1;
    }
    return map;
}

// floor(d / n) for every d in -255..255 and n in 1..255, looked up; larger
// counts exceed |d|, so the quotient is 0 or -1.
struct FloorDivTable {
    std::vector<int16_t> q;  // q[n * 511 + d + 255]
    FloorDivTable() : q(256 * 511) {
        for (int n = 1; n < 256; ++n)
            for (int d = -255; d <= 255; ++d) q[n * 511 + d + 255] = static_cast<int16_t>(d >= 0 ? d / n : -((-d + n - 1) / n));
    }
};
const FloorDivTable floorDiv;

// One running-mean step: ((n - 1) * mean + v) / n truncated, as mean + floor((v - mean) / n).
inline uint8_t runningMean(uint8_t mean, uint8_t v, uint32_t n) {
    if (n > 255) return static_cast<uint8_t>(mean - (v < mean));
    return static_cast<uint8_t>(mean + floorDiv.q[n * 511 + int(v) - int(mean) + 255]);
}

// --- averaging many pixels at once ---
//
// Every destination byte takes its samples in the same order (source rows top down, columns left
// to right), so step t of every byte divides by the same n = t + 1. The samples of a band of
// destination pixels are first laid out as planes, plane t holding sample t of every byte; the
// running means then advance plane by plane, many bytes a vector. A step is
//   m + floor((v - m) / n) = m + (a * M_n >> 16 ^ s)
// with s all ones when v < m and else 0, a = (v - m) ^ s (|v - m| less one when negative, so that
// floor of a negative quotient is the ones' complement of a floor of a positive one) and
// M_n = ceil(65536 / n), exact for a < 256 and 2 <= n < 256 since a * n < 65536; for n >= 256 the
// quotient is 0 or -1, which M_n = 0 gives. Step 0 (n = 1) takes the sample.

// Most samples a destination pixel may take on this route; larger blocks take the row-at-a-time one.
constexpr int64_t kMaxLaneSamples = 1024;

using U16x8 = uint16_t __attribute__((vector_size(16)));
using I16x8 = int16_t __attribute__((vector_size(16)));
using U8x8 = uint8_t __attribute__((vector_size(8)));

inline U16x8 mulHigh(U16x8 a, U16x8 b) {
#if defined(__SSE2__)
    return reinterpret_cast<U16x8>(_mm_mulhi_epu16(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#else
    using U32x8 = uint32_t __attribute__((vector_size(32)));
    return __builtin_convertvector((__builtin_convertvector(a, U32x8) * __builtin_convertvector(b, U32x8)) >> 16, U16x8);
#endif
}

// Sixteen bytes widened to two vectors of eight lanes, and back.
inline void load16(const uint8_t* p, U16x8& low, U16x8& high) {
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    low = reinterpret_cast<U16x8>(_mm_unpacklo_epi8(v, _mm_setzero_si128()));
    high = reinterpret_cast<U16x8>(_mm_unpackhi_epi8(v, _mm_setzero_si128()));
#else
    U8x8 a, b;
    std::memcpy(&a, p, sizeof a);
    std::memcpy(&b, p + 8, sizeof b);
    low = __builtin_convertvector(a, U16x8);
    high = __builtin_convertvector(b, U16x8);
#endif
}

inline void store16(uint8_t* p, U16x8 low, U16x8 high) {
#if defined(__SSE2__)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(reinterpret_cast<__m128i>(low), reinterpret_cast<__m128i>(high)));
#else
    const U8x8 a = __builtin_convertvector(low, U8x8), b = __builtin_convertvector(high, U8x8);
    std::memcpy(p, &a, sizeof a);
    std::memcpy(p + 8, &b, sizeof b);
#endif
}

// Where each destination column's source columns start, how many there are, and the most of them.
struct ColumnSpans {
    std::vector<int32_t> first, count;
    int32_t widest = 0;
};

ColumnSpans columnSpans(const std::vector<int32_t>& map, int32_t to) {
    ColumnSpans spans{std::vector<int32_t>(static_cast<size_t>(to), 0), std::vector<int32_t>(static_cast<size_t>(to), 0)};
    for (int32_t x = static_cast<int32_t>(map.size()) - 1; x >= 0; --x)
        if (map[x] >= 0) {
            spans.first[map[x]] = x;
            ++spans.count[map[x]];
        }
    for (int32_t c : spans.count) spans.widest = std::max(spans.widest, c);
    return spans;
}

#ifdef QEL_SCALE_SSSE3
// Output byte k < 12 of plane j, for four pixels of four columns each (48 bytes in), is input byte
// 12 (k / 3) + 3 j + k % 3; masks[j][u] picks from input vector u (-128: none).
struct FourColumnMasks {
    alignas(16) int8_t m[4][3][16];
    constexpr FourColumnMasks() : m{} {
        for (int j = 0; j < 4; ++j)
            for (int u = 0; u < 3; ++u)
                for (int k = 0; k < 16; ++k) {
                    const int from = 12 * (k / 3) + 3 * j + k % 3;
                    m[j][u][k] = int8_t(k < 12 && from / 16 == u ? from % 16 : -128);
                }
    }
};
constexpr FourColumnMasks kFourColumns;

// Lays out the samples of `pixels` destination pixels of four columns each from `in` as planes
// pitch apart, four pixels (48 bytes) a step: sixteen bytes written a plane, the last four of them
// overwritten by the next step or falling in the margin. Returns how many pixels it did.
__attribute__((target("ssse3"))) int32_t fillFourColumns(const uint8_t* in, uint8_t* q, int64_t pitch, int32_t pixels,
                                                          int64_t ahead) {
    __m128i mask[4][3];
    for (int j = 0; j < 4; ++j)
        for (int u = 0; u < 3; ++u) mask[j][u] = _mm_load_si128(reinterpret_cast<const __m128i*>(kFourColumns.m[j][u]));
    int32_t d = 0;
    for (; d + 4 <= pixels; d += 4, in += 48, q += 12) {
        __builtin_prefetch(in + ahead);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
        for (int j = 0; j < 4; ++j) {
            const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, mask[j][0]), _mm_shuffle_epi8(b, mask[j][1])),
                                           _mm_shuffle_epi8(c, mask[j][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(q + j * pitch), v);
        }
    }
    return d;
}
#endif

// One thread's planes and the destination row's averaging over them.
class AveragingLanes {
public:
    static constexpr int kGroup = 4;                   // vectors advanced side by side, hiding a step's latency
    static constexpr int kLanes = 8 * kGroup;          // bytes a group
    static constexpr int kChunkPixels = kLanes;        // pixels of a band are a multiple of this, so bands
                                                       // start on whole groups and whole pixels

    AveragingLanes(const ColumnSpans& spans, int32_t tallest) : spans_(spans) {
        const int64_t planes = int64_t(tallest) * spans.widest;
        const int64_t width = static_cast<int64_t>(spans.first.size());
        int64_t pixels = std::max<int64_t>(kChunkPixels, (int64_t(1) << 14) / (3 * planes) / kChunkPixels * kChunkPixels);
        bandPixels_ = static_cast<int32_t>(std::min(pixels, (width + kChunkPixels - 1) / kChunkPixels * kChunkPixels));
        pitch_ = 3 * int64_t(bandPixels_) + kLanes;  // a 4-byte copy may spill one byte past the last pixel
        planes_.assign(static_cast<size_t>(pitch_ * planes), 0);
        multipliers_.resize(static_cast<size_t>(planes) + 1);
        for (int64_t n = 1; n <= planes; ++n) multipliers_[size_t(n)] = n < 256 ? uint16_t((65536 + n - 1) / n) : 0;
        laneCounts_.assign(static_cast<size_t>(3 * (width + kChunkPixels)), 0);
        for (int64_t dx = 0; dx < width; ++dx)
            for (int c = 0; c < 3; ++c) laneCounts_[size_t(3 * dx + c)] = static_cast<uint16_t>(spans.count[size_t(dx)]);
    }

    // The destination row averaging `tall` source rows from `top`, into out.
    void averageRow(const Rows24& src, int32_t top, int32_t tall, uint8_t* out) {
        const int32_t width = static_cast<int32_t>(spans_.first.size());
        for (int32_t dx0 = 0; dx0 < width; dx0 += bandPixels_) {
            const int32_t dx1 = std::min(width, dx0 + bandPixels_);
            int32_t lo = INT32_MAX, hi = 0;
            for (int32_t dx = dx0; dx < dx1; ++dx) {
                lo = std::min(lo, spans_.count[size_t(dx)]);
                hi = std::max(hi, spans_.count[size_t(dx)]);
            }
            if (hi == 0) continue;  // no samples: the row stays black
            if (lo == hi) {
                fillUniform(src, top, tall, dx0, dx1, hi);
                advance<false>(tall, hi, dx0, dx1, out);
            } else {
                fillVarying(src, top, tall, dx0, dx1);
                advance<true>(tall, hi, dx0, dx1, out);
            }
        }
    }

private:
    static constexpr int kPrefetchAhead = 1024;  // bytes

    // Plane t gets sample t of every byte of pixels dx0..dx1, all `wide` columns each. Common widths
    // get their own loops, unrolled.
    void fillUniform(const Rows24& src, int32_t top, int32_t tall, int32_t dx0, int32_t dx1, int32_t wide) {
        switch (wide) {
        case 1: return fillUniform<1>(src, top, tall, dx0, dx1, 1);
        case 2: return fillUniform<2>(src, top, tall, dx0, dx1, 2);
        case 3: return fillUniform<3>(src, top, tall, dx0, dx1, 3);
        case 4: return fillUniform<4>(src, top, tall, dx0, dx1, 4);
        case 5: return fillUniform<5>(src, top, tall, dx0, dx1, 5);
        case 6: return fillUniform<6>(src, top, tall, dx0, dx1, 6);
        case 8: return fillUniform<8>(src, top, tall, dx0, dx1, 8);
        default: return fillUniform<0>(src, top, tall, dx0, dx1, wide);
        }
    }

    template <int fixed>
    void fillUniform(const Rows24& src, int32_t top, int32_t tall, int32_t dx0, int32_t dx1, int32_t wideAny) {
        const int32_t wide = fixed > 0 ? fixed : wideAny;
        const int64_t pitch = pitch_;  // locals: the stores below could otherwise alias the members
        uint8_t* const planes = planes_.data();
        for (int32_t r = 0; r < tall; ++r) {
            const uint8_t* in = src.rowFromTop(top + r) + 3 * int64_t(spans_.first[size_t(dx0)]);
            uint8_t* const plane = planes + int64_t(r) * wide * pitch;
            int32_t dx = dx0;
#ifdef QEL_SCALE_SSSE3
            if (wide == 4 && hasSsse3()) {
                const int32_t done = fillFourColumns(in, plane, pitch, dx1 - dx0, kPrefetchAhead);
                dx += done;
                in += 12 * int64_t(done);
            }
#endif
            // Four bytes a sample, the fourth overwritten by the next pixel or falling in the margin;
            // the row's last pixel takes three, as nothing may follow it.
            for (; dx < dx1 - 1; ++dx) {
                __builtin_prefetch(in + kPrefetchAhead);  // the row is read once: ask for it before it is needed
                uint8_t* const q = plane + 3 * int64_t(dx - dx0);
#pragma GCC unroll 8
                for (int32_t j = 0; j < wide; ++j) std::memcpy(q + j * pitch, in + 3 * j, 4);
                in += 3 * wide;
            }
            if (dx == dx1) continue;
            uint8_t* q = plane + 3 * int64_t(dx1 - 1 - dx0);
            for (int32_t j = 0; j < wide; ++j, in += 3, q += pitch) std::memcpy(q, in, 3);
        }
    }

    // The same for pixels of different numbers of columns: the samples of pixel dx are its columns
    // on each row in turn, so column j of row r is sample r * count + j.
    void fillVarying(const Rows24& src, int32_t top, int32_t tall, int32_t dx0, int32_t dx1) {
        const int64_t pitch = pitch_;
        uint8_t* const planes = planes_.data();
        const int32_t* const first = spans_.first.data();
        const int32_t* const count = spans_.count.data();
        for (int32_t r = 0; r < tall; ++r) {
            const uint8_t* row = src.rowFromTop(top + r);
            for (int32_t dx = dx0; dx < dx1; ++dx) {
                const int32_t wide = count[dx];
                __builtin_prefetch(row + 3 * int64_t(first[dx]) + kPrefetchAhead);
                const uint8_t* in = row + 3 * int64_t(first[dx]);
                uint8_t* q = planes + int64_t(r) * wide * pitch + 3 * int64_t(dx - dx0);
                for (int32_t j = 0; j < wide; ++j, in += 3, q += pitch) std::memcpy(q, in, 3);
            }
        }
    }

    // Runs the steps over the planes and writes the means of pixels dx0..dx1. With `varying`, a
    // byte stops after its own number of samples, and one without any is 0.
    template <bool varying>
    void advance(int32_t tall, int32_t widest, int32_t dx0, int32_t dx1, uint8_t* out) {
        const int64_t steps = int64_t(tall) * widest;
        const int64_t bytes = 3 * int64_t(dx1 - dx0);
        const U16x8 zero{};
        const int64_t pitch = pitch_;
        const uint16_t* const multipliers = multipliers_.data();
        for (int64_t k = 0; k < bytes; k += kLanes) {
            U16x8 m[kGroup], samples[kGroup];
            const uint8_t* plane = planes_.data() + k;
            for (int g = 0; g < kGroup; g += 2) load16(plane + 8 * g, m[g], m[g + 1]);
            for (int g = 0; g < kGroup; ++g) {
                if constexpr (varying) samples[g] = load8Counts(3 * int64_t(dx0) + k + 8 * g) * static_cast<uint16_t>(tall);
            }
            // Up to n = 16 a step is also floor(((n - 1) * m + v) / n) = ((n - 1) * m + v) * M_n >> 16,
            // exact as the numerator times n stays below 65536: three operations instead of six.
            const auto advanceBy = [&]<bool small>(int64_t t) {
                const U16x8 factor = zero + multipliers[t + 1];
                U16x8 samplesNow[kGroup];
                for (int g = 0; g < kGroup; g += 2) load16(plane + 8 * g, samplesNow[g], samplesNow[g + 1]);
#pragma GCC unroll 4
                for (int g = 0; g < kGroup; ++g) {
                    const U16x8 v = samplesNow[g];
                    U16x8 next;
                    if constexpr (small) {
                        next = mulHigh(m[g] * static_cast<uint16_t>(t) + v, factor);
                    } else {
                        const U16x8 s = reinterpret_cast<U16x8>(reinterpret_cast<I16x8>(v) < reinterpret_cast<I16x8>(m[g]));
                        next = m[g] + (mulHigh((v - m[g]) ^ s, factor) ^ s);
                    }
                    if constexpr (varying) {
                        const U16x8 live = reinterpret_cast<U16x8>(reinterpret_cast<I16x8>(zero + uint16_t(t)) < reinterpret_cast<I16x8>(samples[g]));
                        m[g] = (next & live) | (m[g] & ~live);
                    } else {
                        m[g] = next;
                    }
                }
            };
            for (int64_t t = 1; t < steps; ++t) {
                plane += pitch;
                if (t < 16)
                    advanceBy.template operator()<true>(t);
                else
                    advanceBy.template operator()<false>(t);
            }
            uint8_t result[kLanes];
            for (int g = 0; g < kGroup; ++g)
                if constexpr (varying) m[g] &= reinterpret_cast<U16x8>(reinterpret_cast<I16x8>(samples[g]) > reinterpret_cast<I16x8>(zero));
            for (int g = 0; g < kGroup; g += 2) store16(result + 8 * g, m[g], m[g + 1]);
            std::memcpy(out + 3 * int64_t(dx0) + k, result, static_cast<size_t>(std::min<int64_t>(kLanes, bytes - k)));
        }
    }

    U16x8 load8Counts(int64_t lane) const {
        U16x8 v;
        std::memcpy(&v, laneCounts_.data() + lane, sizeof v);
        return v;
    }

    const ColumnSpans& spans_;
    int32_t bandPixels_ = 0;
    int64_t pitch_ = 0;
    std::vector<uint8_t> planes_;
    std::vector<uint16_t> multipliers_;  // M_n of each n
    std::vector<uint16_t> laneCounts_;  // columns of each destination byte's pixel, a margin of 0 after
};

bool sizeAcceptable(int32_t width, int32_t height) {
    return width > 0 && height > 0 && sizeWithinLimits(width, height);
}

// Installs a width x height pixel block, keeping the rest of the header block.
OpResult install(DibImage& image, int32_t width, int32_t height, PixelBytes bits) {
    std::vector<uint8_t> info = image.info;
    BitmapInfoHeader h;
    std::memcpy(&h, info.data(), kHeaderSize);
    h.biWidth = width;
    h.biHeight = height;
    h.biSizeImage = static_cast<uint32_t>(bits.size());
    std::memcpy(info.data(), &h, kHeaderSize);
    image.replace(std::move(info), std::move(bits));
    return OpResult::changed();
}

// Why a scale cannot run, or nothing when it can.
std::optional<OpResult> refusal(DibImage& image, Rows24& src, int32_t width, int32_t height) {
    if (!rows24(image, src)) return OpResult::refused(kNeedsRows24);
    if (!sizeAcceptable(width, height))
        return OpResult::refused(std::to_string(width) + " x " + std::to_string(height) + " is beyond the size limits");
    return std::nullopt;
}

}  // namespace

OpResult scaleNearest(DibImage& image, int32_t width, int32_t height) {
    Rows24 src;
    if (auto refused = refusal(image, src, width, height)) return *refused;
    const auto cols = nearestMap(src.width, width);
    const auto rows = nearestMap(src.height, height);
    const int64_t stride = strideFor(width, 24);
    PixelBytes bits(static_cast<size_t>(stride * height));
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = bits.data() + (height - 1 - y) * stride;
        if (rows[y] < 0) continue;
        if (y > 0 && rows[y] == rows[y - 1]) {
            std::memcpy(out, out + stride, static_cast<size_t>(3) * width);
            continue;
        }
        const uint8_t* in = src.rowFromTop(rows[y]);
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = cols[x];
            if (sx < 0) continue;
            std::memcpy(out + 3 * int64_t(x), in + 3 * int64_t(sx), 3);
        }
    }
    return install(image, width, height, std::move(bits));
}

OpResult scaleAverage(DibImage& image, int32_t width, int32_t height) {
    Rows24 src;
    if (auto refused = refusal(image, src, width, height)) return *refused;
    const auto cols = averageMap(src.width, width);
    const auto rows = averageMap(src.height, height);
    const int64_t stride = strideFor(width, 24);
    PixelBytes bits(static_cast<size_t>(stride * height));
    // Source rows map in order, so each destination row's sources are consecutive: sources[dy] up
    // to sources[dy + 1]. Destination rows are independent and run in bands on several threads.
    std::vector<int32_t> sources(static_cast<size_t>(height) + 1, src.height);
    for (int32_t y = src.height - 1; y >= 0; --y)
        if (rows[y] >= 0) sources[rows[y]] = y;
    for (int32_t dy = height - 1; dy >= 0; --dy) sources[dy] = std::min(sources[dy], sources[dy + 1]);
    const ColumnSpans spans = columnSpans(cols, width);
    int32_t tallest = 0;
    for (int32_t dy = 0; dy < height; ++dy) tallest = std::max(tallest, sources[dy + 1] - sources[dy]);
    const int64_t work = int64_t(src.width) * std::max(1, src.height / height);
    if (int64_t(tallest) * spans.widest <= kMaxLaneSamples) {
        forEachRowBand(height, work, [&](int64_t first, int64_t last) {
            AveragingLanes lanes(spans, tallest);
            for (int64_t dy = first; dy < last; ++dy) {
                int32_t y = sources[dy], end = y;
                while (end < sources[dy + 1] && rows[end] == dy) ++end;  // not a last row beyond the destination
                if (end > y) lanes.averageRow(src, y, end - y, bits.data() + (height - 1 - dy) * stride);
            }
        });
        return install(image, width, height, std::move(bits));
    }
    forEachRowBand(height, work, [&](int64_t first, int64_t last) {
        std::vector<uint32_t> counts(static_cast<size_t>(width));  // samples so far, per pixel of the row
        const int32_t* const columns = cols.data();  // locals, so the loop keeps them in registers
        const int32_t sourceWidth = src.width;
        for (int64_t dy = first; dy < last; ++dy) {
            std::fill(counts.begin(), counts.end(), 0u);
            uint32_t* const count = counts.data();
            uint8_t* const out = bits.data() + (height - 1 - dy) * stride;
            for (int32_t y = sources[dy]; y < sources[dy + 1]; ++y) {
                if (rows[y] != dy) continue;  // a last source row beyond the destination
                const uint8_t* const in = src.rowFromTop(y);
                for (int32_t x = 0; x < sourceWidth; ++x) {
                    const int32_t dx = columns[x];
                    if (dx < 0) continue;
                    const uint32_t n = ++count[dx];
                    uint8_t* p = out + 3 * int64_t(dx);
                    const uint8_t* q = in + 3 * int64_t(x);
                    p[0] = runningMean(p[0], q[0], n);
                    p[1] = runningMean(p[1], q[1], n);
                    p[2] = runningMean(p[2], q[2], n);
                }
            }
        }
    });
    return install(image, width, height, std::move(bits));
}

OpResult scaleDoubledAverage(DibImage& image, int32_t width, int32_t height) {
    Rows24 src;
    if (auto refused = refusal(image, src, width, height)) return *refused;
    // The doubled picture exists only as these maps; an unreached doubled pixel reads as black.
    const auto cols = nearestMap(src.width, 2 * width);
    const auto rows = nearestMap(src.height, 2 * height);
    static const uint8_t black[3] = {0, 0, 0};
    auto pixel = [&](const uint8_t* row, int32_t sx) -> const uint8_t* {
        return (row && sx >= 0) ? row + 3 * int64_t(sx) : black;
    };
    const int64_t stride = strideFor(width, 24);
    PixelBytes bits(static_cast<size_t>(stride * height));
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = bits.data() + (height - 1 - y) * stride;
        const int32_t r0 = rows[2 * size_t(y)], r1 = rows[2 * size_t(y) + 1];
        if (y > 0 && r0 == rows[2 * size_t(y) - 2] && r1 == rows[2 * size_t(y) - 1]) {
            std::memcpy(out, out + stride, static_cast<size_t>(3) * width);
            continue;
        }
        const uint8_t* top = r0 >= 0 ? src.rowFromTop(r0) : nullptr;
        const uint8_t* bottom = r1 >= 0 ? src.rowFromTop(r1) : nullptr;
        for (int32_t x = 0; x < width; ++x) {
            const int32_t c0 = cols[2 * size_t(x)], c1 = cols[2 * size_t(x) + 1];
            uint8_t* p = out + 3 * int64_t(x);
            if (c0 == c1 && r0 == r1) {  // one pixel four times: its mean is itself
                std::memcpy(p, pixel(top, c0), 3);
                continue;
            }
            const uint8_t* a = pixel(top, c0);
            const uint8_t* b = pixel(top, c1);
            const uint8_t* c = pixel(bottom, c0);
            const uint8_t* d = pixel(bottom, c1);
            for (int k = 0; k < 3; ++k) {
                // Running mean of the 2 x 2 block in visiting order, truncated at every step.
                int m = a[k];
                m += (int(b[k]) - m) >> 1;
                m += (int(c[k]) - m + 765) / 3 - 255;
                m += (int(d[k]) - m) >> 2;
                p[k] = static_cast<uint8_t>(m);
            }
        }
    }
    return install(image, width, height, std::move(bits));
}

ScaleRoute scaleRoute(int32_t fromWidth, int32_t fromHeight, int32_t toWidth, int32_t toHeight, bool interpolate) {
    if (!interpolate) return ScaleRoute::Nearest;
    if (toWidth < fromWidth && toHeight < fromHeight) return ScaleRoute::Average;
    return ScaleRoute::DoubledAverage;
}

OpResult scaleByCommand(DibImage& image, int32_t width, int32_t height, bool interpolate) {
    const BitmapInfoHeader h = image.header();
    switch (scaleRoute(h.biWidth, h.biHeight, width, height, interpolate)) {
    case ScaleRoute::Nearest: return scaleNearest(image, width, height);
    case ScaleRoute::Average: return scaleAverage(image, width, height);
    case ScaleRoute::DoubledAverage: return scaleDoubledAverage(image, width, height);
    }
    return OpResult::refused("unknown scaling route");
}

uint32_t readTypedUnsigned(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t end = text.size();
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    if (i == end) return 0;
    uint32_t value = 0;
    auto [p, ec] = std::from_chars(text.data() + i, text.data() + end, value);
    if (ec != std::errc() || p != text.data() + end) return 0;
    return value;
}

int64_t coupledSide(int64_t typed, int32_t origThis, int32_t origOther) {
    if (origThis <= 0) return 0;
    return typed * origOther / origThis;
}

std::optional<std::string> ScaleDialogState::widthTextChanged(std::string_view text) {
    if (editing != 1) return std::nullopt;
    const uint32_t typed = readTypedUnsigned(text);
    width = static_cast<int32_t>(std::min<uint32_t>(typed, INT32_MAX));
    if (!keepAspect) return std::nullopt;
    const int64_t other = coupledSide(typed, origWidth, origHeight);
    height = static_cast<int32_t>(std::clamp<int64_t>(other, INT32_MIN, INT32_MAX));
    return std::to_string(other);
}

std::optional<std::string> ScaleDialogState::heightTextChanged(std::string_view text) {
    if (editing != 2) return std::nullopt;
    const uint32_t typed = readTypedUnsigned(text);
    height = static_cast<int32_t>(std::min<uint32_t>(typed, INT32_MAX));
    if (!keepAspect) return std::nullopt;
    const int64_t other = coupledSide(typed, origHeight, origWidth);
    width = static_cast<int32_t>(std::clamp<int64_t>(other, INT32_MIN, INT32_MAX));
    return std::to_string(other);
}

}  // namespace qel
