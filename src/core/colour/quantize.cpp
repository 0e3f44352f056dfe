// Colour reduction for quality: libimagequant chooses a palette of at most N colours for the
// picture; every pixel then goes to its nearest colour, or, with dithering, libimagequant diffuses
// the error (Floyd–Steinberg).
#include "core/colour/quantize.h"

#include <libimagequant.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "core/image/parallel_rows.h"

#if __has_include(<omp.h>)
#include <omp.h>
#else
extern "C" {
int omp_get_max_threads(void);
void omp_set_num_threads(int);
}
#endif

namespace qel {

namespace {

// The quantizer's speed (1 slowest .. 10 fastest). Without dithering it only gives the first
// palette, which kRounds rounds of mapping and averaging (k-means, mapToNearest) then improve: on
// the benchmark photo 10 and four rounds give 32.4 dB, as much as 4 gives alone, in less time
// (one round: 31.9 dB). With dithering the quantizer maps the pixels itself; only at 5 or slower
// does it spend enough on the palette to dither well (30.6 dB, against 29.3 at 8).
constexpr int kSpeed = 10;
constexpr int kRounds = 4;
constexpr int kDitherSpeed = 5;

// The quantizer sums the colours of its clusters per thread, so its palette can depend on how many
// threads share the work, and at some speeds so does where it dithers. It runs on one thread (its
// OpenMP threads are set for the calling thread only, and put back after): the same picture gives
// the same bytes wherever it runs. The mapping without dithering runs on every core.
class OneQuantizerThread {
public:
    OneQuantizerThread() : before_(omp_get_max_threads()) { omp_set_num_threads(1); }
    ~OneQuantizerThread() { omp_set_num_threads(before_); }
    OneQuantizerThread(const OneQuantizerThread&) = delete;
    OneQuantizerThread& operator=(const OneQuantizerThread&) = delete;

private:
    int before_;
};

struct LiqDeleter {
    void operator()(liq_attr* p) const { liq_attr_destroy(p); }
    void operator()(liq_image* p) const { liq_image_destroy(p); }
    void operator()(liq_result* p) const { liq_result_destroy(p); }
};
template <class T>
using LiqPtr = std::unique_ptr<T, LiqDeleter>;

// The rows the quantizer reads, top row first, as opaque RGBA from the picture's bottom-up BGR rows.
struct SourceRows {
    const uint8_t* bits;
    int64_t stride;
    int height;
};

void readRow(liq_color rowOut[], int row, int width, void* user) {
    const auto& s = *static_cast<const SourceRows*>(user);
    const uint8_t* p = s.bits + static_cast<int64_t>(s.height - 1 - row) * s.stride;
    for (int x = 0; x < width; ++x, p += 3) rowOut[x] = liq_color{p[2], p[1], p[0], 255};
}

// The nearest palette entry of a colour (squared distance in RGB, the lowest index on ties). The
// colour cube is cut into cells 8 levels wide; a cell lists, when first met, the only entries that
// can be nearest to a colour inside it (those no farther from the cell than the entry whose farthest
// point of the cell is nearest), nearest the cell first. Recent answers are cached.
class NearestEntry {
public:
    explicit NearestEntry(const std::vector<Rgb>& palette)
        : palette_(palette), start_(kCells), length_(kCells, -1), cacheKeys_(kCacheSize, ~0u), cacheValues_(kCacheSize) {}

    uint8_t operator()(uint32_t r, uint32_t g, uint32_t b) {
        const uint32_t key = (r << 16) | (g << 8) | b;
        if (key == lastKey_) return lastIndex_;
        lastKey_ = key;
        const size_t slot = (key * 0x9E3779B1u) >> (32 - kCacheBits);
        if (cacheKeys_[slot] != key) {
            cacheKeys_[slot] = key;
            cacheValues_[slot] = search(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b));
        }
        return lastIndex_ = cacheValues_[slot];
    }

private:
    static constexpr int kShift = 3;
    static constexpr int kCells = 1 << (3 * (8 - kShift));
    static constexpr int kCacheBits = 14;
    static constexpr size_t kCacheSize = size_t(1) << kCacheBits;

    uint8_t search(int r, int g, int b) {
        const int cell = (((r >> kShift) << (2 * (8 - kShift))) | ((g >> kShift) << (8 - kShift)) | (b >> kShift));
        if (length_[static_cast<size_t>(cell)] < 0) listCell(cell, r >> kShift << kShift, g >> kShift << kShift, b >> kShift << kShift);
        const size_t start = start_[static_cast<size_t>(cell)];
        const Candidate* list = lists_.data() + start;
        int best = list[0].index;
        int32_t bestDistance = std::numeric_limits<int32_t>::max();
        // Candidates come nearest the cell first: once one is farther from the cell than the best
        // distance so far, so are the rest.
        for (int k = 0; k < length_[static_cast<size_t>(cell)] && list[k].cellDistance <= bestDistance; ++k) {
            const Rgb c = palette_[list[k].index];
            const int32_t dr = c.r - r, dg = c.g - g, db = c.b - b;
            const int32_t d = dr * dr + dg * dg + db * db;
            if (d < bestDistance || (d == bestDistance && list[k].index < best)) {
                bestDistance = d;
                best = list[k].index;
            }
        }
        return static_cast<uint8_t>(best);
    }

    void listCell(int cell, int lr, int lg, int lb) {
        constexpr int kWidth = (1 << kShift) - 1;
        const auto nearSq = [](int v, int lo) { const int d = v < lo ? lo - v : (v > lo + kWidth ? v - lo - kWidth : 0); return d * d; };
        const auto farSq = [](int v, int lo) { const int d = std::max(std::abs(v - lo), std::abs(v - lo - kWidth)); return d * d; };
        std::vector<Candidate> all(palette_.size());
        int32_t limit = std::numeric_limits<int32_t>::max();
        for (size_t i = 0; i < palette_.size(); ++i) {
            const Rgb c = palette_[i];
            all[i] = {nearSq(c.r, lr) + nearSq(c.g, lg) + nearSq(c.b, lb), static_cast<uint8_t>(i)};
            limit = std::min(limit, farSq(c.r, lr) + farSq(c.g, lg) + farSq(c.b, lb));
        }
        std::erase_if(all, [limit](const Candidate& c) { return c.cellDistance > limit; });
        std::sort(all.begin(), all.end(), [](const Candidate& a, const Candidate& b) {
            return a.cellDistance != b.cellDistance ? a.cellDistance < b.cellDistance : a.index < b.index;
        });
        start_[static_cast<size_t>(cell)] = static_cast<uint32_t>(lists_.size());
        lists_.insert(lists_.end(), all.begin(), all.end());
        length_[static_cast<size_t>(cell)] = static_cast<int32_t>(all.size());
    }

    struct Candidate {
        int32_t cellDistance;  // squared, from the cell's nearest point
        uint8_t index;
    };

    std::vector<Rgb> palette_;
    std::vector<uint32_t> start_;
    std::vector<int32_t> length_;
    std::vector<Candidate> lists_;
    std::vector<uint32_t> cacheKeys_;
    std::vector<uint8_t> cacheValues_;
    uint32_t lastKey_ = ~0u;
    uint8_t lastIndex_ = 0;
};

// Maps every pixel to its nearest entry and then moves each entry that pixels map to onto the
// rounded average of their colours (one round of k-means); true when an entry moved. For that
// mapping no colour is nearer its pixels, so the error only falls. A picture of at most N colours
// thus gets its own colours back (unless two of them differ in the lowest bit only: the quantizer
// reads the histogram at 7 bits at this speed). Rows run in parallel bands; each pixel's index
// depends on its colour alone and the sums are whole numbers, so the result is the same on any
// number of threads.
bool mapToNearest(const uint8_t* bits, uint8_t* indices, int w, int h, std::vector<Rgb>& palette) {
    using Sums = std::array<std::array<uint64_t, 4>, 256>;
    const int64_t s24 = strideFor(w, 24), s8 = strideFor(w, 8);
    const int threads = rowThreads();
    std::vector<std::unique_ptr<NearestEntry>> mappers(static_cast<size_t>(threads));
    std::vector<Sums> sums(static_cast<size_t>(threads), Sums{});
    forEachRowBandOnWorkers(h, w, [&](int worker, int64_t first, int64_t last) {
        auto& nearest = mappers[static_cast<size_t>(worker)];
        if (!nearest) nearest = std::make_unique<NearestEntry>(palette);
        Sums& mine = sums[static_cast<size_t>(worker)];
        for (int64_t row = first; row < last; ++row) {
            const uint8_t* p = bits + row * s24;
            uint8_t* q = indices + row * s8;
            for (int x = 0; x < w; ++x, p += 3) {
                const uint8_t i = (*nearest)(p[2], p[1], p[0]);
                q[x] = i;
                auto& s = mine[i];
                s[0] += p[2];
                s[1] += p[1];
                s[2] += p[0];
                ++s[3];
            }
        }
    });
    bool moved = false;
    for (size_t i = 0; i < palette.size(); ++i) {
        std::array<uint64_t, 4> total{};
        for (const Sums& part : sums)
            for (size_t k = 0; k < 4; ++k) total[k] += part[i][k];
        const uint64_t n = total[3];
        if (n == 0) continue;
        const auto mean = [&](size_t k) { return static_cast<uint8_t>((total[k] + n / 2) / n); };
        const Rgb average{mean(0), mean(1), mean(2)};
        moved = moved || !(average == palette[i]);
        palette[i] = average;
    }
    return moved;
}

OpResult failed(liq_error e) {
    if (e == LIQ_OUT_OF_MEMORY) throw std::bad_alloc();
    return OpResult::refused("the colour quantizer failed (error " + std::to_string(static_cast<int>(e)) + ")");
}

}  // namespace

OpResult quantizeColours(DibImage& image, const QuantizeSettings& settings) {
    if (settings.colours < kQuantizeMinColours || settings.colours > kQuantizeMaxColours)
        return OpResult::refused("needs 2 to 256 colours, not " + std::to_string(settings.colours));
    if (!image.pixelRowsPresent()) return OpResult::refused(kNoPixelRows);
    const BitmapInfoHeader old = image.header();
    if (old.biBitCount != 24) return OpResult::refused(kNeeds24Bit);
    const int w = old.biWidth, h = old.biHeight;

    OneQuantizerThread oneThread;
    const LiqPtr<liq_attr> attr(liq_attr_create());
    if (!attr) throw std::bad_alloc();
    if (liq_error e = liq_set_max_colors(attr.get(), settings.colours); e != LIQ_OK) return failed(e);
    if (liq_error e = liq_set_speed(attr.get(), settings.dither ? kDitherSpeed : kSpeed); e != LIQ_OK) return failed(e);

    SourceRows source{image.bits.data(), strideFor(w, 24), h};
    const LiqPtr<liq_image> input(liq_image_create_custom(attr.get(), readRow, &source, w, h, 0));
    if (!input) return OpResult::refused("the picture is too large for the colour quantizer");
    liq_result* made = nullptr;
    if (liq_error e = liq_image_quantize(input.get(), attr.get(), &made); e != LIQ_OK) return failed(e);
    const LiqPtr<liq_result> result(made);

    // Indices in the 8-bit layout, padding 0.
    const int64_t s8 = strideFor(w, 8);
    PixelBytes indices(static_cast<size_t>(s8 * h));
    if (settings.dither) {
        // The quantizer's own error diffusion, top row first.
        if (liq_error e = liq_set_dithering_level(result.get(), 1.0f); e != LIQ_OK) return failed(e);
        std::vector<unsigned char*> rows(static_cast<size_t>(h));
        for (int y = 0; y < h; ++y) rows[static_cast<size_t>(y)] = indices.data() + static_cast<int64_t>(h - 1 - y) * s8;
        if (liq_error e = liq_write_remapped_image_rows(result.get(), input.get(), rows.data()); e != LIQ_OK) return failed(e);
    }
    const liq_palette* palette = liq_get_palette(result.get());
    std::vector<Rgb> colours;
    for (unsigned i = 0; i < palette->count && i < 256; ++i)
        colours.push_back(Rgb{palette->entries[i].r, palette->entries[i].g, palette->entries[i].b});
    if (colours.empty()) return OpResult::refused("the colour quantizer chose no colours");
    // Stops early when no colour moves: the mapping is then the nearest for the final colours.
    for (int round = 0; !settings.dither && round < kRounds; ++round)
        if (!mapToNearest(image.bits.data(), indices.data(), w, h, colours)) break;

    const BitmapInfoHeader hd = newHeader(w, h, 8, 256, static_cast<uint32_t>(indices.size()));
    std::vector<uint8_t> info = makeInfoBlock(hd, 256, kGreyFill);
    for (size_t i = 0; i < colours.size(); ++i) setInfoColour(info, int(i), colours[i]);
    image.replace(std::move(info), std::move(indices));
    return OpResult::changed();
}

}  // namespace qel
