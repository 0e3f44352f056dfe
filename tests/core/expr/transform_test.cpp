// Transform by formula on small 24-bit pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/expr/formula.h"
#include "core/expr/transform.h"
#include "support/text_image.h"

namespace qel {
namespace {

// A w x h 24-bit picture whose pixel (x, y) is (red 2x+1, green 3y+2, blue 7).
std::unique_ptr<DibImage> gradient(int w, int h, Rgb (*colour)(int, int) = nullptr) {
    auto img = std::make_unique<DibImage>();
    const auto stride = strideFor(w, 24);
    img->replace(makeInfoBlock(newHeader(w, h, 24, 0, uint32_t(stride * h)), 0),
                 PixelBytes(size_t(stride * h)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = colour ? colour(x, y) : Rgb{uint8_t(2 * x + 1), uint8_t(3 * y + 2), 7};
            uint8_t* p = img->rowFromTop(y) + 3 * x;
            p[0] = c.b, p[1] = c.g, p[2] = c.r;
        }
    img->rebuildDisplay();
    return img;
}

OpStatus run(DibImage& img, const std::string& fx, const std::string& fy, const std::string& fz, float wr = 1,
             float wg = 1, float wb = 1, int inverse = 1) {
    TransformSettings s;
    s.formulaX = fx, s.formulaY = fy, s.formulaZ = fz;
    s.weightRed = wr, s.weightGreen = wg, s.weightBlue = wb, s.inverseTransform = inverse;
    return transformByFormula(img, s).status;
}

constexpr Rgb kBlack{0, 0, 0};

TEST(TransformByFormula, DefaultsLeaveThePictureAsItWas) {
    auto img = gradient(7, 5);  // stride 24: three padding bytes per row
    const auto before = img->bits;
    ASSERT_EQ(run(*img, "x", "y", "0"), OpStatus::Changed);
    EXPECT_EQ(img->bits, before);
}

TEST(TransformByFormula, ShiftsLeftWithInverseAndRightWithForwardMapping) {
    const int w = 30, h = 4;
    auto original = gradient(w, h);
    for (int inverse : {1, 0}) {
        auto img = gradient(w, h);
        run(*img, "x+10", "y", "0", 1, 1, 1, inverse);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int from = inverse ? x + 10 : x - 10;
                const Rgb want = (from >= 0 && from < w) ? original->colourAt(from, y) : kBlack;
                ASSERT_EQ(img->colourAt(x, y), want) << "inverse " << inverse << " at " << x << "," << y;
            }
    }
}

TEST(TransformByFormula, MirrorsWithNinetyNineMinusXOnAHundredColumns) {
    auto original = gradient(100, 2);
    auto img = gradient(100, 2);
    run(*img, "99-x", "y", "0");
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(img->colourAt(x, y), original->colourAt(99 - x, y));
}

// Pictures large enough to be transformed in row bands on several threads (inverse mapping) or
// in one scan (forward): a half turn with a weighted z gives the turned picture, each channel
// moved by its truncated share of z at the pixel the mapping starts from.
TEST(TransformByFormula, LargePicturesTurnAndRecolourEveryPixel) {
    const auto colour = [](int x, int y) { return Rgb{uint8_t(7 * x + y), uint8_t(x ^ y), uint8_t(200 - y)}; };
    for (auto [w, h] : {std::pair{123, 97}, std::pair{301, 64}})
        for (int inverse : {1, 0}) {
            auto original = gradient(w, h, colour);
            auto img = gradient(w, h, colour);
            run(*img, std::to_string(w - 1) + "-x", std::to_string(h - 1) + "-y", "(x-y)/4", 1, -0.5f, 0.25f, inverse);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const double z = inverse ? (x - y) / 4.0 : ((w - 1 - x) - (h - 1 - y)) / 4.0;
                    const auto moved = [z](uint8_t v, double weight) {
                        return uint8_t(std::clamp<int64_t>(v + int64_t(std::trunc(weight * z)), 0, 255));
                    };
                    const Rgb s = original->colourAt(w - 1 - x, h - 1 - y);
                    ASSERT_EQ(img->colourAt(x, y), (Rgb{moved(s.r, 1), moved(s.g, -0.5), moved(s.b, 0.25)}))
                        << w << " x " << h << (inverse ? " inverse" : " forward") << " at " << x << "," << y;
                }
        }
}

TEST(TransformByFormula, AddsWeightedZToTheChannelsWithClamping) {
    struct Case {
        const char* z;
        float wr, wg, wb;
        Rgb from, to;
    };
    const Case cases[] = {
        {"50", 1, 0, 0, {10, 20, 30}, {60, 20, 30}},
        {"50", 1, 0, 0, {230, 20, 30}, {255, 20, 30}},
        {"0-300", 1, 1, 1, {255, 200, 100}, {0, 0, 0}},
        {"3", 0.5f, 0.5f, 0.5f, {10, 20, 30}, {11, 21, 31}},      // 1.5 truncates to 1
        {"3", -0.5f, -1, 2, {10, 20, 30}, {9, 17, 36}},           // -1.5 truncates to -1
        {"2147483647", 1, 1, 1, {10, 20, 30}, {255, 255, 255}},   // channel + delta does not wrap
        {"10^10", 1, 0, 0, {10, 20, 30}, {0, 20, 30}},            // outside 32 bits: most negative
        {"(0-1)^0.5", 1, 1, 0, {10, 20, 30}, {0, 0, 0}},          // not a number, even times 0: most negative
    };
    for (const auto& c : cases) {
        auto img = test::make24({"aa"}, {{'a', c.from}});
        run(*img, "x", "y", c.z, c.wr, c.wg, c.wb);
        EXPECT_EQ(img->colourAt(1, 0), c.to) << c.z;
    }
}

TEST(TransformByFormula, ZSeesThePreviousPixelAndXYSeeTheCurrentOne) {
    const int w = 5, h = 3;
    auto img = gradient(w, h, [](int, int) { return Rgb{0, 0, 0}; });
    run(*img, "x", "y", "z+1", 1, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(img->colourAt(x, y).r, y * w + x + 1) << x << "," << y;

    // x' = z-1 with z' = z+1: at scan index i, z is i+1, so row 0 maps to itself and later rows fall outside.
    auto original = gradient(w, h);
    auto moved = gradient(w, h);
    run(*moved, "z-1", "y", "z+1", 0, 0, 0);
    for (int x = 0; x < w; ++x) {
        EXPECT_EQ(moved->colourAt(x, 0), original->colourAt(x, 0));
        EXPECT_EQ(moved->colourAt(x, 1), kBlack);
    }
}

TEST(TransformByFormula, TruncatesPositionsTowardZeroAndSkipsThoseOutside) {
    auto original = gradient(4, 3);
    auto img = gradient(4, 3);
    run(*img, "0-0.5", "y", "0");  // -0.5 truncates to 0: inside
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) ASSERT_EQ(img->colourAt(x, y), original->colourAt(0, y));

    auto far = gradient(4, 3);
    run(*far, "10^10", "y", "0");
    for (int x = 0; x < 4; ++x) EXPECT_EQ(far->colourAt(x, 1), kBlack);
}

TEST(TransformByFormula, DrawsRandomNumbersForZThenXThenY) {
    setRandomStateForTesting(1);  // draws 41, 18467, 6334, 26500, 19169, 15724
    auto img = gradient(2, 1, [](int, int) { return Rgb{0, 0, 0}; });
    run(*img, "x+rand(1)", "y+rand(1)", "rand(200)", 1, 0, 0);
    EXPECT_EQ(img->colourAt(0, 0).r, 41);
    EXPECT_EQ(img->colourAt(1, 0).r, 100);  // 26500 mod 200
}

TEST(TransformByFormula, InvalidFormulaOrWrongDepthLeavesThePictureUntouched) {
    for (const char* bad : {"x+", "", "2x", "sin 30"}) {
        auto img = gradient(3, 3);
        const auto before = img->bits;
        EXPECT_EQ(run(*img, "x", "y", bad), OpStatus::Refused) << bad;
        EXPECT_EQ(run(*img, bad, "y", "0"), OpStatus::Refused) << bad;
        EXPECT_EQ(img->bits, before) << bad;
    }
    auto indexed = test::makeIndexed(8, {"01"}, {{0, 0, 0}, {255, 255, 255}});
    const auto before = indexed->bits;
    EXPECT_EQ(run(*indexed, "x+1", "y", "0"), OpStatus::Refused);
    EXPECT_EQ(indexed->bits, before);
    DibImage empty;
    EXPECT_EQ(run(empty, "x", "y", "0"), OpStatus::Refused);
}

TEST(TransformByFormula, HeaderLargerThanThePixelBlockChangesNothing) {
    auto img = gradient(4, 4);
    auto h = img->header();
    h.biHeight = 400;
    img->setHeader(h);
    const auto before = img->bits;
    run(*img, "x+1", "y", "5");
    EXPECT_EQ(img->bits, before);
}

TEST(TransformByFormula, RewritesTheCallersBuffersIntoCompactForm) {
    auto img = gradient(3, 2);
    char fx[] = "max( x , 1 )", fy[] = "y", fz[] = "0";
    transformByFormula(*img, fx, fy, fz, 1, 1, 1, 1);
    EXPECT_STREQ(fx, "Bx,1)");
}

}  // namespace
}  // namespace qel
