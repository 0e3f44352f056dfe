// Line tidy and line tidy 2 on small drawings with exact results.
#include <gtest/gtest.h>

#include "core/lineart/lineart.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::Rows;

struct Case {
    const char* name;
    Rows in, out;
};

Rows tidied(const Rows& in, OpResult (*filter)(DibImage&)) {
    auto img = test::makeLineArt(in, {{'g', 230}});
    filter(*img);
    return test::lineArtRows(*img, {{230, 'g'}});
}

TEST(TidyLines, StepsAndBumps) {
    const Case cases[] = {
        {"straight and 45-degree strokes are left alone; an isolated pixel disappears",
         {"..........", ".#####....", "........#.", ".#.....#..", ".#....#...", ".#.#.#....", ".........."},
         {"..........", ".#####....", "........#.", ".#.....#..", ".#....#...", ".#...#....", ".........."}},
        {"V2: a pixel jutting out right of a vertical stroke moves back into it",
         {"......", "..#...", "..#...", "...#..", "..#...", "..#...", "......"},
         {"......", "..#...", "..#...", "..#...", "..#...", "..#...", "......"}},
        {"runs of 5, 1 and 3 down to the right become 3, 3 and 3",
         {".......", ".#.....", ".#.....", ".#.....", ".#.....", ".#.....", "..#....", "...#...", "...#...", "...#...", "......."},
         {".......", ".#.....", ".#.....", ".#.....", "..#....", "..#....", "..#....", "...#...", "...#...", "...#...", "......."}},
        {"V1 tie: the upper left arm gives its corner",
         {".........", ".#.......", ".#.......", ".#.......", "..#......", "...#.....", "...#.....", "...#.....", "........."},
         {".........", ".#.......", ".#.......", "..#......", "..#......", "...#.....", "...#.....", "...#.....", "........."}},
        {"V3 tie: the upper right arm gives its corner",
         {".........", "...#.....", "...#.....", "...#.....", "..#......", ".#.......", ".#.......", ".#.......", "........."},
         {".........", "...#.....", "...#.....", "..#......", "..#......", ".#.......", ".#.......", ".#.......", "........."}},
        {"H1 tie: the lower right arm gives its corner",
         {"..........", "..........", ".###......", "....#.....", ".....###..", "..........", ".........."},
         {"..........", "..........", ".###......", "....##....", "......##..", "..........", ".........."}},
        {"H3 tie: the upper right arm gives its corner",
         {"..........", "..........", ".....###..", "....#.....", ".###......", "..........", ".........."},
         {"..........", "..........", "......##..", "....##....", ".###......", "..........", ".........."}},
        {"H2 and H4: pixels jutting out below and above a horizontal stroke move back",
         {"..........", "....#.....", ".###.###..", "..........", ".###.###..", "....#.....", ".........."},
         {"..........", "..........", ".#######..", "..........", ".#######..", "..........", ".........."}},
        {"pixels of other colours are left alone",
         {"..........", ".###g###..", "..........", ".....g....", ".........."},
         {"..........", ".###g###..", "..........", ".....g....", ".........."}},
    };
    for (const auto& c : cases) EXPECT_EQ(tidied(c.in, tidyLines), c.out) << c.name;
}

TEST(TidyLines, LeavesThePictureAloneWithoutRedOrBlueInTheTable) {
    auto img = test::makeIndexed(8, {"....", ".1..", "...."}, {{255, 255, 255}, {0, 0, 0}}, {{'.', 0}}, true);
    const auto bits = img->bits;
    EXPECT_EQ(tidyLines(*img).status, OpStatus::Refused);
    EXPECT_EQ(img->bits, bits);
}

Rows blank12() { return Rows(12, "............"); }
Rows with(Rows r, std::initializer_list<std::pair<int, const char*>> rows) {
    for (auto [y, s] : rows) r[y] = s;
    return r;
}

TEST(TidyLines2, TemplatesRemoveBumpsFillNotchesAndErasesSpecks) {
    const Case cases[] = {
        {"group 1 a: a one-pixel bump on a line goes",
         with(blank12(), {{5, ".....#......"}, {6, "..########.."}}), with(blank12(), {{6, "..########.."}})},
        {"group 1 b: a two-pixel bump goes",
         with(blank12(), {{5, ".....##....."}, {6, "..########.."}}), with(blank12(), {{6, "..########.."}})},
        {"group 1 c: a one-pixel notch beside a line is filled",
         with(blank12(), {{5, "..###.####.."}, {6, "..########.."}}),
         with(blank12(), {{5, "..########.."}, {6, "..########.."}})},
        {"group 5: a black speck inside a white ring disappears",
         with(blank12(), {{5, "....###....."}, {6, "....###....."}, {7, "....#.#....."}}), blank12()},
        {"group 6: a three-pixel bump above a five-pixel line goes",
         with(blank12(), {{6, "....###....."}, {7, "..#######..."}}), with(blank12(), {{7, "..#######..."}})},
        {"group 6: the gap between two black ends above the line is filled",
         with(blank12(), {{5, "..#...#....."}, {6, "..#######..."}}),
         with(blank12(), {{5, "..#####....."}, {6, "..#######..."}})},
        {"group 7: a three-pixel bump right of a vertical line goes",
         with(blank12(), {{4, "......#....."}, {5, "......##...."}, {6, "......##...."}, {7, "......##...."},
                          {8, "......#....."}}),
         with(blank12(), {{4, "......#....."}, {5, "......#....."}, {6, "......#....."}, {7, "......#....."},
                          {8, "......#....."}})},
        {"a grey pixel in a line matches no template and stays",
         with(blank12(), {{5, ".....#......"}, {6, "..####g###.."}}),
         with(blank12(), {{5, ".....#......"}, {6, "..####g###.."}})},
        {"group 6 overwrites whatever lies in its three target pixels, grey included",
         with(blank12(), {{5, ".....g......"}, {6, "..########.."}}), with(blank12(), {{6, "..########.."}})},
        {"line work within four pixels of the top and left edges is not a current position",
         with(blank12(), {{1, ".#.........."}, {2, "####........"}}),
         with(blank12(), {{1, ".#.........."}, {2, "####........"}})},
    };
    for (const auto& c : cases) EXPECT_EQ(tidied(c.in, tidyLines2), c.out) << c.name;
}

TEST(TidyLines2, SmallPicturesAreOnlyReread) {
    auto img = test::makeIndexed(8, {"........", ".1.1....", "........"}, {{255, 255, 255}, {0, 0, 0}}, {{'.', 0}}, true);
    tidyLines2(*img);
    EXPECT_EQ(img->header().biClrUsed, 256u);
    EXPECT_EQ(test::lineArtRows(*img), (Rows{"........", ".#.#....", "........"}));
}

}  // namespace
}  // namespace qel
