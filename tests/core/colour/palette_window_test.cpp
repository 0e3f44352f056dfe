// The palette window's logic: filling from a picture, grid hit test, drag copy,
// history ring, check-colour preview, sort, fill and near-colour merge.
#include <gtest/gtest.h>

#include "core/colour/working_palette.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::makeIndexed;

// A palette of n entries whose entry i is (i, 2i mod 256, 255 - i).
WorkingPalette ramp(int n) {
    WorkingPalette pal;
    pal.count = n;
    for (int i = 0; i < n; ++i) pal.setEntry(i, PaletteColour{i, (2 * i) % 256, 255 - i});
    return pal;
}

std::vector<PaletteColour> entries(const WorkingPalette& pal) {
    std::vector<PaletteColour> out;
    for (int i = 0; i < pal.used(); ++i) out.push_back(pal.entry(i));
    return out;
}

std::vector<Rgb> greys(int n) {
    std::vector<Rgb> t;
    for (int i = 0; i < n; ++i) t.push_back(Rgb{uint8_t(i), uint8_t(i), uint8_t(i)});
    return t;
}

TEST(PaletteCount, FollowsDepthAndShortTables) {
    struct Case {
        const char* name;
        int bitCount;
        int tableEntries;
        bool clrUsed;
        uint32_t headerClrUsed;  // 0: as built
        int expected;
    };
    const Case cases[] = {
        {"8-bit full table", 8, 256, false, 0, 256},
        {"4-bit full table", 4, 16, false, 0, 16},
        {"8-bit table of 100", 8, 100, true, 0, 100},
        {"4-bit table of 5", 4, 5, true, 0, 5},
        // biClrUsed 65636 keeps 100 entries in the block (16-bit count); N must not exceed them.
        {"biClrUsed beyond the block", 8, 100, true, 65636, 100},
        {"1-bit picture", 1, 2, false, 0, 0},
    };
    for (const auto& c : cases) {
        auto img = makeIndexed(c.bitCount, {"00"}, greys(c.tableEntries), {}, c.clrUsed);
        if (c.headerClrUsed) {
            auto h = img->header();
            h.biClrUsed = c.headerClrUsed;
            img->setHeader(h);
        }
        EXPECT_EQ(paletteCountFor(*img), c.expected) << c.name;
    }
}

TEST(PaletteLoad, TakesRedGreenBlueFromTableAndSelectsFirst) {
    auto img = makeIndexed(4, {"01"}, {Rgb{1, 2, 3}, Rgb{40, 50, 60}});
    WorkingPalette pal;
    pal.selected = 7;
    loadPaletteFromImage(pal, *img);
    EXPECT_EQ(pal.count, 16);
    EXPECT_EQ(pal.selected, 0);
    EXPECT_EQ(pal.entry(0), (PaletteColour{1, 2, 3}));
    EXPECT_EQ(pal.entry(1), (PaletteColour{40, 50, 60}));
    EXPECT_EQ(pal.entry(15), (PaletteColour{0, 0, 0}));
    EXPECT_EQ(pal.entry(16), kEmptyPaletteColour);  // beyond N untouched
}

TEST(PaletteHitTest, GridGeometryAndLimits) {
    struct Case {
        int n, x, y, expected;
    };
    const Case cases[] = {
        {256, 3, 7, 0},      {256, 18, 23, 16},    {256, 19, 7, 1},   {256, 2, 7, -1},  {256, 3, 6, -1},
        {256, 258, 262, 255}, {256, 3, 263, -1},   {256, 260, 7, -1},
        {256, 259, 7, 16},   // column 16 is the first entry of the next row
        {16, 3, 21, 0},      {16, 3, 22, -1},     {16, 258, 7, 15},  {16, 259, 7, -1},
        {100, 3 + 16 * 3, 7 + 16 * 6, 99}, {100, 3 + 16 * 4, 7 + 16 * 6, -1}, {100, 3, 7 + 16 * 15, -1},
        {0, 3, 7, -1},
    };
    for (const auto& c : cases) {
        WorkingPalette pal;
        pal.count = c.n;
        EXPECT_EQ(paletteHitTest(pal, c.x, c.y), c.expected) << "N " << c.n << " at " << c.x << "," << c.y;
    }
    const GridSquare s = paletteSquare(17);
    EXPECT_EQ(s.left, 19);
    EXPECT_EQ(s.top, 23);
    EXPECT_EQ(s.right, 33);
    EXPECT_EQ(s.bottom, 37);
}

TEST(PaletteStatusLine, FormatsSelectedEntry) {
    WorkingPalette pal = ramp(256);
    pal.selected = 12;
    EXPECT_EQ(paletteStatusLine(pal), "R:   12 G:   24 B:  243  No:  12   ");
}

TEST(PaletteNearest, FirstEntryWithSmallestSumOfDifferences) {
    WorkingPalette pal;
    pal.count = 4;
    pal.setEntry(0, {0, 0, 0});
    pal.setEntry(1, {10, 10, 10});
    pal.setEntry(2, {12, 9, 10});
    pal.setEntry(3, {11, 10, 9});
    EXPECT_EQ(nearestEntryBySum(pal, Rgb{11, 10, 9}), 3);
    EXPECT_EQ(nearestEntryBySum(pal, Rgb{11, 10, 10}), 1);  // entries 1, 2 and 3 all at 1, 2, 1: first wins
    EXPECT_EQ(nearestEntryBySum(pal, Rgb{255, 255, 255}), 2);
}

TEST(PaletteDrag, CopiesColourKeepsSelectionAndSavesOneState) {
    WorkingPalette pal = ramp(256);
    const auto before = entries(pal);
    beginDrag(pal, 3);
    EXPECT_TRUE(endDrag(pal, 10));
    EXPECT_EQ(pal.entry(10), before[3]);
    EXPECT_EQ(pal.selected, 3);
    EXPECT_EQ(pal.historyPos, 1);
    EXPECT_FALSE(pal.dragging);

    undoHistory(pal);
    EXPECT_EQ(entries(pal), before);
    redoHistory(pal);
    EXPECT_EQ(pal.entry(10), before[3]);
}

TEST(PaletteDrag, DropOnItselfOrOffGridOrWithoutPressChangesNothing) {
    WorkingPalette pal = ramp(256);
    const auto before = entries(pal);
    beginDrag(pal, 5);
    EXPECT_FALSE(endDrag(pal, 5));
    beginDrag(pal, 5);
    EXPECT_FALSE(endDrag(pal, -1));
    EXPECT_FALSE(endDrag(pal, 9));  // release without a press
    EXPECT_EQ(entries(pal), before);
    EXPECT_EQ(pal.historyPos, 0);
}

TEST(PaletteHistory, FourUndosBringBackThePaletteBeforeThem) {
    WorkingPalette pal = ramp(16);
    beginDrag(pal, 1);
    endDrag(pal, 2);
    beginDrag(pal, 3);
    endDrag(pal, 4);
    const auto current = entries(pal);
    undoHistory(pal);
    EXPECT_NE(entries(pal), current);
    undoHistory(pal);
    undoHistory(pal);
    // The third undo reaches a bank never written: the grey fill.
    EXPECT_EQ(pal.entry(0), kEmptyPaletteColour);
    undoHistory(pal);
    EXPECT_EQ(entries(pal), current);
    EXPECT_EQ(pal.historyPos, 2);
}

TEST(PaletteHistory, CoversOnlyEntriesInUse) {
    WorkingPalette pal = ramp(256);
    pal.count = 8;
    saveHistory(pal);
    pal.setEntry(3, {1, 1, 1});
    pal.setEntry(20, {1, 1, 1});
    undoHistory(pal);
    EXPECT_EQ(pal.entry(3), ramp(256).entry(3));
    EXPECT_EQ(pal.entry(20), (PaletteColour{1, 1, 1}));
}

TEST(PaletteEdit, ColourDialogResultSavesHistory) {
    WorkingPalette pal = ramp(16);
    editEntry(pal, 4, {7, 8, 9});
    EXPECT_EQ(pal.entry(4), (PaletteColour{7, 8, 9}));
    undoHistory(pal);
    EXPECT_EQ(pal.entry(4), ramp(16).entry(4));
}

TEST(PaletteCheckPreview, PressShowsCheckColourReleaseRestores) {
    WorkingPalette pal = ramp(256);
    pal.check = {1, 2, 3};
    EXPECT_TRUE(beginCheckPreview(pal, 20));
    EXPECT_EQ(pal.selected, 20);
    EXPECT_EQ(pal.entry(20), (PaletteColour{1, 2, 3}));
    EXPECT_TRUE(endCheckPreview(pal));
    EXPECT_EQ(pal.entry(20), ramp(256).entry(20));
    EXPECT_EQ(pal.historyPos, 0);
}

TEST(PaletteCheckPreview, PressOffGridThenReleaseDoesNothing) {
    WorkingPalette pal = ramp(256);
    pal.selected = 9;
    EXPECT_FALSE(beginCheckPreview(pal, -1));
    EXPECT_FALSE(endCheckPreview(pal));
    EXPECT_EQ(entries(pal), entries(ramp(256)));
    EXPECT_EQ(pal.selected, 9);
}

TEST(PaletteCheckPreview, LostReleaseRestoresTheEarlierEntry) {
    WorkingPalette pal = ramp(256);
    pal.check = {1, 2, 3};
    beginCheckPreview(pal, 20);
    beginCheckPreview(pal, 30);
    EXPECT_EQ(pal.entry(20), ramp(256).entry(20));
    endCheckPreview(pal);
    EXPECT_EQ(entries(pal), entries(ramp(256)));
}

TEST(PaletteSort, AscendingBySumStableAndIdempotentWithoutHistory) {
    WorkingPalette pal;
    pal.count = 6;
    const PaletteColour in[] = {{90, 0, 0}, {0, 0, 30}, {0, 60, 0}, {10, 10, 10}, {0, 0, 0}, {30, 0, 0}};
    for (int i = 0; i < 6; ++i) pal.setEntry(i, in[i]);
    pal.setEntry(6, {0, 0, 0});  // beyond N: stays
    sortPalette(pal);
    const std::vector<PaletteColour> expected = {{0, 0, 0}, {0, 0, 30}, {10, 10, 10}, {30, 0, 0}, {0, 60, 0}, {90, 0, 0}};
    EXPECT_EQ(entries(pal), expected);
    sortPalette(pal);
    EXPECT_EQ(entries(pal), expected);
    EXPECT_EQ(pal.historyPos, 0);
    EXPECT_EQ(pal.entry(6), (PaletteColour{0, 0, 0}));
}

TEST(PaletteFill, SetsSelectedToLastEntryOnly) {
    WorkingPalette pal = ramp(256);
    pal.selected = 250;
    fillWithCheckColour(pal);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(pal.entry(i), i >= 250 ? kWhitePaletteColour : ramp(256).entry(i)) << i;
    undoHistory(pal);
    EXPECT_EQ(entries(pal), entries(ramp(256)));
}

TEST(PaletteMerge, DistanceDecidesByShareAndSquaredDistance) {
    struct Case {
        const char* name;
        PaletteColour first, second;
        int32_t distance;
        bool merged;
    };
    const Case cases[] = {
        {"distance 0 never merges", {100, 100, 100}, {100, 100, 100}, 0, false},
        {"near grey within 5", {100, 100, 100}, {102, 101, 100}, 5, true},
        {"same shares but d2 48 >= 25", {100, 100, 100}, {104, 104, 104}, 5, false},
        {"d2 4 but shares differ (black counts S as 1)", {0, 0, 0}, {2, 0, 0}, 5, false},
        {"shares just inside t", {200, 0, 0}, {199, 1, 0}, 2, true},
        {"a^2 above 2^31 still bounds", {0, 0, 0}, {255, 255, 255}, 46341, true},
        {"largest distance", {10, 10, 10}, {250, 250, 250}, kMaxMergeDistance, true},
    };
    for (const auto& c : cases) {
        WorkingPalette pal;
        pal.count = 3;
        pal.setEntry(0, c.first);
        pal.setEntry(1, c.second);
        pal.setEntry(2, {0, 0, 255});
        mergeNearColours(pal, c.distance);
        EXPECT_EQ(pal.entry(1), c.merged ? c.first : c.second) << c.name;
        EXPECT_EQ(pal.entry(0), c.first) << c.name;
        EXPECT_EQ(pal.historyPos, 1) << c.name;
    }
}

TEST(PaletteMerge, LaterEntriesFollowEarlierOnesAsTheyStand) {
    // Entry 1 joins entry 0; entry 2 is then compared with entry 1's new colour on its own turn too.
    WorkingPalette pal;
    pal.count = 3;
    pal.setEntry(0, {100, 100, 100});
    pal.setEntry(1, {102, 101, 100});
    pal.setEntry(2, {103, 101, 100});  // d2 from entry 0 is 10 < 25
    mergeNearColours(pal, 5);
    EXPECT_EQ(pal.entry(1), (PaletteColour{100, 100, 100}));
    EXPECT_EQ(pal.entry(2), (PaletteColour{100, 100, 100}));
}

TEST(PaletteApproximate, KeepsPrecisionAndSavesHistory) {
    WorkingPalette pal = ramp(8);
    prepareApproximate(pal, 10);
    EXPECT_EQ(pal.precision, 10);
    EXPECT_EQ(pal.historyPos, 1);
}

TEST(PaletteDistance, SaturatesForValuesFarOutsideTheByteRange) {
    EXPECT_EQ(squaredDistance(0, 0, 0, 3, 4, 0), 25u);
    EXPECT_EQ(squaredDistance(INT32_MIN, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX), UINT64_MAX);
    EXPECT_EQ(squaredDistance(INT32_MIN, 0, 0, INT32_MAX, 0, 0), 18446744065119617025ull);
}

}  // namespace
}  // namespace qel
