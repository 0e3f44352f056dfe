// Palette-driven operations on a 4000 x 3000 8-bit picture.
// Every operation ends by rebuilding the display bitmap (about 30 ms here).
// Targets: approximate, fit and the table copy add only the table work (at most
// 256 x 256 comparisons), under 1 ms; remap and organise add one pass over the
// pixels through a 256-entry map, under 15 ms.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "core/colour/palette_ops.h"
#include "core/colour/working_palette.h"
#include "core/image/dib_image.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

struct Blocks {
    std::vector<uint8_t> info;
    qel::PixelBytes bits;
};

const Blocks& picture() {
    static const Blocks b = [] {
        const int64_t stride = qel::strideFor(kWidth, 8);
        Blocks p;
        p.info = qel::makeInfoBlock(qel::newHeader(kWidth, kHeight, 8, 0, uint32_t(stride * kHeight)), 256);
        for (int i = 0; i < 256; ++i) {
            uint8_t* e = p.info.data() + qel::kHeaderSize + 4 * i;
            e[0] = uint8_t(i * 5);
            e[1] = uint8_t(i * 11);
            e[2] = uint8_t(255 - i);
        }
        p.bits.resize(size_t(stride * kHeight));
        uint32_t seed = 4711;
        for (auto& v : p.bits) {
            seed = seed * 1103515245u + 12345u;
            v = uint8_t(seed >> 24);
        }
        return p;
    }();
    return b;
}

// The picture's own table in reverse order, with every eighth entry duplicated.
qel::WorkingPalette workingPalette() {
    qel::DibImage img;
    img.info = picture().info;
    qel::WorkingPalette pal;
    qel::loadPaletteFromImage(pal, img);
    for (int i = 0; i < 128; ++i) {
        const auto c = pal.entry(i);
        pal.setEntry(i, pal.entry(255 - i));
        pal.setEntry(255 - i, c);
    }
    for (int i = 8; i < 256; i += 8) pal.setEntry(i, pal.entry(i - 1));
    return pal;
}

template <typename Op>
void runOn(benchmark::State& state, Op op) {
    qel::DibImage image;
    qel::WorkingPalette pal = workingPalette();
    for (auto _ : state) {
        state.PauseTiming();
        image.info = picture().info;
        image.bits = picture().bits;
        state.ResumeTiming();
        benchmark::DoNotOptimize(op(image, pal));
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}

void BM_Remap(benchmark::State& s) {
    runOn(s, [](qel::DibImage& i, qel::WorkingPalette& p) { return qel::remapColours(i, p); });
}
void BM_ApproximateAll(benchmark::State& s) {
    runOn(s, [](qel::DibImage& i, qel::WorkingPalette& p) { return qel::approximateColours(i, p, 0); });
}
void BM_ApproximatePrecision20(benchmark::State& s) {
    runOn(s, [](qel::DibImage& i, qel::WorkingPalette& p) { return qel::approximateColours(i, p, 20); });
}
void BM_Organise(benchmark::State& s) {
    runOn(s, [](qel::DibImage& i, qel::WorkingPalette& p) { return qel::organiseColours(i, p); });
}
void BM_SetColourTable(benchmark::State& s) {
    runOn(s, [](qel::DibImage& i, qel::WorkingPalette& p) { return qel::setColourTable(i, p); });
}
void BM_FitToPalette(benchmark::State& s) {
    runOn(s, [](qel::DibImage& i, qel::WorkingPalette& p) { return qel::fitToPalette(i, p); });
}

BENCHMARK(BM_Remap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApproximateAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApproximatePrecision20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Organise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetColourTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FitToPalette)->Unit(benchmark::kMillisecond);

}  // namespace
