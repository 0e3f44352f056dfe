// The grey of 24-bit pixels, (b + g + r) / 3 truncated: in place (the grey command) or one byte a
// pixel (the grey plane adaptive black and white reads), 16 pixels a step where the processor
// shuffles bytes.
#include "core/image/grey_pixels.h"
#include "core/image/cpu_features.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <tmmintrin.h>
#define QEL_GREY_SSSE3 1
#endif

namespace qel {

namespace {

// Each of n 24-bit pixels from p becomes its grey, (b + g + r) / 3 in all three bytes.
void greyPixelsPlain(uint8_t* p, int64_t n) {
    for (int64_t x = 0; x < n; ++x, p += 3) {
        const auto g = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
        p[0] = p[1] = p[2] = g;
    }
}

#ifdef QEL_GREY_SSSE3
// The greys of the 16 pixels (48 bytes) at p, one byte each. For sums up to 765,
// (s * 21846) >> 16 is exactly s / 3.
__attribute__((target("ssse3"))) inline __m128i grey16(const uint8_t* p) {
    auto pick = [](int a0, int a1, int a2, int a3, int a4, int a5, int b0, int b1, int b2, int b3, int b4,
                   int c0, int c1, int c2, int c3, int c4) {
        return _mm_setr_epi8(char(a0), char(a1), char(a2), char(a3), char(a4), char(a5), char(b0), char(b1),
                             char(b2), char(b3), char(b4), char(c0), char(c1), char(c2), char(c3), char(c4));
    };
    constexpr int X = -128;
    // Channel k of pixels 0-5 lies in the first 16 bytes, of 6-10 in the second, of 11-15 in the third.
    const __m128i a0 = pick(0, 3, 6, 9, 12, 15, X, X, X, X, X, X, X, X, X, X);
    const __m128i b0 = pick(X, X, X, X, X, X, 2, 5, 8, 11, 14, X, X, X, X, X);
    const __m128i c0 = pick(X, X, X, X, X, X, X, X, X, X, X, 1, 4, 7, 10, 13);
    const __m128i a1 = pick(1, 4, 7, 10, 13, X, X, X, X, X, X, X, X, X, X, X);
    const __m128i b1 = pick(X, X, X, X, X, 0, 3, 6, 9, 12, 15, X, X, X, X, X);
    const __m128i c1 = pick(X, X, X, X, X, X, X, X, X, X, X, 2, 5, 8, 11, 14);
    const __m128i a2 = pick(2, 5, 8, 11, 14, X, X, X, X, X, X, X, X, X, X, X);
    const __m128i b2 = pick(X, X, X, X, X, 1, 4, 7, 10, 13, X, X, X, X, X, X);
    const __m128i c2 = pick(X, X, X, X, X, X, X, X, X, X, 0, 3, 6, 9, 12, 15);
    const __m128i third = _mm_set1_epi16(21846);
    const __m128i zero = _mm_setzero_si128();
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i vc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i ch0 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(va, a0), _mm_shuffle_epi8(vb, b0)),
                                     _mm_shuffle_epi8(vc, c0));
    const __m128i ch1 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(va, a1), _mm_shuffle_epi8(vb, b1)),
                                     _mm_shuffle_epi8(vc, c1));
    const __m128i ch2 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(va, a2), _mm_shuffle_epi8(vb, b2)),
                                     _mm_shuffle_epi8(vc, c2));
    const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(ch0, zero), _mm_unpacklo_epi8(ch1, zero)),
                                     _mm_unpacklo_epi8(ch2, zero));
    const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(ch0, zero), _mm_unpackhi_epi8(ch1, zero)),
                                     _mm_unpackhi_epi8(ch2, zero));
    return _mm_packus_epi16(_mm_mulhi_epu16(lo, third), _mm_mulhi_epu16(hi, third));
}

// greyPixels 16 pixels at a time; returns how many pixels it did, the rest being left to greyPixelsPlain.
__attribute__((target("ssse3"))) int64_t greyPixelsSsse3(uint8_t* p, int64_t n) {
    // Each grey back to the three bytes of its pixel.
    const __m128i outA = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i outB = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i outC = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    int64_t done = 0;
    for (; done + 16 <= n; done += 16, p += 48) {
        const __m128i grey = grey16(p);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(grey, outA));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm_shuffle_epi8(grey, outB));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), _mm_shuffle_epi8(grey, outC));
    }
    return done;
}

// greyBytes 16 pixels at a time, the same way.
__attribute__((target("ssse3"))) int64_t greyBytesSsse3(const uint8_t* p, uint8_t* out, int64_t n) {
    int64_t done = 0;
    for (; done + 16 <= n; done += 16, p += 48) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), grey16(p));
    return done;
}

#endif

}  // namespace

void greyPixels(uint8_t* p, int64_t n) {
#ifdef QEL_GREY_SSSE3
    if (hasSsse3()) {
        const int64_t done = greyPixelsSsse3(p, n);
        p += 3 * done;
        n -= done;
    }
#endif
    greyPixelsPlain(p, n);
}

void greyBytes(const uint8_t* p, uint8_t* out, int64_t n) {
    int64_t x = 0;
#ifdef QEL_GREY_SSSE3
    if (hasSsse3()) x = greyBytesSsse3(p, out, n);
#endif
    for (; x < n; ++x) out[x] = static_cast<uint8_t>((p[3 * x] + p[3 * x + 1] + p[3 * x + 2]) / 3);
}

}  // namespace qel
