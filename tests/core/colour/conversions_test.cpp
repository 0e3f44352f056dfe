// Depth conversions: first-appearance tables, the 16-colour packing, grey, black and white.
#include <gtest/gtest.h>

#include <random>

#include "core/colour/conversions.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::Rows;

std::vector<Rgb> tableOf(const DibImage& img) {
    std::vector<Rgb> t;
    for (int i = 0; i < img.tableSize(); ++i) t.push_back(img.tableColour(i));
    return t;
}

// The conversion written the plain way: a linear search of the entries for every
// byte position, the nearest entry once the table is full, then the packing.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> referenceToIndexed(const DibImage& img, int colours) {
    const auto old = img.header();
    const int64_t w = old.biWidth, h = old.biHeight, s8 = (w + 3) & ~3;
    std::vector<Rgb> table;
    auto indexOf = [&](Rgb c) {
        for (size_t i = 0; i < table.size(); ++i)
            if (table[i] == c) return int(i);
        if (int(table.size()) < colours) {
            table.push_back(c);
            return int(table.size()) - 1;
        }
        int best = 0, bestD = 1 << 30;
        for (size_t i = 0; i < table.size(); ++i) {
            int dr = table[i].r - c.r, dg = table[i].g - c.g, db = table[i].b - c.b;
            if (dr * dr + dg * dg + db * db < bestD) { bestD = dr * dr + dg * dg + db * db; best = int(i); }
        }
        return best;
    };
    std::vector<uint8_t> inter(s8 * h, 0);
    if (old.biBitCount == 24) {
        const int64_t s24 = 3 * w + (w % 4);
        for (int64_t r = h - 1; r >= 0; --r)
            for (int64_t x = 0; x < w; ++x) {
                const uint8_t* p = img.bits.data() + r * s24 + 3 * x;
                inter[r * s8 + x] = uint8_t(indexOf(Rgb{p[2], p[1], p[0]}));
            }
    } else {
        for (size_t i = 0; i < inter.size(); ++i) inter[i] = uint8_t(indexOf(img.tableColour(img.bits[i])));
    }
    int32_t outWidth = int32_t(w);
    std::vector<uint8_t> bits = inter;
    if (colours == 16) {
        outWidth = w == 1 ? 1 : int32_t(((w & ~1) + 2) & ~3);
        const int64_t s4 = w == 1 ? 4 : ((w / 2 + 3) & ~3);
        bits.assign(s4 * h, 0);
        for (int64_t r = 0; r < h; ++r)
            for (int64_t i = 0; i < s4; ++i) {
                auto at = [&](int64_t x) { return x < s8 ? inter[r * s8 + x] : 0; };
                bits[r * s4 + i] = uint8_t(at(2 * i) * 16 + at(2 * i + 1));
            }
    }
    auto hd = newHeader(outWidth, int32_t(h), colours == 256 ? 8 : 4, colours, uint32_t(bits.size()));
    std::vector<uint8_t> info(40 + 4 * colours);
    std::memcpy(info.data(), &hd, 40);
    for (int i = 0; i < colours; ++i) {
        Rgb c = i < int(table.size()) ? table[i] : Rgb{205, 205, 205};
        info[40 + 4 * i] = c.b; info[41 + 4 * i] = c.g; info[42 + 4 * i] = c.r; info[43 + 4 * i] = 0;
    }
    return {info, bits};
}

// Random colours, or with `lattice` colours on a coarse lattice, where equal distances abound.
std::unique_ptr<DibImage> random24(std::mt19937& gen, int w, int h, int distinct, bool lattice = false) {
    std::vector<Rgb> pool(distinct);
    for (auto& c : pool)
        c = lattice ? Rgb{uint8_t(gen() % 9 * 30), uint8_t(gen() % 9 * 30), uint8_t(gen() % 9 * 30)}
                    : Rgb{uint8_t(gen()), uint8_t(gen()), uint8_t(gen())};
    Rows rows(h, std::string(w, ' '));
    auto img = test::make24(rows);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Rgb c = pool[gen() % distinct];
            uint8_t* p = img->rowFromTop(y) + 3 * x;
            p[0] = c.b; p[1] = c.g; p[2] = c.r;
        }
    img->rebuildDisplay();
    return img;
}

TEST(ToIndexed, MatchesThePlainAlgorithmOnRandomPictures) {
    std::mt19937 gen(12345);
    for (int round = 0; round < 120; ++round) {
        const int colours = round % 2 ? 16 : 256;
        // Pictures large enough for a full 256-entry table in many rounds.
        const int w = 1 + gen() % (colours == 256 ? 60 : 23), h = 1 + gen() % (colours == 256 ? 30 : 9);
        const int distinct = 1 + gen() % (round % 3 == 0 ? 600 : 24);
        std::unique_ptr<DibImage> img;
        if (round % 4 == 3) {
            // 8-bit with a table holding repeats and random padding bytes.
            std::vector<Rgb> table(256);
            for (auto& c : table) c = Rgb{uint8_t(gen() % 4 * 60), uint8_t(gen() % 5 * 50), uint8_t(gen() % 3 * 90)};
            img = test::makeIndexed(8, Rows(h, std::string(w, '0')), table);
            for (auto& b : img->bits) b = uint8_t(gen() % distinct);
        } else {
            img = random24(gen, w, h, distinct, round % 5 == 2);
        }
        auto expected = referenceToIndexed(*img, colours);
        ASSERT_EQ(toIndexed(*img, colours).status, OpStatus::Changed);
        EXPECT_EQ(img->info, expected.first) << "round " << round;
        EXPECT_EQ(img->bits, expected.second) << "round " << round;
    }
}

TEST(ToIndexed, LargePicturesMappedInParallelMatchThePlainAlgorithm) {
    // Large enough for the rows after the filling one to be mapped on several threads;
    // in the last case the table fills only in the lower half of the picture.
    std::mt19937 gen(777);
    struct Case { int colours, w, h, distinct; bool lattice, lateFill; };
    const Case cases[] = {{256, 517, 300, 5000, false, false}, {256, 431, 331, 700, true, false},
                          {16, 600, 260, 3000, false, false}, {256, 500, 300, 400, false, true}};
    for (const auto& c : cases) {
        auto img = random24(gen, c.w, c.h, c.distinct, c.lattice);
        if (c.lateFill)
            for (int y = 0; y < c.h * 6 / 10; ++y)
                for (int x = 0; x < c.w; ++x) {
                    uint8_t* p = img->rowFromTop(y) + 3 * x;
                    p[0] = uint8_t(x % 10), p[1] = uint8_t(y % 20), p[2] = 0;
                }
        auto expected = referenceToIndexed(*img, c.colours);
        ASSERT_EQ(toIndexed(*img, c.colours).status, OpStatus::Changed);
        EXPECT_EQ(img->info, expected.first) << c.colours << " " << c.w << "x" << c.h;
        EXPECT_EQ(img->bits, expected.second) << c.colours << " " << c.w << "x" << c.h;
    }
}

TEST(ToIndexed, ExactlyAsManyColoursAsEntriesConvertWithoutLossInFirstAppearanceOrder) {
    std::mt19937 gen(7);
    for (int colours : {256, 16}) {
        // Each colour once, in a shuffled order; the table must list them top row first.
        std::vector<Rgb> order(colours);
        for (int i = 0; i < colours; ++i) order[i] = Rgb{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
        std::shuffle(order.begin(), order.end(), gen);
        const int w = colours == 256 ? 16 : 4;
        auto img = test::make24(Rows(w, std::string(w, ' ')));
        for (int k = 0; k < colours; ++k) {
            uint8_t* p = img->rowFromTop(k / w) + 3 * (k % w);
            p[0] = order[k].b; p[1] = order[k].g; p[2] = order[k].r;
        }
        ASSERT_EQ(toIndexed(*img, colours).status, OpStatus::Changed);
        EXPECT_EQ(img->bitCount(), colours == 256 ? 8 : 4);
        EXPECT_EQ(tableOf(*img), order);
        for (int k = 0; k < colours; ++k) EXPECT_EQ(img->indexAt(k % w, k / w), k);
    }
}

TEST(ToIndexed, UnusedEntriesAreGreyAndTheGreyIsARealColourToo) {
    const Rgb grey{205, 205, 205}, red{255, 0, 0}, blue{0, 0, 255};
    for (int colours : {256, 16}) {
        auto img = test::make24({"rg", "bg"}, {{'r', red}, {'g', grey}, {'b', blue}});
        ASSERT_EQ(toIndexed(*img, colours).status, OpStatus::Changed);
        const auto hd = img->header();
        EXPECT_EQ(hd.biClrUsed, uint32_t(colours));
        EXPECT_EQ(img->tableSize(), colours);
        std::vector<Rgb> expect(colours, grey);
        expect[0] = red;
        expect[2] = blue;
        EXPECT_EQ(tableOf(*img), expect);
        EXPECT_EQ(test::indexRows(*img), colours == 256 ? (Rows{"01", "21"}) : (Rows{"0100", "2100"}));
    }
}

TEST(ToIndexed, WritesAFreshHeader) {
    struct Case { int colours; int width; int32_t outWidth; uint16_t bitCount; uint32_t sizeImage; };
    const Case cases[] = {{256, 5, 5, 8, 8 * 3}, {16, 5, 4, 4, 4 * 3}, {16, 10, 12, 4, 8 * 3}};
    for (const auto& c : cases) {
        auto img = test::make24(Rows(3, std::string(c.width, '#')));
        auto hd = img->header();
        hd.biXPelsPerMeter = 1; hd.biClrImportant = 9; hd.biSizeImage = 0;
        img->setHeader(hd);
        ASSERT_EQ(toIndexed(*img, c.colours).status, OpStatus::Changed);
        const auto out = img->header();
        EXPECT_EQ(out.biSize, 40u);
        EXPECT_EQ(out.biWidth, c.outWidth);
        EXPECT_EQ(out.biHeight, 3);
        EXPECT_EQ(out.biPlanes, 1);
        EXPECT_EQ(out.biBitCount, c.bitCount);
        EXPECT_EQ(out.biCompression, 0u);
        EXPECT_EQ(out.biSizeImage, c.sizeImage);
        EXPECT_EQ(img->bitsSize(), int32_t(c.sizeImage));
        EXPECT_EQ(out.biXPelsPerMeter, 4740);
        EXPECT_EQ(out.biYPelsPerMeter, 4740);
        EXPECT_EQ(out.biClrImportant, 0u);
        EXPECT_EQ(img->infoSize(), 40 + 4 * c.colours);
        ASSERT_NE(img->displayBitmap, nullptr);
        EXPECT_EQ(img->displayBitmap->width, c.outWidth);
    }
}

TEST(ToIndexed, EightBitSourceMergesRepeatsAndCountsPaddingInStorageOrder) {
    const Rgb x{10, 20, 30}, y{40, 50, 60}, pad{1, 2, 3};
    // Entries 1 and 3 hold the same colour; padding bytes index entry 2.
    auto img = test::makeIndexed(8, {"13", "30"}, {y, x, pad, x});
    for (int r = 0; r < 2; ++r) img->bits[r * 4 + 2] = img->bits[r * 4 + 3] = 2;
    ASSERT_EQ(toIndexed(*img, 16).status, OpStatus::Changed);
    // Storage order starts at the bottom row "30": x, y, then the padding.
    auto t = tableOf(*img);
    EXPECT_EQ(t[0], x);
    EXPECT_EQ(t[1], y);
    EXPECT_EQ(t[2], pad);
    EXPECT_EQ(t[3], (Rgb{205, 205, 205}));
    // Width 2 becomes 4: pixels 2 and 3 are the padding's index; the second half of the
    // 4-byte row would come from beyond the 4-byte intermediate row and is 0.
    EXPECT_EQ(img->header().biWidth, 4);
    EXPECT_EQ(test::indexRows(*img), (Rows{"0022", "0122"}));
    EXPECT_EQ(img->bits, (std::vector<uint8_t>{0x01, 0x22, 0, 0, 0x00, 0x22, 0, 0}));
}

TEST(ToIndexed, SixteenColourWidthsStridesAndPacking) {
    // Width rounded to the nearest multiple of 4, halves up; stride (w/2 + 3) & ~3.
    const std::pair<int, int> widths[] = {{1, 1}, {2, 4}, {3, 4}, {5, 4}, {6, 8}, {7, 8}, {9, 8}, {10, 12}, {13, 12}, {14, 16}};
    for (auto [w, w4] : widths) {
        EXPECT_EQ(sixteenColourWidth(w), w4) << w;
        if (w > 1) {
            EXPECT_EQ(strideFor(w4, 4), (w / 2 + 3) & ~3) << w;
        }
    }
    // Width 5: the fifth pixel lands in the row padding after the header's 4 pixels.
    std::map<char, Rgb> names{{'a', {1, 0, 0}}, {'b', {2, 0, 0}}, {'c', {3, 0, 0}}, {'d', {4, 0, 0}}, {'e', {5, 0, 0}}};
    auto five = test::make24({"abcde"}, names);
    ASSERT_EQ(toIndexed(*five, 16).status, OpStatus::Changed);
    EXPECT_EQ(five->bits, (std::vector<uint8_t>{0x01, 0x23, 0x40, 0x00}));
    // Width 6: pixels 6 and 7 of the new width 8 are 24-bit padding, index 0.
    auto six = test::make24({"abcdea", "eabcde"}, names);
    ASSERT_EQ(toIndexed(*six, 16).status, OpStatus::Changed);
    EXPECT_EQ(test::indexRows(*six), (Rows{"01234000", "40123400"}));
    // A 1-pixel-wide picture keeps width 1 and gets a 4-byte stride.
    auto one = test::make24({"b", "a", "b"}, names);
    ASSERT_EQ(toIndexed(*one, 16).status, OpStatus::Changed);
    EXPECT_EQ(one->header().biWidth, 1);
    EXPECT_EQ(one->bits, (std::vector<uint8_t>{0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(test::indexRows(*one), (Rows{"0", "1", "0"}));
}

TEST(ToIndexed, AFullTableGivesANewColourTheNearestEntryFirstOnTies) {
    // 16 colours fill the table; then one colour equally near entries 1 and 2, one nearest 15.
    Rows rows{"0123456789abcdef", "xyz............."};
    std::map<char, Rgb> names;
    for (int i = 0; i < 16; ++i) names["0123456789abcdef"[i]] = Rgb{uint8_t(i * 16), 0, 0};
    names['.'] = Rgb{0, 0, 0};
    names['x'] = Rgb{24, 0, 0};        // between 16 and 32
    names['y'] = Rgb{250, 0, 0};       // nearest 240
    names['z'] = Rgb{16, 1, 0};        // near 16 but new
    auto img = test::make24(rows, names);
    ASSERT_EQ(toIndexed(*img, 16).status, OpStatus::Changed);
    EXPECT_EQ(test::indexRows(*img), (Rows{"0123456789abcdef", "1f10000000000000"}));
}

TEST(ToIndexed, RefusesWhatItCannotConvertAndChangesNothing) {
    struct Case { const char* what; std::unique_ptr<DibImage> img; int colours; };
    std::vector<Case> cases;
    cases.push_back({"4-bit", test::makeIndexed(4, {"01"}, {{1, 1, 1}}), 16});
    cases.push_back({"1-bit", test::makeIndexed(1, {"01"}, {{1, 1, 1}}), 256});
    cases.push_back({"colour count 8", test::make24({"#."}), 8});
    cases.push_back({"no bits", test::make24({"#."}), 256});
    cases.back().img->bits.clear();
    cases.push_back({"rows missing", test::make24({"#.", ".#"}), 256});
    { auto& bits = cases.back().img->bits; bits.erase(bits.begin() + 8, bits.end()); }
    cases.push_back({"negative height", test::make24({"#."}), 16});
    { auto h = cases.back().img->header(); h.biHeight = -1; cases.back().img->setHeader(h); }
    for (auto& c : cases) {
        const auto info = c.img->info;
        const auto bits = c.img->bits;
        EXPECT_EQ(toIndexed(*c.img, c.colours).status, OpStatus::Refused) << c.what;
        EXPECT_EQ(c.img->info, info) << c.what;
        EXPECT_EQ(c.img->bits, bits) << c.what;
    }
}

TEST(ToGrey, TwentyFourBitPixelsTakeTheTruncatedAverageAndPaddingStays) {
    auto img = test::make24({"ab"}, {{'a', {255, 255, 254}}, {'b', {1, 0, 1}}});
    img->bits[6] = 77;  // row padding
    ASSERT_EQ(toGrey(*img).status, OpStatus::Changed);
    EXPECT_EQ(img->bits, (std::vector<uint8_t>{254, 254, 254, 0, 0, 0, 77, 0}));
}

TEST(ToGrey, RowsLongerThanSixteenPixelsKeepEachPixelsOwnGrey) {
    // The wide path takes 16 pixels at a time, the last two go the plain way.
    auto img = test::make24({"abcdefghijklmnopqr"},
                            {{'a', {0, 255, 254}}, {'b', {255, 255, 255}}, {'c', {255, 255, 254}}, {'d', {0, 0, 2}},
                             {'e', {60, 227, 78}}, {'f', {75, 220, 123}}, {'g', {90, 213, 178}}, {'h', {105, 206, 243}},
                             {'i', {120, 199, 62}}, {'j', {135, 192, 147}}, {'k', {150, 185, 242}}, {'l', {165, 178, 91}},
                             {'m', {180, 171, 206}}, {'n', {195, 164, 75}}, {'o', {210, 157, 210}},
                             {'p', {225, 150, 99}}, {'q', {240, 143, 254}}, {'r', {255, 136, 163}}});
    img->bits[54] = 5;  // row padding
    ASSERT_EQ(toGrey(*img).status, OpStatus::Changed);
    std::vector<uint8_t> expect;
    for (int g : {169, 255, 254, 0, 121, 139, 160, 184, 127, 158, 192, 144, 185, 144, 192, 158, 212, 184})
        expect.insert(expect.end(), 3, static_cast<uint8_t>(g));
    expect.insert(expect.end(), {5, 0});
    EXPECT_EQ(img->bits, expect);
}

TEST(ToGrey, IndexedPicturesGreyTheirTableAndKeepIndicesAndReservedBytes) {
    for (int depth : {8, 4}) {
        auto img = test::makeIndexed(depth, {"012", "210"}, {{255, 255, 254}, {30, 60, 91}, {0, 0, 2}});
        img->table()[3 + 4] = 9;  // reserved byte of entry 1
        const auto bits = img->bits;
        ASSERT_EQ(toGrey(*img).status, OpStatus::Changed);
        EXPECT_EQ(img->bits, bits);
        EXPECT_EQ(img->tableColour(0), (Rgb{254, 254, 254}));
        EXPECT_EQ(img->tableColour(1), (Rgb{60, 60, 60}));
        EXPECT_EQ(img->tableColour(2), (Rgb{0, 0, 0}));
        EXPECT_EQ(img->table()[7], 9);
    }
    // A short table is greyed as far as it goes.
    auto small = test::makeIndexed(8, {"01"}, {{3, 0, 0}, {0, 9, 0}}, {}, true);
    ASSERT_EQ(toGrey(*small).status, OpStatus::Changed);
    EXPECT_EQ(tableOf(*small), (std::vector<Rgb>{{1, 1, 1}, {3, 3, 3}}));
    // A 1-bit picture keeps its table.
    auto mono = test::makeIndexed(1, {"01"}, {{3, 0, 0}, {0, 9, 0}});
    ASSERT_EQ(toGrey(*mono).status, OpStatus::Changed);
    EXPECT_EQ(mono->tableColour(0), (Rgb{3, 0, 0}));
}

TEST(ToBlackWhite, EntriesBelowTheThresholdTurnBlackOthersWhite) {
    struct Case { int threshold; std::vector<Rgb> expect; };
    // Averages 127, 128, 0 and 255.
    const std::vector<Rgb> table{{127, 127, 127}, {128, 127, 129}, {0, 0, 0}, {255, 255, 255}};
    const Rgb k{0, 0, 0}, w{255, 255, 255};
    const Case cases[] = {
        {128, {k, w, k, w}}, {0, {w, w, w, w}}, {-1, {w, w, w, w}}, {255, {k, k, k, w}}, {1, {w, w, k, w}},
    };
    for (int depth : {8, 4})
        for (const auto& c : cases) {
            auto img = test::makeIndexed(depth, {"0123"}, table, {}, true);
            img->table()[3] = 5;
            const auto bits = img->bits;
            ASSERT_EQ(toBlackWhite(*img, c.threshold).status, OpStatus::Changed);
            EXPECT_EQ(tableOf(*img), c.expect) << "threshold " << c.threshold;
            EXPECT_EQ(img->table()[3], 5);
            EXPECT_EQ(img->bits, bits);
        }
}

TEST(ToBlackWhite, OtherDepthsAreLeftAloneAndShowTheCurrentPicture) {
    auto img = test::make24({"#."});
    const auto bits = img->bits;
    EXPECT_EQ(toBlackWhite(*img, 128).status, OpStatus::Refused);
    EXPECT_EQ(img->bits, bits);
    auto empty = test::make24({"#."});
    empty->info.clear();
    EXPECT_EQ(toBlackWhite(*empty, 128).status, OpStatus::Refused);
}

// Otsu's threshold splits two peaks (greys 30 and 40 against 180 and 200) just above the darker
// one: entry 4 (grey 40) turns black, the unused entry 5 (grey 41) white. One grey gets 128.
TEST(ToBlackWhite, AutoTakesOtsusThresholdOfThePixels) {
    const std::vector<Rgb> table{{30, 30, 30}, {180, 180, 180}, {200, 200, 200}, {0, 0, 0}, {40, 40, 40}, {41, 41, 41}};
    const Rgb k{0, 0, 0}, w{255, 255, 255};
    for (int depth : {8, 4}) {
        auto img = test::makeIndexed(depth, {"000444", "411122"}, table, {}, true);
        EXPECT_EQ(otsuThreshold(*img), 41) << depth;
        ASSERT_EQ(toBlackWhiteAuto(*img).status, OpStatus::Changed);
        EXPECT_EQ(tableOf(*img), std::vector<Rgb>({k, w, w, k, k, w})) << depth;
        EXPECT_EQ(otsuThreshold(*test::makeIndexed(depth, {"11", "11"}, table)), 128) << depth;
    }
}

}  // namespace
}  // namespace qel
