// Depth conversions, colour counting and reduction on 4000 x 3000 pictures.
// Targets: each operation well under a second on one core; --to-256 and --to-16
// on a photo (hundreds of thousands of colours, so the table fills and most
// colours take the nearest entry) within a few hundred milliseconds.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "core/colour/conversions.h"
#include "core/colour/reduction.h"
#include "core/image/dib_image.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

struct Blocks {
    std::vector<uint8_t> info;
    qel::PixelBytes bits;
};

// Smooth gradients with a little noise: many distinct colours, neighbours alike.
Blocks photo24() {
    const int64_t stride = qel::strideFor(kWidth, 24);
    Blocks b;
    b.info = qel::makeInfoBlock(qel::newHeader(kWidth, kHeight, 24, 0, uint32_t(stride * kHeight)), 0);
    b.bits.assign(size_t(stride * kHeight), 0);
    uint32_t seed = 12345;
    auto noise = [&seed] { seed = seed * 1103515245u + 12345u; return int(seed >> 28); };
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* p = b.bits.data() + int64_t(y) * stride;
        for (int x = 0; x < kWidth; ++x, p += 3) {
            p[0] = uint8_t((x * 255 / kWidth + noise()) & 255);
            p[1] = uint8_t((y * 255 / kHeight + noise()) & 255);
            p[2] = uint8_t(((x + y) * 255 / (kWidth + kHeight) + noise()) & 255);
        }
    }
    return b;
}

// A picture of 200 flat colours in bands: the table never fills.
Blocks flat24() {
    const int64_t stride = qel::strideFor(kWidth, 24);
    Blocks b;
    b.info = qel::makeInfoBlock(qel::newHeader(kWidth, kHeight, 24, 0, uint32_t(stride * kHeight)), 0);
    b.bits.assign(size_t(stride * kHeight), 0);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* p = b.bits.data() + int64_t(y) * stride;
        for (int x = 0; x < kWidth; ++x, p += 3) {
            const int c = (x / 20) % 200;
            p[0] = uint8_t(c);
            p[1] = uint8_t(c * 7);
            p[2] = uint8_t(c * 13);
        }
    }
    return b;
}

Blocks indexed8() {
    const int64_t stride = qel::strideFor(kWidth, 8);
    Blocks b;
    b.info = qel::makeInfoBlock(qel::newHeader(kWidth, kHeight, 8, 256, uint32_t(stride * kHeight)), 256);
    for (int i = 0; i < 256; ++i) {
        uint8_t* e = b.info.data() + qel::kHeaderSize + 4 * i;
        e[0] = uint8_t(i);
        e[1] = uint8_t(i * 3);
        e[2] = uint8_t(255 - i);
    }
    b.bits.resize(size_t(stride * kHeight));
    for (size_t i = 0; i < b.bits.size(); ++i) b.bits[i] = uint8_t((i * 7 + i / stride) & 255);
    return b;
}

const Blocks& cached(int which) {
    static const Blocks photo = photo24(), flat = flat24(), eight = indexed8();
    return which == 0 ? photo : which == 1 ? flat : eight;
}

// Runs `op` on a fresh copy of the picture each iteration; only the operation is timed.
template <typename Op>
void runOn(benchmark::State& state, int picture, Op op) {
    qel::DibImage image;
    for (auto _ : state) {
        state.PauseTiming();
        image.info = cached(picture).info;
        image.bits = cached(picture).bits;
        state.ResumeTiming();
        benchmark::DoNotOptimize(op(image));
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}

void BM_To256Photo(benchmark::State& s) { runOn(s, 0, [](qel::DibImage& i) { return qel::toIndexed(i, 256); }); }
void BM_To16Photo(benchmark::State& s) { runOn(s, 0, [](qel::DibImage& i) { return qel::toIndexed(i, 16); }); }
void BM_To256FlatColours(benchmark::State& s) { runOn(s, 1, [](qel::DibImage& i) { return qel::toIndexed(i, 256); }); }
void BM_To16From8Bit(benchmark::State& s) { runOn(s, 2, [](qel::DibImage& i) { return qel::toIndexed(i, 16); }); }
void BM_Grey24(benchmark::State& s) { runOn(s, 0, [](qel::DibImage& i) { return qel::toGrey(i); }); }
void BM_Grey8(benchmark::State& s) { runOn(s, 2, [](qel::DibImage& i) { return qel::toGrey(i); }); }
void BM_BlackWhite8(benchmark::State& s) { runOn(s, 2, [](qel::DibImage& i) { return qel::toBlackWhite(i, 128); }); }
void BM_CountColours24(benchmark::State& s) { runOn(s, 0, [](qel::DibImage& i) { return qel::countColours(i); }); }
void BM_CountColours8(benchmark::State& s) { runOn(s, 2, [](qel::DibImage& i) { return qel::countColours(i); }); }
void BM_Reduce256Photo(benchmark::State& s) { runOn(s, 0, [](qel::DibImage& i) { return qel::reduceColours(i); }); }

BENCHMARK(BM_To256Photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_To16Photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_To256FlatColours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_To16From8Bit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grey24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grey8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlackWhite8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountColours24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountColours8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reduce256Photo)->Unit(benchmark::kMillisecond);

}  // namespace
