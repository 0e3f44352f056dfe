// Scaling a 4000 x 3000 picture down to 1000 x 750 and up to 8000 x 6000 on
// both routes, mixing a picture-sized file, and the fractal.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/geometry/geometry.h"
#include "core/formats/bmp_file.h"
#include "core/formats/file_io.h"

namespace {

constexpr int kW = 4000, kH = 3000;

// A photo-like 24-bit picture: smooth gradients with a little deterministic noise.
void fillPicture(qel::DibImage& img, uint32_t seed) {
    const int64_t stride = qel::strideFor(kW, 24);
    qel::PixelBytes bits(static_cast<size_t>(stride * kH), 0);
    uint32_t s = seed;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            s = s * 1664525u + 1013904223u;
            uint8_t* p = bits.data() + int64_t(y) * stride + 3 * x;
            p[0] = uint8_t((x * 255 / kW) ^ ((s >> 24) & 15));
            p[1] = uint8_t((y * 255 / kH) ^ ((s >> 16) & 15));
            p[2] = uint8_t(((x + y) * 127 / (kW + kH)) + ((s >> 8) & 31));
        }
    img.replace(qel::makeInfoBlock(qel::newHeader(kW, kH, 24, 0, uint32_t(bits.size())), 0), std::move(bits));
}

qel::DibImage& source() {
    static qel::DibImage img;
    if (img.info.empty()) fillPicture(img, 1);
    return img;
}

template <class Op>
void runOnCopy(benchmark::State& state, Op op) {
    qel::DibImage work;
    for (auto _ : state) {
        state.PauseTiming();
        work.info = source().info;
        work.bits = source().bits;
        state.ResumeTiming();
        benchmark::DoNotOptimize(op(work));
    }
}

void BM_ScaleDownAverage(benchmark::State& s) { runOnCopy(s, [](qel::DibImage& i) { return qel::scaleByCommand(i, 1000, 750, true); }); }
void BM_ScaleDownNearest(benchmark::State& s) { runOnCopy(s, [](qel::DibImage& i) { return qel::scaleNearest(i, 1000, 750); }); }
void BM_ScaleUpDoubledAverage(benchmark::State& s) { runOnCopy(s, [](qel::DibImage& i) { return qel::scaleByCommand(i, 8000, 6000, true); }); }
void BM_ScaleUpNearest(benchmark::State& s) { runOnCopy(s, [](qel::DibImage& i) { return qel::scaleNearest(i, 8000, 6000); }); }

void BM_Mix(benchmark::State& s) {
    // The file to mix, written once and removed when the program ends.
    struct TempFile {
        std::string path = "/tmp/qel-bench-mix-" + std::to_string(::getpid()) + ".bmp";
        TempFile() {
            qel::DibImage other;
            fillPicture(other, 2);
            other.saveFile(path);
        }
        ~TempFile() { std::remove(path.c_str()); }
    };
    static const TempFile file;
    static const std::string& path = file.path;
    runOnCopy(s, [](qel::DibImage& i) {
        return qel::mixFile(i, path, 0, 0, kW, kH, 0, 0, 0.5f, qel::packColourRef(205, 205, 205));
    });
}

void BM_Fractal(benchmark::State& s) {
    runOnCopy(s, [](qel::DibImage& i) {
        return qel::drawFractal(i, qel::kFractalStepX, qel::kFractalStepY, qel::kFractalConstant, qel::kFractalIterations);
    });
}

}  // namespace

BENCHMARK(BM_ScaleDownAverage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleDownNearest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleUpDoubledAverage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleUpNearest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fractal)->Unit(benchmark::kMillisecond);
