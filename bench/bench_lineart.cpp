// Line-art filters on a generated 4000 x 3000 drawing of strokes 1-8 pixels wide.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "core/image/dib_image.h"
#include "core/lineart/lineart.h"

namespace {

using namespace qel;

constexpr int kWidth = 4000, kHeight = 3000;

// Straight strokes and circles of widths 1 to 8 drawn in black on white, from a fixed seed.
std::unique_ptr<DibImage> makeDrawing() {
    const auto stride = strideFor(kWidth, 8);
    PixelBytes bits(static_cast<size_t>(stride * kHeight), uint8_t(kDeviceWhite));
    uint32_t seed = 12345;
    auto rnd = [&](int n) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<uint32_t>(n));
    };
    auto dot = [&](int x, int y, int w) {
        for (int dy = 0; dy < w; ++dy)
            for (int dx = 0; dx < w; ++dx) {
                const int px = x + dx, py = y + dy;
                if (px >= 0 && px < kWidth && py >= 0 && py < kHeight)
                    bits[static_cast<size_t>(kHeight - 1 - py) * stride + px] = uint8_t(kDeviceBlack);
            }
    };
    for (int s = 0; s < 600; ++s) {
        const int w = 1 + s % 8;
        if (s % 3 == 0) {
            const int cx = rnd(kWidth), cy = rnd(kHeight), r = 20 + rnd(200);
            const int steps = static_cast<int>(7 * r);
            for (int t = 0; t < steps; ++t)
                dot(cx + static_cast<int>(r * std::cos(t * 6.2832 / steps)),
                    cy + static_cast<int>(r * std::sin(t * 6.2832 / steps)), w);
        } else {
            int x0 = rnd(kWidth), y0 = rnd(kHeight), x1 = rnd(kWidth), y1 = rnd(kHeight);
            const int n = std::max(std::abs(x1 - x0), std::abs(y1 - y0)) + 1;
            for (int t = 0; t < n; ++t) dot(x0 + (x1 - x0) * t / n, y0 + (y1 - y0) * t / n, w);
        }
    }
    auto img = std::make_unique<DibImage>();
    auto info = makeInfoBlock(newHeader(kWidth, kHeight, 8, 256, static_cast<uint32_t>(bits.size())), 256);
    const auto& dev = deviceTable();
    for (int i = 0; i < 256; ++i) {
        uint8_t* e = info.data() + kHeaderSize + 4 * i;
        e[0] = dev[i].b; e[1] = dev[i].g; e[2] = dev[i].r;
    }
    img->replace(std::move(info), std::move(bits));
    return img;
}

const DibImage& drawing() {
    static const auto img = makeDrawing();
    return *img;
}

const DibImage& thinnedDrawing() {
    static const auto img = [] {
        auto t = std::make_unique<DibImage>();
        t->replace(drawing().info, drawing().bits);
        thin(*t);
        return t;
    }();
    return *img;
}

template <typename Filter>
void runOn(benchmark::State& state, const DibImage& source, Filter filter) {
    DibImage img;
    for (auto _ : state) {
        state.PauseTiming();
        img.replace(source.info, source.bits);
        state.ResumeTiming();
        benchmark::DoNotOptimize(filter(img));
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}

void BM_Thin(benchmark::State& state) { runOn(state, drawing(), [](DibImage& i) { return thin(i); }); }
void BM_Straighten(benchmark::State& state) {
    runOn(state, thinnedDrawing(), [](DibImage& i) { return straighten(i, 10); });
}
void BM_TidyLines(benchmark::State& state) { runOn(state, thinnedDrawing(), [](DibImage& i) { return tidyLines(i); }); }
void BM_TidyLines2(benchmark::State& state) { runOn(state, drawing(), [](DibImage& i) { return tidyLines2(i); }); }

// Targets on one core of the build machine: thinning under 1 s, each other filter under 0.5 s.
BENCHMARK(BM_Thin)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Straighten)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TidyLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TidyLines2)->Unit(benchmark::kMillisecond);

}  // namespace
