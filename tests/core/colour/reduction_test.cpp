// Colour counting at 6 bits per channel and the reduction to 256 colours.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "core/colour/reduction.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::Rows;

// A 24-bit picture w x h whose pixels, top row first, are `colours` (the rest black).
std::unique_ptr<DibImage> picture(int w, int h, const std::vector<Rgb>& colours) {
    auto img = test::make24(Rows(h, std::string(w, '#')));
    for (size_t k = 0; k < colours.size(); ++k) {
        uint8_t* p = img->rowFromTop(int(k / w)) + 3 * (k % w);
        p[0] = colours[k].b; p[1] = colours[k].g; p[2] = colours[k].r;
    }
    img->rebuildDisplay();
    return img;
}

Rgb pixel(const DibImage& img, int k) { return img.colourAt(k % img.header().biWidth, k / img.header().biWidth); }

int fine(int r6, int g6, int b6) { return (r6 * 64 + g6) * 64 + b6; }
uint8_t expand(int v6) { return uint8_t(4 * v6 + (v6 >> 4)); }

// One colour inside each coarse cell: offset 2 of 8 on every axis at 6 bits.
Rgb cellColour(int r3, int g3, int b3) { return Rgb{uint8_t(r3 * 32 + 8), uint8_t(g3 * 32 + 8), uint8_t(b3 * 32 + 8)}; }
Rgb cellColourReduced(int r3, int g3, int b3) { return Rgb{expand(8 * r3 + 2), expand(8 * g3 + 2), expand(8 * b3 + 2)}; }

TEST(CountColours, CountsDistinctSixBitColoursOfThePixelsOnly) {
    struct Case { const char* what; std::unique_ptr<DibImage> img; int32_t count; };
    std::vector<Case> cases;
    // Width 5: three padding bytes a row, all holding another index.
    cases.push_back({"8-bit, one entry used", test::makeIndexed(8, {"77777", "77777"}, std::vector<Rgb>(16, Rgb{9, 9, 9})), 1});
    for (int r = 0; r < 2; ++r) for (int i = 5; i < 8; ++i) cases.back().img->bits[r * 8 + i] = uint8_t(i);
    cases.back().img->setTableColour(5, {200, 0, 0});
    cases.push_back({"entries differing in the low two bits",
                     test::makeIndexed(8, {"0101"}, {{100, 100, 100}, {103, 101, 102}}), 1});
    cases.push_back({"entries differing in bit 2", test::makeIndexed(8, {"01"}, {{100, 100, 100}, {104, 100, 100}}), 2});
    // Width 3 at 4 bits: the fourth nibble of the byte is padding.
    cases.push_back({"4-bit nibbles", test::makeIndexed(4, {"012", "210"}, {{0, 0, 0}, {80, 0, 0}, {0, 80, 0}, {0, 0, 80}}), 3});
    cases.back().img->bits[1] |= 0x03;
    cases.push_back({"24-bit, padding not counted", picture(1, 2, {{10, 10, 10}, {10, 10, 10}}), 1});
    cases.back().img->bits[3] = 200;
    cases.push_back({"24-bit, six-bit merging", picture(3, 1, {{0, 0, 0}, {3, 3, 3}, {4, 0, 0}}), 2});
    cases.push_back({"index beyond a short table reads black", test::makeIndexed(8, {"05"}, {{0, 0, 0}, {50, 50, 50}}, {}, true), 1});
    cases.push_back({"no pixels", picture(2, 2, {}), 0});
    { auto h = cases.back().img->header(); h.biWidth = 0; cases.back().img->setHeader(h); }
    cases.push_back({"rows missing", picture(2, 2, {}), 0});
    { auto& bits = cases.back().img->bits; bits.erase(bits.begin() + 4, bits.end()); }
    for (auto& c : cases) {
        EXPECT_EQ(countColours(*c.img), c.count) << c.what;
        EXPECT_EQ(c.img->colourCount, c.count) << c.what;
    }
}

TEST(CountColours, FillsTheHistogramRedSlowest) {
    auto img = picture(3, 1, {{200, 10, 100}, {200, 10, 100}, {0, 0, 255}});
    EXPECT_EQ(countColours(*img), 2);
    EXPECT_EQ(img->histogram[fine(50, 2, 25)], 2);
    EXPECT_EQ(img->histogram[fine(0, 0, 63)], 1);
    // A later count starts afresh.
    auto other = picture(1, 1, {{0, 0, 0}});
    other->histogram = img->histogram;
    EXPECT_EQ(countColours(*other), 1);
    EXPECT_EQ(other->histogram[fine(50, 2, 25)], 0);
}

TEST(CountColours, OneBitPicturesCountTwoWithoutTouchingTheHistogram) {
    auto img = test::makeIndexed(1, {"0000"}, {{0, 0, 0}, {255, 255, 255}});
    img->histogram.assign(kHistogramCells, 0);  // left over from an earlier count
    img->histogram[5] = 7;
    img->colourCount = 42;
    EXPECT_EQ(countColours(*img), 2);
    EXPECT_EQ(img->histogram[5], 7);
    EXPECT_EQ(img->colourCount, 42);
}

TEST(ChooseRepresentatives, FillsACellFromDominantColourDenseSpotsThenFixedPoints) {
    // Cell (0, 0, 0): a 3x3x3 block of fine colours at offsets 1..3, the centre dominant.
    std::vector<int32_t> hist(kHistogramCells, 0);
    for (int r = 1; r <= 3; ++r)
        for (int g = 1; g <= 3; ++g)
            for (int b = 1; b <= 3; ++b) hist[fine(r, g, b)] = 1;
    hist[fine(2, 2, 2)] = 100;
    // Cell (1, 2, 3): one colour at offset (7, 7, 7), so the fixed points follow it.
    hist[fine(15, 23, 31)] = 1;
    const auto p = chooseRepresentatives(hist, 28, 1000);
    auto list = [&](int cell) { return std::vector<Rgb>(p.colours[cell].begin(), p.colours[cell].begin() + p.count[cell]); };
    auto six = [](int r, int g, int b) { return Rgb{expand(r), expand(g), expand(b)}; };
    // Dense spots: after a pick the scan resumes one step further on every axis.
    EXPECT_EQ(list(0), (std::vector<Rgb>{six(2, 2, 2), six(1, 1, 1), six(2, 3, 2), six(4, 2, 3), six(4, 4, 4)}));
    EXPECT_EQ(list((1 * 8 + 2) * 8 + 3), (std::vector<Rgb>{six(15, 23, 31), six(12, 20, 28), six(8, 16, 24),
                                                            six(8, 20, 24), six(12, 16, 24)}));
    int total = 0;
    for (int c = 0; c < kCoarseCells; ++c) total += p.count[c];
    EXPECT_EQ(total, 10);
}

TEST(ChooseRepresentatives, SpareSlotsGoToLowBlueCellsFirst) {
    // One fine colour in each of the 512 cells: every variety share truncates to 0.
    std::vector<int32_t> hist(kHistogramCells, 0);
    for (int c = 0; c < kCoarseCells; ++c) hist[fine(8 * (c >> 6) + 2, 8 * ((c >> 3) & 7) + 2, 8 * (c & 7) + 2)] = 1;
    const auto p = chooseRepresentatives(hist, 512, 1536);
    for (int c = 0; c < kCoarseCells; ++c) EXPECT_EQ(p.count[c], (c & 7) < 4 ? 1 : 0) << c;
}

TEST(ReduceColours, FewColoursComeBackAtSixBitPrecision) {
    auto img = picture(4, 2, {{200, 10, 100}, {200, 10, 100}, {30, 240, 60}, {30, 240, 60},
                              {200, 10, 100}, {30, 240, 60}, {200, 10, 100}, {30, 240, 60}});
    ASSERT_EQ(reduceColours(*img).status, OpStatus::Changed);
    const DisplayBitmap* shown = img->displayBitmap.get();
    EXPECT_EQ(pixel(*img, 0), (Rgb{203, 8, 101}));
    EXPECT_EQ(pixel(*img, 2), (Rgb{30 / 4 * 4, 240 / 4 * 4 + 3, 60 / 4 * 4}));
    EXPECT_EQ(shown->colour(0, 1), (Rgb{203, 8, 101}));
    // The histogram keeps the colours before the reduction.
    EXPECT_EQ(img->histogram[fine(50, 2, 25)], 4);
}

TEST(ReduceColours, ACellAboveTwoPercentOfThePixelBytesGetsASlot) {
    // 64 x 8 at 24 bits: 1536 bytes, so a cell needs more than 30.72 pixels.
    // Rows 0-6: one pixel in each cell with blue index below 7 (more cells than
    // spare slots); row 7: k pixels of a colour in cell (3, 3, 7), the rest spread.
    struct Case { int k; Rgb expect; };
    const Case cases[] = {{31, {101, 101, 251}}, {30, cellColourReduced(0, 0, 3)}};
    for (const auto& c : cases) {
        std::vector<Rgb> colours;
        for (int b = 0; b < 7; ++b)
            for (int r = 0; r < 8; ++r)
                for (int g = 0; g < 8; ++g) colours.push_back(cellColour(r, g, b));
        for (int i = 0; i < 64; ++i) colours.push_back(i < c.k ? Rgb{100, 100, 250} : colours[i]);
        auto img = picture(64, 8, colours);
        ASSERT_EQ(reduceColours(*img).status, OpStatus::Changed);
        // Without its own slot the cell takes the first occupied cell of the outward search.
        EXPECT_EQ(pixel(*img, 7 * 64), c.expect) << "k = " << c.k;
    }
}

TEST(ReduceColours, CellsWithoutSlotsTakeTheFirstOccupiedCellInSearchOrder) {
    std::vector<Rgb> colours;
    for (int c = 0; c < kCoarseCells; ++c) colours.push_back(cellColour(c >> 6, (c >> 3) & 7, c & 7));
    auto img = picture(32, 16, colours);
    ASSERT_EQ(reduceColours(*img).status, OpStatus::Changed);
    auto at = [&](int r3, int g3, int b3) { return pixel(*img, (r3 * 8 + g3) * 8 + b3); };
    struct Case { int r3, g3, b3; Rgb expect; };
    const Case cases[] = {
        {3, 3, 3, cellColourReduced(3, 3, 3)},  // own slot
        {3, 3, 4, cellColourReduced(2, 2, 3)},  // not the nearest cell (3, 3, 3)
        {0, 0, 4, cellColourReduced(0, 0, 3)},  // displacements outside the cube are skipped
        {5, 5, 6, cellColourReduced(2, 2, 3)},  // radius 3
        {7, 7, 7, cellColourReduced(3, 3, 3)},  // radius 4
    };
    for (const auto& c : cases) EXPECT_EQ(at(c.r3, c.g3, c.b3), c.expect) << c.r3 << c.g3 << c.b3;
}

TEST(ReduceColours, LeavesAtMost256ColoursOnAPhotoLikePicture) {
    std::mt19937 gen(99);
    std::vector<Rgb> colours;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 81; ++x)
            colours.push_back(Rgb{uint8_t(x * 3 + gen() % 8), uint8_t(y * 4 + gen() % 8), uint8_t((x + y) + gen() % 64)});
    auto img = picture(81, 60, colours);
    ASSERT_GT(countColours(*img), 256);
    img->bits[243] = 77;  // row padding
    ASSERT_EQ(reduceColours(*img).status, OpStatus::Changed);
    std::set<std::tuple<int, int, int>> distinct;
    for (int k = 0; k < 81 * 60; ++k) {
        Rgb c = pixel(*img, k);
        distinct.insert({c.r, c.g, c.b});
    }
    EXPECT_LE(distinct.size(), 256u);
    EXPECT_LE(countColours(*img), 256);
    EXPECT_EQ(img->bits[243], 77);
}

TEST(ReduceColours, EachPixelTakesTheFirstNearestRepresentativeOfItsCell) {
    // Many colours on every side of the boundaries between representatives' regions.
    std::mt19937 gen(7);
    std::vector<Rgb> colours;
    for (int k = 0; k < 120 * 90; ++k) colours.push_back(Rgb{uint8_t(gen()), uint8_t(gen() % 96), uint8_t(gen() % 64)});
    auto img = picture(120, 90, colours);
    const int32_t total = countColours(*img);
    const ReductionPalette palette = chooseRepresentatives(img->histogram, total, img->bitsSize());
    ASSERT_EQ(reduceColours(*img).status, OpStatus::Changed);
    int checked = 0;
    for (int k = 0; k < 120 * 90; ++k) {
        const Rgb c = colours[size_t(k)];
        const int cell = (c.r >> 5) * 64 + (c.g >> 5) * 8 + (c.b >> 5);
        if (palette.count[cell] == 0) continue;
        int best = 0, bestDistance = 1 << 30;
        for (int i = 0; i < palette.count[cell]; ++i) {
            const Rgb e = palette.colours[cell][i];
            const int d = (e.r - c.r) * (e.r - c.r) + (e.g - c.g) * (e.g - c.g) + (e.b - c.b) * (e.b - c.b);
            if (d < bestDistance) bestDistance = d, best = i;
        }
        ASSERT_EQ(pixel(*img, k), palette.colours[cell][best]) << "pixel " << k;
        ++checked;
    }
    EXPECT_GT(checked, 120 * 90 / 2);
}

TEST(ReduceColours, LeavesOtherDepthsAndEmptyPicturesAlone) {
    struct Case { const char* what; std::unique_ptr<DibImage> img; };
    std::vector<Case> cases;
    cases.push_back({"8-bit", test::makeIndexed(8, {"01"}, {{1, 2, 3}, {4, 5, 6}})});
    cases.push_back({"no pixels", picture(2, 2, {{1, 2, 3}})});
    { auto h = cases.back().img->header(); h.biHeight = 0; cases.back().img->setHeader(h); }
    for (auto& c : cases) {
        const auto info = c.img->info;
        const auto bits = c.img->bits;
        EXPECT_EQ(reduceColours(*c.img).status, OpStatus::Refused) << c.what;
        EXPECT_EQ(c.img->info, info) << c.what;
        EXPECT_EQ(c.img->bits, bits) << c.what;
    }
}

}  // namespace
}  // namespace qel
