// Colour reduction for quality: pictures of few colours come back exactly; groups of colours any
// quantizer separates come back as their averages; the same bytes on any number of threads; and the
// dithering of tiny gradients, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "core/colour/quantize.h"
#include "core/image/parallel_rows.h"
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

// A picture of at most N colours keeps them exactly, even colours differing in the lowest bit only
// (which a quantizer reading a coarser histogram merges): the table holds them in the order first
// met from the top row, the rest grey, with or without dithering.
TEST(QuantizeColours, APictureOfAtMostNColoursKeepsThemExactly) {
    const Rgb a{10, 20, 30}, b{10, 20, 31}, c{11, 20, 30}, d{10, 21, 30};
    // 256 colours in a 16 x 16 square, each differing from the next in the lowest bits.
    Rows square(16, std::string(16, '#'));
    struct Case {
        const char* what;
        std::unique_ptr<DibImage> img;
        QuantizeSettings settings;
        std::vector<Rgb> table;  // the colours first met, from the top row
    };
    Case cases[] = {
        {"four colours, four asked", test::make24({"abcd", "dcba"}, {{'a', a}, {'b', b}, {'c', c}, {'d', d}}), {4, false}, {a, b, c, d}},
        {"the same, dithered", test::make24({"abcd", "dcba"}, {{'a', a}, {'b', b}, {'c', c}, {'d', d}}), {4, true}, {a, b, c, d}},
        {"two colours of 256, dithered", test::make24({"bbb", "baa"}, {{'a', a}, {'b', b}}), {256, true}, {b, a}},
        {"black and white, two asked", test::make24({"#.#", ".#."}), {2, false}, {{0, 0, 0}, {255, 255, 255}}},
        {"256 colours, 256 asked", test::make24(square), {256, true}, {}},
    };
    DibImage& many = *cases[4].img;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const int i = 16 * y + x;
            const Rgb colour{uint8_t(100 + (i & 3)), uint8_t(100 + ((i >> 2) & 3)), uint8_t(100 + (i >> 4))};
            uint8_t* p = many.rowFromTop(y) + 3 * x;
            p[0] = colour.b, p[1] = colour.g, p[2] = colour.r;
            cases[4].table.push_back(colour);
        }
    for (Case& k : cases) {
        const int w = k.img->header().biWidth, h = k.img->header().biHeight;
        std::vector<Rgb> before;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) before.push_back(k.img->colourAt(x, y));
        ASSERT_TRUE(quantizeColours(*k.img, k.settings).isChanged()) << k.what;
        ASSERT_EQ(k.img->bitCount(), 8) << k.what;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) EXPECT_EQ(k.img->colourAt(x, y), before[size_t(y * w + x)]) << k.what << " " << x << "," << y;
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(k.img->tableColour(i), size_t(i) < k.table.size() ? k.table[size_t(i)] : kGreyFill) << k.what << " " << i;
    }
}

// One colour more than asked for: the picture no longer keeps them all.
TEST(QuantizeColours, OneColourTooManyIsReduced) {
    auto img = test::make24({"abc"}, {{'a', {10, 20, 30}}, {'b', {10, 20, 31}}, {'c', {200, 20, 30}}});
    ASSERT_TRUE(quantizeColours(*img, {.colours = 2}).isChanged());
    // a and b become their average, (10, 20, 30.5) rounding up.
    const std::map<char, Rgb> shown = {{'m', {10, 20, 31}}, {'c', {200, 20, 30}}};
    EXPECT_EQ(test::colourRows(*img, shown), Rows({"mmc"}));
    EXPECT_EQ(img->tableColour(2), kGreyFill);
}

// A picture large enough to be shared among threads: smooth colours with a little hashed noise.
std::unique_ptr<DibImage> largePicture(int w, int h, uint32_t seed) {
    auto img = test::make24(Rows(size_t(h), std::string(size_t(w), '#')));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t n = (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u) ^ seed;
            n = (n ^ (n >> 13)) * 0x5bd1e995u;
            n ^= n >> 15;
            const int noise = int(n % 5) - 2;
            uint8_t* p = img->rowFromTop(y) + 3 * x;
            p[2] = uint8_t(std::clamp(x * 255 / w + noise, 0, 255));
            p[1] = uint8_t(std::clamp(y * 255 / h - noise, 0, 255));
            p[0] = uint8_t(std::clamp((x + y) / 4 + int(seed) * 20 + noise, 0, 255));
        }
    return img;
}

// The same picture gives the same bytes on one row thread, on two, three or all of them (as many
// as the machine has, up to 8), and beside another picture quantized at the same time.
TEST(QuantizeColours, SameBytesOnAnyNumberOfThreads) {
    struct RowThreads {  // the row-thread limit of this thread, put back after
        int before = rowThreadLimit();
        ~RowThreads() { rowThreadLimit() = before; }
    } keep;
    const QuantizeSettings settings[] = {{256, false}, {256, true}, {7, false}, {7, true}};
    for (const QuantizeSettings& s : settings) {
        SCOPED_TRACE(std::to_string(s.colours) + (s.dither ? " dithered" : ""));
        rowThreadLimit() = 1;
        auto one = largePicture(512, 256, 1);
        ASSERT_TRUE(quantizeColours(*one, s).isChanged());
        for (int threads : {2, 3, 0}) {
            rowThreadLimit() = threads;
            auto more = largePicture(512, 256, 1);
            ASSERT_TRUE(quantizeColours(*more, s).isChanged());
            EXPECT_TRUE(more->info == one->info && more->bits == one->bits) << threads << " threads";
        }
        // Beside other work: two pictures at once, each like the same picture alone.
        auto other = largePicture(512, 256, 2), otherAlone = largePicture(512, 256, 2), again = largePicture(512, 256, 1);
        ASSERT_TRUE(quantizeColours(*otherAlone, s).isChanged());
        std::thread beside([&] { quantizeColours(*other, s); });
        quantizeColours(*again, s);
        beside.join();
        EXPECT_TRUE(again->info == one->info && again->bits == one->bits);
        EXPECT_TRUE(other->info == otherAlone->info && other->bits == otherAlone->bits);
        EXPECT_FALSE(other->bits == one->bits);
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

// Floyd–Steinberg on tiny gradients, byte for byte: the indices (top row first, left to right, then
// back) and the table.
TEST(QuantizeColours, DithersTinyGradientsByteForByte) {
    std::map<char, Rgb> grey, warm;
    for (int i = 0; i < 16; ++i) {
        grey["0123456789abcdef"[i]] = Rgb{uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17)};
        warm["0123456789abcdef"[i]] = Rgb{uint8_t(255 - i * 8), uint8_t(i * 16), uint8_t(40)};
    }
    struct Case {
        const char* what;
        Rows rows;
        const std::map<char, Rgb>& colours;
        int count;
        Rows expected;
        std::vector<Rgb> table;
    };
    const Case cases[] = {
        // The averages of the halves, 59.5 and 195.5, rounded up; the error carried is at most 97
        // levels (2.5 times the palette's root-mean-square error, 39.0 a channel).
        {"grey ramp, two colours", Rows(4, "0123456789abcdef"), grey, 2,
         {"0000000101111111",
          "0000000010111111",
          "0000001011111111",
          "0000000010111111"},
         {{60, 60, 60}, {196, 196, 196}}},
        // The same ramp down a single column: every row one pixel, carried only downwards.
        {"grey ramp down a column, two colours",
         {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "a", "b", "c", "d", "e", "f"}, grey, 2,
         {"0", "0", "0", "0", "0", "0", "0", "1", "0", "1", "1", "1", "1", "1", "1", "1"},
         {{60, 60, 60}, {196, 196, 196}}},
        // Four, five and seven of the ramp's colours: 153 lies halfway between 102 and 204, and
        // goes to the lower index.
        {"grey ramp, three colours", Rows(3, "0123456789abcdef"), grey, 3,
         {"0000222221111111",
          "0000022212211111",
          "0002222221111111"},
         {{26, 26, 26}, {204, 204, 204}, {102, 102, 102}}},
        {"red to green, three colours", Rows(3, "0123456789abcdef"), warm, 3,
         {"1111112222202000",
          "1111121122220000",
          "1111112222200000"},
         {{147, 216, 40}, {231, 48, 40}, {183, 144, 40}}},
    };
    for (const Case& c : cases) {
        auto img = test::make24(c.rows, c.colours);
        ASSERT_TRUE(quantizeColours(*img, {.colours = c.count, .dither = true}).isChanged()) << c.what;
        EXPECT_EQ(test::indexRows(*img), c.expected) << c.what;
        std::vector<Rgb> table;
        for (int i = 0; i < 256 && !(img->tableColour(i) == kGreyFill); ++i) table.push_back(img->tableColour(i));
        EXPECT_EQ(table, c.table) << c.what;
    }
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
