// The transform's fast paths (compiled programs, rows in parallel) give exactly the
// bytes of the plain text walker run pixel by pixel in raster order.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/expr/formula.h"
#include "core/expr/transform.h"

namespace qel {
namespace {

uint8_t clampReference(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// The straightforward transform: the text walker for every value, one pixel after another.
std::vector<uint8_t> referenceTransform(const DibImage& image, std::string fx, std::string fy, std::string fz,
                                        float wr, float wg, float wb, int inverse) {
    Formula::normalise(fx.data());
    Formula::normalise(fy.data());
    Formula::normalise(fz.data());
    const auto hd = image.header();
    const int32_t w = hd.biWidth, h = hd.biHeight;
    const int64_t stride = strideFor(w, 24);
    std::vector<uint8_t> out(image.bits.size(), 0);
    Formula f;
    double zPrev = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            f.setVariables(x, y, zPrev);
            const double z = f.evaluate(fz.c_str());
            zPrev = z;
            const int64_t dR = truncToInt32(double(wr) * z), dG = truncToInt32(double(wg) * z),
                          dB = truncToInt32(double(wb) * z);
            f.setVariables(x, y, z);
            const int32_t X = truncToInt32(f.evaluate(fx.c_str())), Y = truncToInt32(f.evaluate(fy.c_str()));
            if (X < 0 || X >= w || Y < 0 || Y >= h) continue;
            const int32_t sx = inverse ? X : x, sy = inverse ? Y : y, dx = inverse ? x : X, dy = inverse ? y : Y;
            const uint8_t* s = image.bits.data() + (h - 1 - sy) * stride + 3 * int64_t(sx);
            uint8_t* d = out.data() + (h - 1 - dy) * stride + 3 * int64_t(dx);
            d[0] = clampReference(s[0] + dB);
            d[1] = clampReference(s[1] + dG);
            d[2] = clampReference(s[2] + dR);
        }
    return out;
}

std::unique_ptr<DibImage> randomPicture(std::mt19937& rng, int w, int h) {
    auto img = std::make_unique<DibImage>();
    std::vector<uint8_t> bits(static_cast<size_t>(strideFor(w, 24) * h));
    for (auto& b : bits) b = uint8_t(rng());
    img->replace(makeInfoBlock(newHeader(w, h, 24, 0, uint32_t(bits.size())), 0), std::move(bits));
    return img;
}

TEST(TransformEquality, FastPathsMatchTheTextWalkerOnRandomPictures) {
    struct Case {
        const char *fx, *fy, *fz;
        float wr, wg, wb;
        int inverse;
    };
    const Case cases[] = {
        {"x+10*sin(y)", "y", "abs(x-y)/8", 1, 1, 1, 1},         // independent rows: run in parallel
        {"x*0.7+y/3", "y-x/5", "x^2/(y+1)-40", 0.5f, -1, 2, 1},  // division, power, weights
        {"x+z", "y+z/2", "z+1", 1, 1, 1, 1},                      // z' reads the previous pixel's z
        {"x+rand(3)", "y", "frand(20)", 1, 1, 1, 1},              // random draws in raster order
        {"x+10*sin(y)", "y+cos(x)*3", "abs(x-y)/8", 1, 1, 1, 0},  // forward: later pixels overwrite
        {"hypot(x,y)", "fmod(x*y,97)", "max(x,y)-min(x,y)", 0.25f, 0.5f, 1, 1},
    };
    std::mt19937 rng(5);
    for (const auto& c : cases)
        for (auto [w, h] : {std::pair{123, 97}, std::pair{3, 2}, std::pair{301, 64}}) {
            auto img = randomPicture(rng, w, h);
            setRandomStateForTesting(77);
            const auto want = referenceTransform(*img, c.fx, c.fy, c.fz, c.wr, c.wg, c.wb, c.inverse);
            const uint32_t stateAfter = randomStateForTesting();
            setRandomStateForTesting(77);
            TransformSettings s;
            s.formulaX = c.fx, s.formulaY = c.fy, s.formulaZ = c.fz;
            s.weightRed = c.wr, s.weightGreen = c.wg, s.weightBlue = c.wb, s.inverseTransform = c.inverse;
            ASSERT_EQ(transformByFormula(*img, s).status, OpStatus::Changed);
            EXPECT_EQ(img->bits, want) << c.fx << ";" << c.fy << ";" << c.fz << " " << w << "x" << h;
            EXPECT_EQ(randomStateForTesting(), stateAfter) << c.fx << ";" << c.fy << ";" << c.fz;
        }
}

}  // namespace
}  // namespace qel
