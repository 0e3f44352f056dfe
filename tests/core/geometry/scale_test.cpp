#include <gtest/gtest.h>

#include "core/geometry/geometry.h"
#include "support/geometry_test_util.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::greyPicture;
using test::greyRows;
using test::pictureOf;

Rgb distinct(int x, int y) { return Rgb{uint8_t(10 * x + 1), uint8_t(20 * y + 2), uint8_t(x * 7 + y * 13)}; }

TEST(ScaleTest, SameSizeIsAnExactCopyOnEveryRoute) {
    for (bool interpolate : {false, true}) {
        auto img = pictureOf(5, 3, distinct);  // 5 wide: rows carry padding
        const auto before = img->bits;
        ASSERT_EQ(scaleByCommand(*img, 5, 3, interpolate).status, OpStatus::Changed);
        EXPECT_EQ(img->bits, before) << "interpolate " << interpolate;
    }
}

TEST(ScaleTest, EnlargingWithInterpolationAveragesTwoByTwoBlocksWithTruncatedRunningMean) {
    // Doubled picture (6 x 2) is 0 0 0 255 255 255 on both rows; the middle block
    // 0, 255, 0, 255 gives 0 -> 127 -> 84 -> 126, not the exact 127.
    auto img = greyPicture(2, 1, [](int x, int) { return x ? 255 : 0; });
    ASSERT_EQ(scaleByCommand(*img, 3, 1, true).status, OpStatus::Changed);
    EXPECT_EQ(greyRows(*img), (std::vector<std::vector<int>>{{0, 126, 255}}));
}

TEST(ScaleTest, RouteNeedsBothSidesSmallerForDirectAveraging) {
    struct Case { int w, h; bool interpolate; ScaleRoute route; };
    const Case cases[] = {
        {200, 150, true, ScaleRoute::Average},
        {200, 300, true, ScaleRoute::DoubledAverage},   // only the width shrinks
        {400, 100, true, ScaleRoute::DoubledAverage},   // only the height shrinks
        {400, 300, true, ScaleRoute::DoubledAverage},   // same size
        {800, 600, true, ScaleRoute::DoubledAverage},
        {200, 150, false, ScaleRoute::Nearest},
        {800, 600, false, ScaleRoute::Nearest},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scaleRoute(400, 300, c.w, c.h, c.interpolate), c.route) << c.w << "x" << c.h;
}

TEST(ScaleTest, ReducingOneSideWithInterpolationTakesTheDoublingRoute) {
    // 4 x 2 -> 2 x 2: the doubled picture is 4 x 4 (rows repeated), then 2 x 2 blocks of
    // columns 0,1 and 2,3: 0,100,0,100 -> 0,50,33,49 and 200,255,200,255 -> 200,227,218,227.
    auto img = greyPicture(4, 2, [](int x, int) { return std::array{0, 100, 200, 255}[x]; });
    ASSERT_EQ(scaleByCommand(*img, 2, 2, true).status, OpStatus::Changed);
    EXPECT_EQ(greyRows(*img), (std::vector<std::vector<int>>{{49, 227}, {49, 227}}));
}

TEST(ScaleTest, ReducingWithoutInterpolationKeepsRightMostBottomMostPixel) {
    auto img = greyPicture(4, 4, [](int x, int y) { return 10 * y + x; });
    ASSERT_EQ(scaleNearest(*img, 2, 2).status, OpStatus::Changed);
    EXPECT_EQ(greyRows(*img), (std::vector<std::vector<int>>{{11, 13}, {31, 33}}));
}

TEST(ScaleTest, AveragingKeepsARunningMeanTruncatedAtEverySample) {
    // 0, 255, 255: 0 -> 127 -> (254 + 255) / 3 = 169, where the exact mean is 170.
    auto img = greyPicture(3, 1, [](int x, int) { return x ? 255 : 0; });
    ASSERT_EQ(scaleAverage(*img, 1, 1).status, OpStatus::Changed);
    EXPECT_EQ(greyRows(*img), (std::vector<std::vector<int>>{{169}}));
}

TEST(ScaleTest, NewHeaderAndPaddedRowsFollowTheNewSize) {
    auto img = pictureOf(7, 5, distinct);
    ASSERT_EQ(scaleNearest(*img, 3, 2).status, OpStatus::Changed);
    const auto h = img->header();
    EXPECT_EQ(h.biWidth, 3);
    EXPECT_EQ(h.biHeight, 2);
    EXPECT_EQ(h.biSizeImage, 24u);  // rows of 9 bytes padded to 12
    EXPECT_EQ(img->bitsSize(), 24);
    EXPECT_EQ(img->infoSize(), 40);
    EXPECT_EQ(h.biXPelsPerMeter, 4740);
    for (int row = 0; row < 2; ++row)
        for (int k = 9; k < 12; ++k) EXPECT_EQ(img->bits[row * 12 + k], 0) << "padding row " << row;
    ASSERT_NE(img->displayBitmap, nullptr);
    EXPECT_EQ(img->displayBitmap->width, 3);
}

// Fast paths against the loops written the long way, on random pictures and sizes,
// including cells of more than 255 samples (the count is not limited).
TEST(ScaleTest, OperationsMatchReferenceLoopsOnRandomPictures) {
    std::mt19937 gen(7);
    struct Size { int ws, hs, wd, hd; };
    std::vector<Size> sizes = {{1, 1, 1, 1},   {1, 1, 9, 7},  {9, 7, 1, 1},    {40, 40, 1, 1}, {33, 17, 5, 3},
                               {5, 3, 33, 17}, {10, 10, 3, 19}, {13, 11, 13, 11}, {7, 9, 20, 4}, {64, 48, 7, 5},
                               {30, 20, 1, 1},  // 600 samples a pixel: past 255 the step is only the sign
                               {16, 4, 4, 1}, {64, 8, 16, 2}, {52, 12, 13, 3},  // four columns a pixel, to the row's end
                               {600, 400, 150, 130}};  // the last one large enough for bands on several threads
    std::uniform_int_distribution<int> side(1, 37);
    for (int i = 0; i < 40; ++i) sizes.push_back({side(gen), side(gen), side(gen), side(gen)});
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s.ws << "x" << s.hs << " -> " << s.wd << "x" << s.hd);
        auto src = test::randomPicture(s.ws, s.hs, gen);

        auto a = test::pictureOf(s.ws, s.hs, [&](int x, int y) { return src->colourAt(x, y); });
        ASSERT_EQ(scaleNearest(*a, s.wd, s.hd).status, OpStatus::Changed);
        EXPECT_EQ(a->bits, test::referenceNearest(*src, s.wd, s.hd));

        auto b = test::pictureOf(s.ws, s.hs, [&](int x, int y) { return src->colourAt(x, y); });
        ASSERT_EQ(scaleAverage(*b, s.wd, s.hd).status, OpStatus::Changed);
        EXPECT_EQ(b->bits, test::referenceAverage(*src, s.wd, s.hd));

        // The one-pass doubling route against nearest to twice the size, then averaging.
        auto c = test::pictureOf(s.ws, s.hs, [&](int x, int y) { return src->colourAt(x, y); });
        ASSERT_EQ(scaleDoubledAverage(*c, s.wd, s.hd).status, OpStatus::Changed);
        auto d = test::pictureOf(s.ws, s.hs, [&](int x, int y) { return src->colourAt(x, y); });
        ASSERT_EQ(scaleNearest(*d, 2 * s.wd, 2 * s.hd).status, OpStatus::Changed);
        ASSERT_EQ(scaleAverage(*d, s.wd, s.hd).status, OpStatus::Changed);
        EXPECT_EQ(c->bits, d->bits);
        EXPECT_EQ(c->info, d->info);
    }
}

TEST(ScaleTest, UnusablePicturesAndSizesChangeNothing) {
    using Op = OpResult (*)(DibImage&, int32_t, int32_t);
    for (Op op : {Op(scaleNearest), Op(scaleAverage), Op(scaleDoubledAverage)}) {
        auto indexed = test::makeIndexed(8, {"01", "10"}, {Rgb{0, 0, 0}, Rgb{255, 255, 255}});
        const auto bits8 = indexed->bits;
        EXPECT_EQ(op(*indexed, 4, 4).status, OpStatus::Refused);
        EXPECT_EQ(indexed->bits, bits8);

        DibImage empty;
        EXPECT_EQ(op(empty, 4, 4).status, OpStatus::Refused);

        auto shortRows = pictureOf(4, 4, distinct);
        shortRows->bits.resize(shortRows->bits.size() - 1);  // header claims more rows than there are
        EXPECT_EQ(op(*shortRows, 2, 2).status, OpStatus::Refused);

        auto img = pictureOf(4, 4, distinct);
        const auto before = img->bits;
        EXPECT_EQ(op(*img, 0, 4).status, OpStatus::Refused);
        EXPECT_EQ(op(*img, 4, -1).status, OpStatus::Refused);
        EXPECT_EQ(op(*img, 30000, 30000).status, OpStatus::Refused);  // beyond what a picture may hold
        EXPECT_EQ(img->bits, before);
        EXPECT_EQ(img->header().biWidth, 4);
    }
}

TEST(ScaleDialogTest, TypedSideCouplesTheOtherWithTruncation) {
    struct Case { int w, h; bool widthEdit; const char* typed; const char* other; int width, height; };
    const Case cases[] = {
        {400, 300, true, "200", "150", 200, 150},
        {401, 300, true, "200", "149", 200, 149},
        {400, 300, false, "150", "200", 200, 150},
        {400, 300, true, "abc", "0", 0, 0},
        {400, 300, true, "", "0", 0, 0},
        {400, 300, true, "-5", "0", 0, 0},
        {400, 300, true, " 40 ", "30", 40, 30},
    };
    for (const auto& c : cases) {
        auto s = ScaleDialogState::forPicture(c.w, c.h);
        std::optional<std::string> written;
        if (c.widthEdit) {
            s.widthFocused();
            written = s.widthTextChanged(c.typed);
        } else {
            s.heightFocused();
            written = s.heightTextChanged(c.typed);
        }
        ASSERT_TRUE(written.has_value()) << c.typed;
        EXPECT_EQ(*written, c.other) << c.typed;
        EXPECT_EQ(s.width, c.width) << c.typed;
        EXPECT_EQ(s.height, c.height) << c.typed;
    }
}

TEST(ScaleDialogTest, OnlyTheEditBeingTypedInCouplesAndOnlyWithKeepAspect) {
    auto s = ScaleDialogState::forPicture(400, 300);
    EXPECT_FALSE(s.widthTextChanged("200"));  // no edit has had the caret yet
    EXPECT_EQ(s.width, 400);
    s.widthFocused();
    ASSERT_TRUE(s.widthTextChanged("200"));
    EXPECT_FALSE(s.heightTextChanged("150"));  // the echo written into the height edit
    EXPECT_EQ(s.height, 150);

    s.keepAspectClicked();
    EXPECT_EQ(s.keepAspect, 0);
    EXPECT_FALSE(s.widthTextChanged("100"));
    EXPECT_EQ(s.width, 100);
    EXPECT_EQ(s.height, 150);
    s.keepAspectClicked();
    EXPECT_EQ(s.keepAspect, 1);
    EXPECT_EQ(s.widthTextChanged("100"), std::optional<std::string>("75"));
}

TEST(ScaleDialogTest, TypedTextReadsAsUnsignedOrZero) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"0", 0}, {"30000", 30000}, {"4294967295", 4294967295u}, {"4294967296", 0}, {"12x", 0},
        {"+3", 0}, {"1.5", 0}, {"\t7", 7}, {"   ", 0},
    };
    for (auto [text, value] : cases) EXPECT_EQ(readTypedUnsigned(text), value) << text;
}

}  // namespace
}  // namespace qel
