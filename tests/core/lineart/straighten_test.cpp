// Straightening and segment drawing.
#include <gtest/gtest.h>

#include "core/lineart/lineart.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::Rows;

constexpr int kRed = 180;  // device table: pure red

struct SegmentCase {
    const char* name;
    int x0, y0, x1, y1;
    Rows out;
};

TEST(DrawSegment, PixelsFollowTheFloatSlopeAndSkipTheFarEnd) {
    const SegmentCase cases[] = {
        {"shallow, left to right: the right end is not drawn", 1, 1, 5, 3,
         {"........", ".##.....", "...##...", "........", "........", "........"}},
        {"shallow, right to left: the starting pixel is not drawn", 5, 3, 1, 1,
         {"........", ".##.....", "...##...", "........", "........", "........"}},
        {"steep, bottom to top: the starting pixel is not drawn", 3, 4, 2, 0,
         {"..#.....", "..#.....", "..#.....", "..#.....", "........", "........"}},
        {"45 degrees draws both ends", 1, 1, 4, 4,
         {"........", ".#......", "..#.....", "...#....", "....#...", "........"}},
        {"45 degrees leaves the top row undrawn", 3, 0, 0, 3,
         {"........", "..#.....", ".#......", "#.......", "........", "........"}},
        {"a single point draws nothing", 2, 2, 2, 2,
         {"........", "........", "........", "........", "........", "........"}},
        {"the slope is rounded to 32-bit float: 2 - 3 * float(1/3) truncates to 0", 6, 2, 0, 0,
         {"####....", "....##..", "........", "........", "........", "........"}},
        {"positions outside the picture are skipped", -4, -1, 12, 3,
         {"####....", "....####", "........", "........", "........", "........"}},
    };
    for (const auto& c : cases) {
        auto img = test::makeLineArt(Rows(6, "........"));
        drawSegment(*img, c.x0, c.y0, c.x1, c.y1, kDeviceBlack);
        EXPECT_EQ(test::lineArtRows(*img), c.out) << c.name;
        for (int y = 0; y < 6; ++y)
            for (int x = 8; x < img->stride(); ++x) EXPECT_EQ(img->rowFromTop(y)[x], 0) << c.name;
    }
}

struct StraightenCase {
    const char* name;
    int length;
    Rows in, out;
};

TEST(Straighten, StrokesBecomeSegments) {
    const StraightenCase cases[] = {
        {"a horizontal stroke is redrawn in segments; the walk's last pixel is not drawn", 3,
         {"............", "............", ".#########..", "............"},
         {"............", "............", ".########...", "............"}},
        {"a length longer than the stroke gives one segment", 50,
         {"..........", ".#........", "..#.......", "...####...", ".........."},
         {"..........", ".###......", "....##....", "..........", ".........."}},
        {"isolated pixels and closed loops vanish, other colours turn white", 3,
         {"..........", "..........", "...#......", "..#.#..r..", "...#......", "........#.", ".........."},
         {"..........", "..........", "..........", "..........", "..........", "..........", ".........."}},
        {"a junction sends a walk down each branch", 3,
         {"............", "......#.....", "......#.....", "......#.....", ".######.....", "......#.....",
          "......#.....", "......#.....", "............"},
         {"............", "......#.....", "......#.....", "......#.....", ".######.....", "......#.....",
          "......#.....", "............", "............"}},
    };
    for (const auto& c : cases) {
        auto img = test::makeLineArt(c.in, {{'r', kRed}});
        straighten(*img, c.length);
        EXPECT_EQ(test::lineArtRows(*img), c.out) << c.name;
    }
}

TEST(Straighten, EndsWhenAScanTurnsNothingGreen) {
    // Two red pixels side by side with a black pixel left of the first: the walk
    // from the first always takes its red neighbour and stops, so the black
    // neighbour is never used up.
    auto img = test::makeLineArt({".......", ".......", ".#RR...", ".......", "......."}, {{'R', kRed}});
    straighten(*img, 4);
    EXPECT_EQ(test::lineArtRows(*img), (Rows{".......", ".......", "..#....", ".......", "......."}));
}

TEST(Straighten, LeavesThePictureAloneWhenItCannotWork) {
    auto blackWhite = test::makeIndexed(8, {"....", ".11.", "...."}, {{255, 255, 255}, {0, 0, 0}}, {{'.', 0}}, true);
    auto tooShort = test::makeLineArt({"....", ".##.", "...."});
    auto deep = test::make24({"....", ".##.", "...."});
    for (auto* img : {blackWhite.get(), tooShort.get(), deep.get()}) {
        const auto bits = img->bits;
        const int length = img == tooShort.get() ? 0 : 3;
        EXPECT_NE(straighten(*img, length).status, OpStatus::Changed);
        EXPECT_EQ(img->bits, bits);
    }
}

TEST(Straighten, WalksStopAtThePictureEdgeAndIgnoreBlackPadding) {
    // A stroke running into the right edge of a 6-pixel-wide picture whose row
    // padding holds the black index.
    auto img = test::makeLineArt({"......", "......", ".#####", "......"});
    for (int y = 0; y < 4; ++y) img->rowFromTop(y)[6] = img->rowFromTop(y)[7] = kDeviceBlack;
    straighten(*img, 2);
    EXPECT_EQ(test::lineArtRows(*img), (Rows{"......", "......", ".####.", "......"}));
}

}  // namespace
}  // namespace qel
