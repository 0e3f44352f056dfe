// Carrying the working palette into pictures: table copy, organise,
// approximate, remap, fit, and the view's handling of the window's requests.
#include <gtest/gtest.h>

#include <random>

#include "core/colour/palette_ops.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::indexRows;
using test::makeIndexed;

std::vector<Rgb> tableOf(const DibImage& img) {
    std::vector<Rgb> t;
    for (int i = 0; i < img.tableSize(); ++i) t.push_back(img.tableColour(i));
    return t;
}

WorkingPalette paletteOf(const DibImage& img) {
    WorkingPalette pal;
    loadPaletteFromImage(pal, img);
    return pal;
}

// Every pixel's shown colour, top row first.
std::vector<uint32_t> shown(const DibImage& img) { return {img.displayBitmap->pixels.begin(), img.displayBitmap->pixels.end()}; }

constexpr Rgb kEmpty{205, 205, 205};

TEST(PaletteOpsGuards, WrongDepthOrCountLeavesPictureAlone) {
    struct Case {
        const char* name;
        int bitCount;
        int count;  // working palette N
    };
    const Case cases[] = {{"24-bit", 24, 16}, {"1-bit", 1, 2}, {"4-bit with N 17", 4, 17}, {"8-bit with N 257", 8, 257}};
    using Op = std::function<OpResult(DibImage&, const WorkingPalette&)>;
    const std::pair<const char*, Op> ops[] = {
        {"set", [](DibImage& i, const WorkingPalette& p) { return setColourTable(i, p); }},
        {"organise", [](DibImage& i, const WorkingPalette& p) { return organiseColours(i, p); }},
        {"approximate", [](DibImage& i, const WorkingPalette& p) { return approximateColours(i, p, 0); }},
        {"remap", [](DibImage& i, const WorkingPalette& p) { return remapColours(i, p); }},
    };
    for (const auto& c : cases) {
        for (const auto& [opName, op] : ops) {
            auto img = c.bitCount == 24 ? test::make24({"#."}) : makeIndexed(c.bitCount, {"01"}, {Rgb{1, 2, 3}, Rgb{4, 5, 6}});
            WorkingPalette pal;
            pal.count = c.count;
            pal.setEntry(0, {9, 9, 9});
            pal.setEntry(1, {1, 2, 3});
            const auto info = img->info;
        const auto bits = img->bits;
            EXPECT_EQ(op(*img, pal).status, OpStatus::Refused) << c.name << " " << opName;
            EXPECT_EQ(img->info, info) << c.name << " " << opName;
            EXPECT_EQ(img->bits, bits) << c.name << " " << opName;
        }
    }
    DibImage empty;
    WorkingPalette pal;
    pal.count = 1;
    EXPECT_EQ(setColourTable(empty, pal).status, OpStatus::Refused);
    EXPECT_EQ(organiseColours(empty, pal).status, OpStatus::Refused);
    EXPECT_EQ(approximateColours(empty, pal, 3).status, OpStatus::Refused);
    EXPECT_EQ(remapColours(empty, pal).status, OpStatus::Refused);
    EXPECT_EQ(fitToPalette(empty, pal).status, OpStatus::Refused);
}

TEST(SetColourTable, WritesLowBytesWithReservedZeroUpToN) {
    auto img = makeIndexed(8, {"0123"}, {Rgb{1, 1, 1}, Rgb{2, 2, 2}, Rgb{3, 3, 3}, Rgb{4, 4, 4}}, {}, true);
    for (int i = 0; i < 4; ++i) img->table()[4 * i + 3] = 0x77;
    WorkingPalette pal = paletteOf(*img);
    pal.count = 2;
    pal.setEntry(0, {300, -1, 255});
    pal.setEntry(1, {10, 20, 30});
    pal.setEntry(2, {50, 50, 50});  // beyond N
    ASSERT_EQ(setColourTable(*img, pal).status, OpStatus::Changed);
    const uint8_t* t = img->table();
    EXPECT_EQ(std::vector<uint8_t>(t, t + 16),
              (std::vector<uint8_t>{255, 255, 44, 0, 30, 20, 10, 0, 3, 3, 3, 0x77, 4, 4, 4, 0x77}));
    EXPECT_EQ(img->displayBitmap->colour(1, 0), (Rgb{10, 20, 30}));
}

TEST(SetColourTable, NeverWritesPastAShortTable) {
    // A working palette of 256 entries applied to a table of 100: nothing outside the block moves.
    auto img = makeIndexed(8, {"0z"}, std::vector<Rgb>(100, Rgb{1, 2, 3}), {{'z', 150}}, true);
    WorkingPalette pal;
    pal.count = 256;
    for (int i = 0; i < 256; ++i) pal.setEntry(i, {i, i, i});
    const auto bitsBefore = img->bits;
    setColourTable(*img, pal);
    EXPECT_EQ(img->infoSize(), 40 + 400);
    EXPECT_EQ(img->tableColour(99), (Rgb{99, 99, 99}));
    organiseColours(*img, pal);
    approximateColours(*img, pal, 0);
    remapColours(*img, pal);
    EXPECT_EQ(img->infoSize(), 40 + 400);
    EXPECT_EQ(img->bitsSize(), static_cast<int32_t>(bitsBefore.size()));
}

// Ten distinct colours, entries 3 and 7 both (10, 20, 30).
std::vector<Rgb> tenWithDuplicate() {
    std::vector<Rgb> t;
    for (int i = 0; i < 10; ++i) t.push_back(Rgb{uint8_t(40 + i), uint8_t(80 + i), uint8_t(120 + i)});
    t[3] = t[7] = Rgb{10, 20, 30};
    return t;
}

TEST(OrganiseColours, DuplicateAtSevenJoinsThreeAndLaterEntriesMoveUp) {
    auto img = makeIndexed(8, {"0123456789", "z987654321"}, tenWithDuplicate(), {{'z', 200}}, true);
    // Row padding (2 bytes per row) is rewritten too.
    for (int y = 0; y < 2; ++y) img->rowFromTop(y)[10] = 9, img->rowFromTop(y)[11] = 12;
    WorkingPalette pal = paletteOf(*img);
    ASSERT_EQ(pal.count, 10);
    ASSERT_EQ(organiseColours(*img, pal).status, OpStatus::Changed);

    EXPECT_EQ(indexRows(*img, {{200, 'z'}}), (test::Rows{"0123456378", "z873654321"}));
    EXPECT_EQ(img->rowFromTop(0)[10], 8);
    EXPECT_EQ(img->rowFromTop(0)[11], 12);  // N or more stays
    auto expected = tenWithDuplicate();
    expected.erase(expected.begin() + 7);
    expected.push_back(kEmpty);
    EXPECT_EQ(tableOf(*img), expected);
}

TEST(OrganiseColours, NothingToMergeChangesNothing) {
    auto t = tenWithDuplicate();
    t[7] = Rgb{1, 1, 1};
    auto img = makeIndexed(8, {"0123456789"}, t, {}, true);
    const auto info = img->info;
        const auto bits = img->bits;
    organiseColours(*img, paletteOf(*img));
    EXPECT_EQ(img->info, info);
    EXPECT_EQ(img->bits, bits);
}

TEST(OrganiseColours, EmptyColouredEntryDropsButItsPixelsKeepTheirColour) {
    const Rgb a{1, 2, 3}, b{7, 8, 9};
    auto img = makeIndexed(4, {"0123"}, {a, kEmpty, b, a, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty,
                                         kEmpty, kEmpty, kEmpty, kEmpty, kEmpty});
    organiseColours(*img, paletteOf(*img));
    EXPECT_EQ(indexRows(*img), (test::Rows{"0210"}));
    EXPECT_EQ(tableOf(*img)[0], a);
    EXPECT_EQ(tableOf(*img)[1], b);
    EXPECT_EQ(tableOf(*img)[2], kEmpty);
    EXPECT_EQ(img->displayBitmap->colour(1, 0), kEmpty);
}

TEST(OrganiseColours, NearMergeThenOrganiseSharesOneEntry) {
    auto img = makeIndexed(8, {"0123"}, {Rgb{100, 100, 100}, Rgb{50, 0, 0}, Rgb{102, 101, 100}, Rgb{0, 0, 9}}, {}, true);
    WorkingPalette pal = paletteOf(*img);
    mergeNearColours(pal, 5);
    runPaletteRequest(*img, pal, kRequestOrganise, nullptr);
    EXPECT_EQ(indexRows(*img), (test::Rows{"0102"}));
    EXPECT_EQ(tableOf(*img), (std::vector<Rgb>{Rgb{100, 100, 100}, Rgb{50, 0, 0}, Rgb{0, 0, 9}, kEmpty}));
    EXPECT_EQ(pal.entry(3), kEmptyPaletteColour);  // reloaded from the table
}

TEST(ApproximateColours, PrecisionBoundsTheSquaredDistance) {
    // Table entry 0 lies at d2 99 from working (107,107,101); entry 1 at d2 100 from (10,0,0).
    struct Case {
        int32_t precision;
        bool firstMoves, secondMoves;
    };
    const Case cases[] = {{10, true, false}, {11, true, true}, {0, true, true}, {9, false, false}, {50000, true, true}};
    for (const auto& c : cases) {
        auto img = makeIndexed(8, {"01"}, {Rgb{100, 100, 100}, Rgb{0, 0, 0}}, {}, true);
        WorkingPalette pal = paletteOf(*img);
        pal.setEntry(0, {107, 107, 101});
        pal.setEntry(1, {10, 0, 0});
        const auto bits = img->bits;
        approximateColours(*img, pal, c.precision);
        EXPECT_EQ(img->tableColour(0), c.firstMoves ? (Rgb{107, 107, 101}) : (Rgb{100, 100, 100})) << c.precision;
        EXPECT_EQ(img->tableColour(1), c.secondMoves ? (Rgb{10, 0, 0}) : (Rgb{0, 0, 0})) << c.precision;
        EXPECT_EQ(img->bits, bits);
    }
}

TEST(ApproximateColours, TiesGoToTheFirstWorkingEntry) {
    auto img = makeIndexed(8, {"0"}, {Rgb{10, 10, 10}, Rgb{0, 0, 0}, Rgb{0, 0, 0}}, {}, true);
    WorkingPalette pal = paletteOf(*img);
    pal.setEntry(0, {12, 10, 10});
    pal.setEntry(1, {8, 10, 10});
    pal.setEntry(2, {10, 12, 10});
    approximateColours(*img, pal, 0);
    EXPECT_EQ(img->tableColour(0), (Rgb{12, 10, 10}));
}

TEST(RemapColours, FourBitNibblesMapIndependently) {
    std::vector<Rgb> table;
    for (int i = 0; i < 16; ++i) table.push_back(Rgb{uint8_t(i * 16), uint8_t(i * 16), uint8_t(i * 16)});
    auto img = makeIndexed(4, {"3a"}, table);
    WorkingPalette pal = paletteOf(*img);
    for (int i = 0; i < 16; ++i) pal.setEntry(i, {255, 0, 0});
    pal.setEntry(0, {0, 0, 0});
    pal.setEntry(1, {48, 48, 48});     // table entry 3
    pal.setEntry(2, {160, 160, 160});  // table entry 10
    ASSERT_EQ(remapColours(*img, pal).status, OpStatus::Changed);
    EXPECT_EQ(img->bits[0], 0x12);
    EXPECT_EQ(img->bits[1], 0x00);  // padding: nibbles 0 map to entry 0
    EXPECT_EQ(img->tableColour(1), (Rgb{48, 48, 48}));
    EXPECT_EQ(img->tableColour(3), (Rgb{255, 0, 0}));
}

TEST(RemapColours, SortThenRemapKeepsThePictureWithSortedTable) {
    std::vector<Rgb> table;
    for (int i = 0; i < 256; ++i) table.push_back(Rgb{uint8_t((i * 37) % 256), uint8_t((i * 91) % 256), uint8_t((i * 13) % 64)});
    table[200] = table[10];  // equal colours go to the first of them
    auto img = makeIndexed(8, {"0"}, table);
    {
        // A 16 x 16 picture using every index once.
        auto h = newHeader(16, 16, 8, 0, 256);
        auto info = img->info;
        std::memcpy(info.data(), &h, 40);
        PixelBytes bits(256);
        for (int i = 0; i < 256; ++i) bits[i] = uint8_t(i);
        img->replace(info, bits);
    }
    const auto before = shown(*img);
    WorkingPalette pal = paletteOf(*img);
    sortPalette(pal);
    runPaletteRequest(*img, pal, kRequestRemap, [] { FAIL() << "remap takes no snapshot"; });
    EXPECT_EQ(shown(*img), before);
    for (int i = 0; i + 1 < 256; ++i) {
        const Rgb a = img->tableColour(i), b = img->tableColour(i + 1);
        EXPECT_LE(a.r + a.g + a.b, b.r + b.g + b.b) << i;
    }
    sortPalette(pal);
    runPaletteRequest(*img, pal, kRequestRemap, nullptr);
    EXPECT_EQ(shown(*img), before);
}

TEST(FitToPalette, NearestWorkingColoursShownAtOnceWithoutTouchingPixels) {
    auto img = makeIndexed(8, {"0123"}, {Rgb{10, 10, 10}, Rgb{250, 240, 250}, Rgb{200, 30, 30}, Rgb{20, 20, 20}}, {}, true);
    WorkingPalette pal;
    pal.count = 2;  // fit takes N from the picture
    pal.selected = 3;
    pal.setEntry(0, {0, 0, 0});
    pal.setEntry(1, {255, 255, 255});
    pal.setEntry(2, {255, 0, 0});
    pal.setEntry(3, {0, 0, 255});
    const auto bits = img->bits;
    ASSERT_EQ(fitToPalette(*img, pal).status, OpStatus::Changed);
    const DisplayBitmap* shownBitmap = img->displayBitmap.get();
    EXPECT_EQ(pal.count, 4);
    EXPECT_EQ(pal.selected, 0);
    EXPECT_EQ(tableOf(*img), (std::vector<Rgb>{Rgb{0, 0, 0}, Rgb{255, 255, 255}, Rgb{255, 0, 0}, Rgb{0, 0, 0}}));
    EXPECT_EQ(img->bits, bits);
    EXPECT_EQ(shownBitmap->colour(2, 0), (Rgb{255, 0, 0}));

    auto rgb = test::make24({"#"});
    const auto info = rgb->info;
    EXPECT_EQ(fitToPalette(*rgb, pal).status, OpStatus::Refused);
    EXPECT_EQ(rgb->info, info);
}

TEST(PaletteRequests, SnapshotsOnlyWhereTheViewTakesThem) {
    struct Case {
        PaletteRequest request;
        int snapshots;
        bool changes;
    };
    const Case cases[] = {{kRequestSetTable, 1, true},    {kRequestOrganise, 1, true}, {kRequestPreview, 0, true},
                          {kRequestApproximate, 1, true}, {kRequestRemap, 0, true},    {kRequestClose, 0, false},
                          {kRequestNone, 0, false},       {PaletteRequest(4711), 0, false}};
    for (const auto& c : cases) {
        auto img = makeIndexed(4, {"01"}, {Rgb{1, 2, 3}, Rgb{4, 5, 6}});
        WorkingPalette pal = paletteOf(*img);
        int snapshots = 0;
        const OpResult r = runPaletteRequest(*img, pal, c.request, [&] { ++snapshots; });
        EXPECT_EQ(snapshots, c.snapshots) << c.request;
        EXPECT_EQ(r.isChanged(), c.changes) << c.request;
    }
}

TEST(PaletteRequests, RightPressShowsCheckColourReleaseSnapshotsOnceAndRestores) {
    auto img = makeIndexed(4, {"01"}, {Rgb{1, 2, 3}, Rgb{4, 5, 6}});
    WorkingPalette pal = paletteOf(*img);
    std::vector<std::vector<uint8_t>> snapshots;
    auto snap = [&] { snapshots.push_back(img->info); };
    ASSERT_TRUE(beginCheckPreview(pal, 1));
    runPaletteRequest(*img, pal, kRequestPreview, snap);
    EXPECT_EQ(img->displayBitmap->colour(1, 0), (Rgb{255, 255, 255}));
    ASSERT_TRUE(endCheckPreview(pal));
    runPaletteRequest(*img, pal, kRequestSetTable, snap);
    ASSERT_EQ(snapshots.size(), 1u);
    // The snapshot holds the picture as it stood: still showing the check colour.
    EXPECT_EQ(snapshots[0][40 + 4 + 2], 255);
    EXPECT_EQ(img->tableColour(1), (Rgb{4, 5, 6}));
    EXPECT_EQ(img->displayBitmap->colour(1, 0), (Rgb{4, 5, 6}));
}

TEST(PaletteRequests, ApproximateUsesKeptPrecisionAndReloads) {
    auto img = makeIndexed(8, {"01"}, {Rgb{100, 100, 100}, Rgb{0, 0, 0}}, {}, true);
    WorkingPalette pal = paletteOf(*img);
    pal.setEntry(0, {107, 107, 101});
    pal.setEntry(1, {10, 0, 0});
    prepareApproximate(pal, 10);
    runPaletteRequest(*img, pal, kRequestApproximate, nullptr);
    EXPECT_EQ(pal.entry(0), (PaletteColour{107, 107, 101}));
    EXPECT_EQ(pal.entry(1), (PaletteColour{0, 0, 0}));  // the table's colour, reloaded
}

TEST(PaletteOpsRobustness, AnyPaletteOnAnyTableStaysInsideTheBlocks) {
    std::mt19937 rng(17);
    const int32_t extremes[] = {INT32_MIN, -1, 0, 205, 255, 256, INT32_MAX};
    for (int depth : {4, 8}) {
        for (int entries : {0, 1, 5, 16, 100, 256}) {
            for (int count : {-3, 0, 1, 5, 16, 17, 256, 300}) {
                std::vector<Rgb> table;
                for (int i = 0; i < entries; ++i) table.push_back(Rgb{uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
                auto img = makeIndexed(depth, {"0123456789abcdef", "fedcba9876543210"}, table, {}, true);
                for (auto& b : img->bits) b = uint8_t(rng());
                WorkingPalette pal;
                for (int i = 0; i < 256; ++i)
                    pal.setEntry(i, {extremes[rng() % 7], int32_t(rng() % 300), extremes[rng() % 7]});
                const auto infoSize = img->info.size(), bitsSize = img->bits.size();
                for (PaletteRequest request : {kRequestSetTable, kRequestOrganise, kRequestPreview, kRequestApproximate, kRequestRemap}) {
                    pal.count = count;
                    pal.precision = int32_t(rng() % 60000);
                    runPaletteRequest(*img, pal, request, nullptr);
                    mergeNearColours(pal, int32_t(rng() % kMaxMergeDistance));
                    sortPalette(pal);
                }
                fitToPalette(*img, pal);
                EXPECT_LE(pal.count, entries);
                EXPECT_EQ(img->info.size(), infoSize);
                EXPECT_EQ(img->bits.size(), bitsSize);
            }
        }
    }
}

}  // namespace
}  // namespace qel
