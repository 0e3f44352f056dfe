// Scan clean-up: Sauvola's adaptive black and white, and despeckling (small black specks
// removed, small enclosed white holes filled), both giving the device-table black-and-white
// 8-bit form the line-art filters take.
//
// The threshold needs window sums of grey and grey squared at every pixel. Each band of rows
// keeps the sums of its columns over the window's rows, moving them down a row at a time, and
// slides along each row over those column sums: the cost per pixel does not depend on the window,
// and every sum is an exact integer, so the bands a picture is cut into never change a byte.
//
// Despeckling labels runs of equal pixels with a union-find over the runs of neighbouring rows:
// no recursion and no per-pixel labels, however large the picture.
#include "core/lineart/scan_cleanup.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "core/image/display_bitmap.h"
#include "core/image/grey_pixels.h"
#include "core/image/parallel_rows.h"

namespace qel {

namespace {

constexpr uint8_t kBlackIndex = kDeviceBlack;
constexpr uint8_t kWhiteIndex = kDeviceWhite;
static_assert(kBlackIndex == 0, "the four-wide threshold clears black pixels to 0");

// The device-table header block of a black-and-white result of the picture's size, keeping its resolution.
std::vector<uint8_t> blackWhiteInfo(const BitmapInfoHeader& old) {
    BitmapInfoHeader h = newHeader(old.biWidth, old.biHeight, 8, 256, uint32_t(strideFor(old.biWidth, 8) * old.biHeight));
    h.biXPelsPerMeter = old.biXPelsPerMeter;
    h.biYPelsPerMeter = old.biYPelsPerMeter;
    std::vector<uint8_t> info = makeInfoBlock(h, 256);
    const auto& dev = deviceTable();
    for (int i = 0; i < 256; ++i) setInfoColour(info, i, dev[i]);
    return info;
}

// Colour index -> the colour's truncated channel average (an index beyond the table reads black).
std::array<uint8_t, 256> greyOfIndices(const DibImage& image) {
    std::array<uint8_t, 256> grey{};
    for (int i = 0; i < 256; ++i) {
        const Rgb c = image.tableColour(i);
        grey[i] = uint8_t((c.r + c.g + c.b) / 3);
    }
    return grey;
}

// The grey plane, top row first, w bytes a row.
PixelBytes greyPlane(const DibImage& image) {
    const auto hd = image.header();
    const int64_t w = hd.biWidth, h = hd.biHeight, stride = strideFor(w, hd.biBitCount);
    const int bits = hd.biBitCount;
    const auto grey = greyOfIndices(image);
    PixelBytes plane(size_t(w * h));  // fresh zero pages, not cleared a second time
    forEachRowBand(h, w, [&](int64_t first, int64_t last) {
        for (int64_t y = first; y < last; ++y) {
            const uint8_t* in = image.bits.data() + (h - 1 - y) * stride;
            uint8_t* out = plane.data() + y * w;
            if (bits == 24) {
                greyBytes(in, out, w);
            } else if (bits == 8) {
                for (int64_t x = 0; x < w; ++x) out[x] = grey[in[x]];
            } else {
                const int perByte = 8 / bits, mask = (1 << bits) - 1;
                for (int64_t x = 0; x < w; ++x) {
                    const int shift = 8 - bits * int(x % perByte + 1);
                    out[x] = grey[(in[x / perByte] >> shift) & mask];
                }
            }
        }
    });
    return plane;
}

// Column sums of grey and grey squared: row `in` added, row `out` taken away (either may be null).
// Unsigned arithmetic wraps, so a difference added is exact.
void moveColumns(const uint8_t* in, const uint8_t* out, std::vector<uint32_t>& sum, std::vector<uint32_t>& sq) {
    const size_t w = sum.size();
    uint32_t* s = sum.data();
    uint32_t* q = sq.data();
    if (in && out) {
        for (size_t x = 0; x < w; ++x) {
            const uint32_t a = in[x], b = out[x];
            s[x] += a - b;
            q[x] += a * a - b * b;
        }
    } else if (in) {
        for (size_t x = 0; x < w; ++x) s[x] += in[x], q[x] += uint32_t(in[x]) * in[x];
    } else if (out) {
        for (size_t x = 0; x < w; ++x) s[x] -= out[x], q[x] -= uint32_t(out[x]) * out[x];
    }
}

// One pixel: black when g < m (1 + k (s / 128 - 1)), m = S / n and s = sqrt(n^2 var) / n. The
// four-wide pass below does exactly these single-precision steps, so every pixel gets the same
// answer whichever path takes it.
inline uint8_t thresholdPixel(uint8_t g, float sum, float spread, float inverse, float k) {
    const float m = sum * inverse, s = std::sqrt(spread) * inverse;
    const float t = m * (1.0f + k * (s * (1.0f / 128.0f) - 1.0f));
    return float(g) < t ? kBlackIndex : kWhiteIndex;
}

#ifdef __SSE2__
// thresholdPixel four wide, all ones where a pixel is black: the same steps in the same order.
inline __m128i blackFour(__m128i grey, __m128 sum, __m128 spread, __m128 inverse, __m128 k) {
    const __m128 one = _mm_set1_ps(1.0f), scale = _mm_set1_ps(1.0f / 128.0f);
    const __m128 m = _mm_mul_ps(sum, inverse);
    const __m128 s = _mm_mul_ps(_mm_sqrt_ps(spread), inverse);
    const __m128 t = _mm_mul_ps(m, _mm_add_ps(one, _mm_mul_ps(k, _mm_sub_ps(_mm_mul_ps(s, scale), one))));
    return _mm_castps_si128(_mm_cmplt_ps(_mm_cvtepi32_ps(grey), t));
}
#endif

void thresholdRow(const uint8_t* g, const float* sum, const float* spread, const float* inverse, float k, int64_t w,
                  uint8_t* out) {
    int64_t x = 0;
#ifdef __SSE2__
    const __m128 kk = _mm_set1_ps(k);
    const __m128i zero = _mm_setzero_si128(), white = _mm_set1_epi8(char(kWhiteIndex));
    for (; x + 16 <= w; x += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + x));
        const __m128i lo = _mm_unpacklo_epi8(bytes, zero), hi = _mm_unpackhi_epi8(bytes, zero);
        const __m128i words[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                                  _mm_unpacklo_epi16(hi, zero), _mm_unpackhi_epi16(hi, zero)};
        __m128i black[4];
        for (int i = 0; i < 4; ++i) {
            const int64_t at = x + 4 * i;
            black[i] = blackFour(words[i], _mm_loadu_ps(sum + at), _mm_loadu_ps(spread + at), _mm_loadu_ps(inverse + at), kk);
        }
        const __m128i mask = _mm_packs_epi16(_mm_packs_epi32(black[0], black[1]), _mm_packs_epi32(black[2], black[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_andnot_si128(mask, white));
    }
#endif
    for (; x < w; ++x) out[x] = thresholdPixel(g[x], sum[x], spread[x], inverse[x], k);
}

// Windows up to this radius have sums of squares below 2^32 (255^2 pixels of 255^2) and sums
// below 2^24, so four-wide 32-bit running sums and single-precision sums are exact.
constexpr int64_t kMostVectorRadius = 127;

// The middle of a row, where one column comes in and one goes out, four pixels at a time from x0
// while four fit before x1, thresholded as they come: the running sums as prefix sums of the
// columns' differences, and n Q - S^2 exact in double precision (below 2^53) before its single
// rounding, as the one-pixel path rounds. Carries the sums on and returns the first pixel left.
int64_t slideMiddle(const uint32_t* colSum, const uint32_t* colSq, int64_t r, int64_t n, int64_t x0, int64_t x1,
                    int64_t& sumS, int64_t& sumQ, const uint8_t* grey, float k, uint8_t* out) {
    int64_t x = x0;
#ifdef __SSE2__
    const auto load = [](const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const auto prefix = [](__m128i d) {  // lane i: lanes 0..i summed
        d = _mm_add_epi32(d, _mm_slli_si128(d, 4));
        return _mm_add_epi32(d, _mm_slli_si128(d, 8));
    };
    const __m128d nn = _mm_set1_pd(double(n)), bias = _mm_set1_pd(2147483648.0);
    const __m128i flip = _mm_set1_epi32(INT32_MIN), zero = _mm_setzero_si128(), white = _mm_set1_epi8(char(kWhiteIndex));
    const __m128 inverse = _mm_set1_ps(1.0f / float(n)), kk = _mm_set1_ps(k);  // every window here has n pixels
    // Unsigned 32-bit lanes 0 and 1 as doubles.
    const auto unsignedLow = [&](__m128i v) { return _mm_add_pd(_mm_cvtepi32_pd(_mm_xor_si128(v, flip)), bias); };
    __m128i carryS = _mm_set1_epi32(int32_t(sumS)), carryQ = _mm_set1_epi32(int32_t(uint32_t(sumQ)));
    for (; x + 4 <= x1; x += 4) {
        const __m128i s = _mm_add_epi32(carryS, prefix(_mm_sub_epi32(load(colSum + x + r), load(colSum + x - r - 1))));
        const __m128i q = _mm_add_epi32(carryQ, prefix(_mm_sub_epi32(load(colSq + x + r), load(colSq + x - r - 1))));
        carryS = _mm_shuffle_epi32(s, 0xFF);
        carryQ = _mm_shuffle_epi32(q, 0xFF);
        const __m128i sHigh = _mm_shuffle_epi32(s, 0xEE), qHigh = _mm_shuffle_epi32(q, 0xEE);
        const __m128d sLow = _mm_cvtepi32_pd(s), sHi = _mm_cvtepi32_pd(sHigh);
        const __m128d low = _mm_sub_pd(_mm_mul_pd(nn, unsignedLow(q)), _mm_mul_pd(sLow, sLow));
        const __m128d high = _mm_sub_pd(_mm_mul_pd(nn, unsignedLow(qHigh)), _mm_mul_pd(sHi, sHi));
        const __m128 spread = _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
        uint32_t four;
        std::memcpy(&four, grey + x, 4);
        const __m128i g = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int32_t(four)), zero), zero);
        const __m128i black = blackFour(g, _mm_cvtepi32_ps(s), spread, inverse, kk);
        const __m128i bytes = _mm_andnot_si128(_mm_packs_epi16(_mm_packs_epi32(black, black), zero), white);
        four = uint32_t(_mm_cvtsi128_si32(bytes));
        std::memcpy(out + x, &four, 4);
    }
    sumS = int64_t(uint32_t(_mm_cvtsi128_si32(carryS)));
    sumQ = int64_t(uint32_t(_mm_cvtsi128_si32(carryQ)));
#else
    (void)colSum, (void)colSq, (void)r, (void)n, (void)x1, (void)sumS, (void)sumQ, (void)grey, (void)k, (void)out;
#endif
    return x;
}

}  // namespace

OpResult adaptiveBlackWhite(DibImage& image, const AdaptiveBwSettings& settings) {
    if (!image.pixelRowsPresent()) return OpResult::refused(kNoPixelRows);
    const auto hd = image.header();
    const int bits = hd.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return OpResult::refused("needs a 1-, 4-, 8- or 24-bit picture");
    if (settings.window < 3 || settings.window > 2047 || settings.window % 2 == 0)
        return OpResult::refused("the window must be odd, from 3 to 2047");
    const int64_t w = hd.biWidth, h = hd.biHeight, outStride = strideFor(w, 8);
    const int64_t r = settings.window / 2;
    const PixelBytes grey = greyPlane(image);
    PixelBytes out(size_t(outStride * h));

    // Chunks of rows long enough that filling the column sums at their top costs little.
    const int64_t chunk = std::max<int64_t>(128, 4 * settings.window);
    const int64_t chunks = (h + chunk - 1) / chunk;
    // Columns counted at each x (the window clipped at the left and right edges).
    std::vector<int32_t> columns(static_cast<size_t>(w));
    for (int64_t x = 0; x < w; ++x) columns[x] = int32_t(std::min(w - 1, x + r) - std::max<int64_t>(0, x - r) + 1);

    forEachRowBand(chunks, chunk * w, [&](int64_t firstChunk, int64_t lastChunk) {
        // Column sums fit 32 bits: at most 65535 rows of 255 (squared: 65025).
        std::vector<uint32_t> colSum(static_cast<size_t>(w)), colSq(static_cast<size_t>(w));
        std::vector<float> sum(static_cast<size_t>(w)), spread(static_cast<size_t>(w)), inverse(static_cast<size_t>(w));
        const int64_t y0 = firstChunk * chunk, y1 = std::min(h, lastChunk * chunk);
        const auto rowOf = [&](int64_t y) { return y >= 0 && y < h ? grey.data() + y * w : nullptr; };
        // The rows the first step keeps or drops: from y0 - r - 1 up to the window's last but one.
        for (int64_t y = std::max<int64_t>(0, y0 - r - 1); y < std::min(h, y0 + r); ++y) moveColumns(rowOf(y), nullptr, colSum, colSq);
        int64_t rowsBefore = 0;
        for (int64_t y = y0; y < y1; ++y) {
            // The window's rows move down: y + r comes in, y - r - 1 goes out.
            moveColumns(rowOf(y + r), rowOf(y - r - 1), colSum, colSq);
            const int64_t rows = std::min(h - 1, y + r) - std::max<int64_t>(0, y - r) + 1;
            if (rows != rowsBefore)
                for (int64_t x = 0; x < w; ++x) inverse[x] = 1.0f / float(columns[x] * rows);
            rowsBefore = rows;
            // Sliding along the row over the column sums: the window's sum S and n^2 times its
            // variance, n Q - S^2, both exact (n below 2^22, so n Q below 2^60).
            int64_t sumS = 0, sumQ = 0;
            for (int64_t x = 0; x < std::min(w, r); ++x) sumS += colSum[x], sumQ += colSq[x];
            const auto store = [&](int64_t x) {
                sum[x] = float(sumS);
                spread[x] = float(columns[x] * rows * sumQ - sumS * sumS);
            };
            // The left edge, where columns only come in; the middle, where one comes in and one goes
            // out; the right edge, where they only go out (or, in a picture narrower than the window,
            // where neither happens).
            const int64_t middle = std::min(w, r + 1), right = std::max(middle, w - r);
            for (int64_t x = 0; x < middle; ++x) {
                if (x + r < w) sumS += colSum[x + r], sumQ += colSq[x + r];
                store(x);
            }
            uint8_t* o = out.data() + (h - 1 - y) * outStride;
            // The middle is thresholded as it slides, from `middle` to `done`; the rest after.
            int64_t x = middle;
            if (r <= kMostVectorRadius)
                x = slideMiddle(colSum.data(), colSq.data(), r, (2 * r + 1) * rows, middle, right, sumS, sumQ, rowOf(y),
                                float(settings.k), o);
            const int64_t done = x;
            for (; x < right; ++x) {
                sumS += int64_t(colSum[x + r]) - colSum[x - r - 1];
                sumQ += int64_t(colSq[x + r]) - colSq[x - r - 1];
                store(x);
            }
            for (int64_t x = right; x < w; ++x) {
                if (x + r < w) sumS += colSum[x + r], sumQ += colSq[x + r];
                if (x - r - 1 >= 0) sumS -= colSum[x - r - 1], sumQ -= colSq[x - r - 1];
                store(x);
            }
            const float k = float(settings.k);
            thresholdRow(rowOf(y), sum.data(), spread.data(), inverse.data(), k, middle, o);
            thresholdRow(rowOf(y) + done, sum.data() + done, spread.data() + done, inverse.data() + done, k, w - done, o + done);
            std::memset(o + w, kWhiteIndex, size_t(outStride - w));
        }
    });
    image.replace(blackWhiteInfo(hd), std::move(out));
    return OpResult::changed();
}

namespace {

struct Run {
    int32_t x0, x1;  // columns x0 .. x1 - 1
};

// Runs of the picture, row by row: runs[rowStart[y] .. rowStart[y + 1]).
struct Runs {
    std::vector<Run> runs;
    std::vector<int64_t> rowStart;
};

// Union-find over run numbers; the smaller number becomes the root, so labels never depend on timing.
struct Components {
    std::vector<int64_t> parent;
    explicit Components(size_t n) : parent(n) {
        for (size_t i = 0; i < n; ++i) parent[i] = int64_t(i);
    }
    int64_t find(int64_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    }
    void join(int64_t a, int64_t b) {
        a = find(a), b = find(b);
        if (a < b) parent[b] = a;
        else if (b < a) parent[a] = b;
    }
};

// Joins the runs of each row with those of the row above that touch them: 8-connected (a diagonal
// step counts) or 4-connected.
void joinRows(const Runs& rr, Components& c, bool eight) {
    const int64_t rows = int64_t(rr.rowStart.size()) - 1;
    const int32_t reach = eight ? 1 : 0;
    for (int64_t y = 1; y < rows; ++y) {
        int64_t a = rr.rowStart[y], b = rr.rowStart[y - 1];
        const int64_t aEnd = rr.rowStart[y + 1], bEnd = rr.rowStart[y];
        while (a < aEnd && b < bEnd) {
            const Run ra = rr.runs[a], rb = rr.runs[b];
            if (rb.x0 < ra.x1 + reach && ra.x0 < rb.x1 + reach) c.join(a, b);
            // The run ending first touches nothing further along the other row.
            if (ra.x1 < rb.x1) ++a;
            else ++b;
        }
    }
}

// Pixel counts of the components, at their roots.
std::vector<int64_t> sizes(const Runs& rr, Components& c) {
    std::vector<int64_t> size(rr.runs.size(), 0);
    for (size_t i = 0; i < rr.runs.size(); ++i) size[c.find(int64_t(i))] += rr.runs[i].x1 - rr.runs[i].x0;
    return size;
}

}  // namespace

OpResult despeckle(DibImage& image, int32_t minPixels) {
    if (!image.hasBlocks()) return OpResult::refused(kNoPicture);
    const auto hd = image.header();
    if (hd.biBitCount != 8) return OpResult::refused("needs an 8-bit picture");
    if (!image.pixelRowsPresent()) return OpResult::refused(kNoPixelRows);
    const int64_t w = hd.biWidth, h = hd.biHeight, stride = strideFor(w, 8);
    // Black as thinning reads it: the colour shows as the device table's black.
    std::array<uint8_t, 256> ink{};
    for (int i = 0; i < 256; ++i) ink[i] = nearestDeviceIndex(image.tableColour(i)) == kDeviceBlack;
    const uint8_t* bits = image.bits.data();
    auto rowOf = [&](int64_t y) { return bits + (h - 1 - y) * stride; };

    // Black runs: counted, then written, a band of rows on each thread.
    Runs black;
    black.rowStart.assign(size_t(h + 1), 0);
    auto scan = [&](int64_t y, Run* to) {
        const uint8_t* p = rowOf(y);
        int64_t n = 0;
        for (int64_t x = 0; x < w;) {
            while (x < w && !ink[p[x]]) ++x;
            if (x == w) break;
            const int64_t start = x;
            while (x < w && ink[p[x]]) ++x;
            if (to) to[n] = Run{int32_t(start), int32_t(x)};
            ++n;
        }
        return n;
    };
    forEachRowBand(h, w, [&](int64_t first, int64_t last) {
        for (int64_t y = first; y < last; ++y) black.rowStart[y + 1] = scan(y, nullptr);
    });
    for (int64_t y = 0; y < h; ++y) black.rowStart[y + 1] += black.rowStart[y];
    black.runs.resize(size_t(black.rowStart[h]));
    forEachRowBand(h, w, [&](int64_t first, int64_t last) {
        for (int64_t y = first; y < last; ++y) scan(y, black.runs.data() + black.rowStart[y]);
    });

    // Specks: black components (8-connected) of fewer pixels than asked.
    Components specks(black.runs.size());
    joinRows(black, specks, true);
    const std::vector<int64_t> speckSize = sizes(black, specks);
    std::vector<uint8_t> kept(black.runs.size());
    for (size_t i = 0; i < kept.size(); ++i) kept[i] = speckSize[specks.find(int64_t(i))] >= minPixels;

    // White runs between the black runs kept.
    Runs white;
    white.rowStart.assign(size_t(h + 1), 0);
    for (int64_t y = 0; y < h; ++y) {
        int32_t x = 0;
        for (int64_t i = black.rowStart[y]; i < black.rowStart[y + 1]; ++i) {
            if (!kept[i]) continue;
            if (black.runs[i].x0 > x) white.runs.push_back(Run{x, black.runs[i].x0});
            x = black.runs[i].x1;
        }
        if (x < w) white.runs.push_back(Run{x, int32_t(w)});
        white.rowStart[y + 1] = int64_t(white.runs.size());
    }
    // Holes: white components (4-connected, the complement of 8) touching no edge, of fewer pixels than asked.
    Components holes(white.runs.size());
    joinRows(white, holes, false);
    const std::vector<int64_t> holeSize = sizes(white, holes);
    std::vector<uint8_t> edge(white.runs.size(), 0);
    for (int64_t y = 0; y < h; ++y)
        for (int64_t i = white.rowStart[y]; i < white.rowStart[y + 1]; ++i)
            if (y == 0 || y == h - 1 || white.runs[i].x0 == 0 || white.runs[i].x1 == w) edge[holes.find(i)] = 1;
    std::vector<uint8_t> filled(white.runs.size());
    for (size_t i = 0; i < filled.size(); ++i) {
        const int64_t root = holes.find(int64_t(i));
        filled[i] = !edge[root] && holeSize[root] < minPixels;
    }

    // The result: white, with the black runs kept and the holes filled.
    PixelBytes out(size_t(stride * h));
    forEachRowBand(h, w, [&](int64_t first, int64_t last) {
        for (int64_t y = first; y < last; ++y) {
            uint8_t* o = out.data() + (h - 1 - y) * stride;
            std::memset(o, kWhiteIndex, size_t(stride));
            for (int64_t i = black.rowStart[y]; i < black.rowStart[y + 1]; ++i)
                if (kept[i]) std::memset(o + black.runs[i].x0, kBlackIndex, size_t(black.runs[i].x1 - black.runs[i].x0));
            for (int64_t i = white.rowStart[y]; i < white.rowStart[y + 1]; ++i)
                if (filled[i]) std::memset(o + white.runs[i].x0, kBlackIndex, size_t(white.runs[i].x1 - white.runs[i].x0));
        }
    });
    image.replace(blackWhiteInfo(hd), std::move(out));
    return OpResult::changed();
}

}  // namespace qel
