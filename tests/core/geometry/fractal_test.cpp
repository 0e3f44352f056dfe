#include <gtest/gtest.h>

#include "core/geometry/geometry.h"
#include "support/geometry_test_util.h"
#include "support/text_image.h"

namespace qel {
namespace {

OpStatus fractal(DibImage& img) {
    return drawFractal(img, kFractalStepX, kFractalStepY, kFractalConstant, kFractalIterations).status;
}

TEST(FractalTest, TopRowsAndWideColumnsAreBlackWhitesOnlyNearTheLeftFurtherDown) {
    auto img = test::greyPicture(61, 200, [](int, int) { return 128; });
    ASSERT_EQ(fractal(*img), OpStatus::Changed);
    int firstWhiteRow = -1, rightMostWhite = -1;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 61; ++x) {
            const Rgb c = img->colourAt(x, y);
            ASSERT_TRUE(c == (Rgb{0, 0, 0}) || c == (Rgb{255, 255, 255})) << x << "," << y;
            if (c.r == 255) {
                if (firstWhiteRow < 0) firstWhiteRow = y;
                rightMostWhite = std::max(rightMostWhite, x);
            }
        }
    EXPECT_EQ(img->colourAt(0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(firstWhiteRow, 185);  // v = y * b must reach about 0.18 first
    EXPECT_EQ(img->colourAt(17, 185), (Rgb{255, 255, 255}));
    EXPECT_LE(rightMostWhite, 50);  // x * a well above 2 escapes at once
    EXPECT_EQ(img->displayBitmap->colour(17, 185), (Rgb{255, 255, 255}));
}

TEST(FractalTest, DependsOnlyOnTheSizeAndKeepsRowPadding) {
    std::mt19937 gen(3);
    auto a = test::randomPicture(5, 190, gen);
    auto b = test::greyPicture(5, 190, [](int, int) { return 0; });
    for (auto* img : {a.get(), b.get()})
        for (int row = 0; row < 190; ++row) std::fill_n(img->bits.begin() + row * 16 + 15, 1, uint8_t(0xAB));
    ASSERT_EQ(fractal(*a), OpStatus::Changed);
    ASSERT_EQ(fractal(*b), OpStatus::Changed);
    EXPECT_EQ(a->bits, b->bits);
    EXPECT_EQ(a->bits[15], 0xAB);
    EXPECT_EQ(a->header().biWidth, 5);
}

TEST(FractalTest, UnusablePicturesAreLeftAlone) {
    auto indexed = test::makeIndexed(8, {"01"}, {Rgb{0, 0, 0}, Rgb{255, 255, 255}});
    const auto before = indexed->bits;
    EXPECT_EQ(fractal(*indexed), OpStatus::Refused);
    EXPECT_EQ(indexed->bits, before);
    auto cut = test::greyPicture(4, 4, [](int, int) { return 9; });
    cut->bits.resize(20);
    EXPECT_EQ(fractal(*cut), OpStatus::Refused);
    DibImage empty;
    EXPECT_EQ(fractal(empty), OpStatus::Refused);
}

}  // namespace
}  // namespace qel
