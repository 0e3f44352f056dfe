// Speed of the formula evaluator and of the transform by formula.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/expr/formula.h"
#include "core/expr/transform.h"
#include "core/image/dib_image.h"

namespace {

// A deterministic 24-bit picture with a colour gradient.
void fillPicture(qel::DibImage& img, int w, int h) {
    const auto stride = qel::strideFor(w, 24);
    qel::PixelBytes bits(size_t(stride * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = bits.data() + size_t(y) * stride + 3 * size_t(x);
            p[0] = uint8_t(x * 7 + y), p[1] = uint8_t(x ^ y), p[2] = uint8_t(y * 3);
        }
    img.replace(qel::makeInfoBlock(qel::newHeader(w, h, 24, 0, uint32_t(stride * h)), 0), std::move(bits));
}

// 4000 x 3000 with x'=x+10*sin(y), y'=y, z'=abs(x-y)/8; the counter is time per pixel.
void BM_TransformWave4000x3000(benchmark::State& state) {
    const int w = 4000, h = 3000;
    qel::DibImage img;
    fillPicture(img, w, h);
    for (auto _ : state) {
        char fx[] = "x+10*sin(y)", fy[] = "y", fz[] = "abs(x-y)/8";
        benchmark::DoNotOptimize(qel::transformByFormula(img, fx, fy, fz, 1, 1, 1, 1));
    }
    state.counters["time_per_pixel"] =
        benchmark::Counter(double(w) * h, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TransformWave4000x3000)->Unit(benchmark::kMillisecond)->Iterations(3);

// One evaluation of each of the three formulas above.
void BM_EvaluateWaveFormulas(benchmark::State& state) {
    char fx[] = "x+10*sin(y)", fy[] = "y", fz[] = "abs(x-y)/8";
    qel::Formula::normalise(fx);
    qel::Formula::normalise(fz);
    qel::Formula f;
    double x = 0;
    for (auto _ : state) {
        f.setVariables(x, 17, 0);
        benchmark::DoNotOptimize(f.evaluate(fz) + f.evaluate(fx) + f.evaluate(fy));
        x += 1;
    }
}
BENCHMARK(BM_EvaluateWaveFormulas);

}  // namespace
