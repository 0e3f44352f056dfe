// Colour reduction for quality: which palette the quantizer picks is its own affair, so the
// pictures here have groups of colours any quantizer separates; the tests check what comes back.
#include <gtest/gtest.h>

#include "core/colour/quantize.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::Rows;

// The number of places where a row's index changes from one pixel to the next.
int changes(const Rows& rows) {
    int n = 0;
    for (const auto& row : rows)
        for (size_t x = 1; x < row.size(); ++x) n += row[x] != row[x - 1];
    return n;
}

TEST(QuantizeColours, GivesEachPixelTheAverageOfItsGroup) {
    const std::map<char, Rgb> four = {{'r', {200, 30, 10}}, {'g', {20, 180, 40}}, {'b', {10, 20, 230}}, {'y', {250, 240, 5}}};
    // Dark a, b, c against light d, e: the two colours are their rounded averages, (63, 66, 60) / 6
    // (10.5 rounding up) and (490, 484, 480) / 2.
    const std::map<char, Rgb> groups = {{'a', {10, 10, 10}}, {'b', {13, 10, 10}}, {'c', {10, 16, 10}},
                                        {'d', {240, 240, 240}}, {'e', {250, 244, 240}}};
    const std::map<char, Rgb> averages = {{'D', {11, 11, 10}}, {'L', {245, 242, 240}}};
    struct Case {
        const char* what;
        Rows rows;
        const std::map<char, Rgb>& colours;
        QuantizeSettings settings;
        Rows expected;  // by the colours of `shown`
        const std::map<char, Rgb>& shown;
        size_t used;
    };
    const Case cases[] = {
        {"four colours of 256 come back", {"rrgg", "rrgg", "bbyy", "byyy", "rgby"}, four, {256, false},
         {"rrgg", "rrgg", "bbyy", "byyy", "rgby"}, four, 4},
        {"the same, dithered", {"rrgg", "rrgg", "bbyy", "byyy", "rgby"}, four, {256, true},
         {"rrgg", "rrgg", "bbyy", "byyy", "rgby"}, four, 4},
        {"two groups in two colours", {"aadb", "ceaa"}, groups, {2, false}, {"DDLD", "DLDD"}, averages, 2},
    };
    for (const Case& c : cases) {
        auto img = test::make24(c.rows, c.colours);
        ASSERT_TRUE(quantizeColours(*img, c.settings).isChanged()) << c.what;
        EXPECT_EQ(img->bitCount(), 8) << c.what;
        EXPECT_EQ(img->tableSize(), 256) << c.what;
        EXPECT_EQ(img->header().biSizeImage, uint32_t(img->bitsSize())) << c.what;
        EXPECT_EQ(test::colourRows(*img, c.shown), c.expected) << c.what;
        for (size_t i = c.used; i < 256; ++i) EXPECT_EQ(img->tableColour(int(i)), kGreyFill) << c.what << " " << i;
    }
}

TEST(QuantizeColours, DitheringSpreadsTheErrorOfARamp) {
    std::map<char, Rgb> grey;
    for (int i = 0; i < 16; ++i) grey["0123456789abcdef"[i]] = Rgb{uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17)};
    const Rows ramp(4, "0123456789abcdef");
    auto plain = test::make24(ramp, grey), dithered = test::make24(ramp, grey);
    ASSERT_TRUE(quantizeColours(*plain, {.colours = 2}).isChanged());
    ASSERT_TRUE(quantizeColours(*dithered, {.colours = 2, .dither = true}).isChanged());
    // Without dithering each row turns from dark to light once; with it, the middle mixes both.
    EXPECT_EQ(changes(test::indexRows(*plain)), 4);
    EXPECT_GT(changes(test::indexRows(*dithered)), 8);
}

TEST(QuantizeColours, RefusesAndLeavesThePictureAlone) {
    struct Case {
        const char* what;
        std::unique_ptr<DibImage> img;
        QuantizeSettings settings;
        const char* reason;
    };
    Case cases[] = {
        {"8-bit", test::makeIndexed(8, {"01"}, {{0, 0, 0}, {9, 9, 9}}), {}, kNeeds24Bit},
        {"one colour", test::make24({"#."}), {.colours = 1}, "needs 2 to 256 colours, not 1"},
        {"257 colours", test::make24({"#."}), {.colours = 257}, "needs 2 to 256 colours, not 257"},
        {"rows missing", test::make24({"#.", "#."}), {}, kNoPixelRows},
    };
    cases[3].img->bits.erase(cases[3].img->bits.begin() + 4, cases[3].img->bits.end());
    for (Case& c : cases) {
        const auto info = c.img->info;
        const auto bits = c.img->bits;
        const OpResult r = quantizeColours(*c.img, c.settings);
        EXPECT_TRUE(r.isRefused()) << c.what;
        EXPECT_EQ(r.reason, c.reason) << c.what;
        EXPECT_TRUE(c.img->info == info && c.img->bits == bits) << c.what;
    }
}

}  // namespace
}  // namespace qel
