// The picture record's shared rules: strides, addressing, colour tables,
// display bitmaps, the device table, restore and the 8-bit re-read.
#include <gtest/gtest.h>

#include "core/image/dib_image.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::Rows;

TEST(StrideRule, WidthsOneToEightAtEveryDepth) {
    struct Case { int bitCount; int64_t strides[8]; };
    const Case cases[] = {
        {1, {4, 4, 4, 4, 4, 4, 4, 4}},
        {4, {4, 4, 4, 4, 4, 4, 4, 4}},
        {8, {4, 4, 4, 4, 8, 8, 8, 8}},
        {24, {4, 8, 12, 12, 16, 20, 24, 24}},
    };
    for (const auto& c : cases)
        for (int w = 1; w <= 8; ++w)
            EXPECT_EQ(strideFor(w, c.bitCount), c.strides[w - 1]) << c.bitCount << "-bit, width " << w;
    EXPECT_EQ(strideFor(33, 1), 8);
    EXPECT_EQ(strideFor(9, 4), 8);
    EXPECT_EQ(strideFor(65535, 24), 196608);  // computed without overflow
}

TEST(PixelAddressing, TopLeftLivesInTheLastStoredRowAtEveryDepth) {
    const std::vector<Rgb> table{{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};
    for (int bc : {1, 4, 8}) {
        for (int w = 1; w <= 8; ++w) {
            Rows rows(3, std::string(w, '0'));
            rows[0][0] = '1';           // top-left
            rows[2][w - 1] = '1';       // bottom-right
            auto img = test::makeIndexed(bc, rows, table);
            const int64_t s = strideFor(w, bc);
            ASSERT_EQ(img->bitsSize(), s * 3);
            // Top-left is the first pixel of stored row 2.
            const uint8_t first = img->bits[2 * s];
            EXPECT_EQ(bc == 8 ? first : (bc == 4 ? first >> 4 : first >> 7), 1) << bc << "-bit w" << w;
            EXPECT_EQ(img->indexAt(0, 0), 1);
            EXPECT_EQ(img->indexAt(w - 1, 2), 1);
            EXPECT_EQ(test::indexRows(*img), rows);
        }
    }
    for (int w = 1; w <= 8; ++w) {
        Rows rows(2, std::string(w, '.'));
        rows[0][0] = 'r';
        auto img = test::make24(rows, {{'r', Rgb{255, 0, 0}}});
        const int64_t s = strideFor(w, 24);
        EXPECT_EQ(img->bits[s + 0], 0);    // blue
        EXPECT_EQ(img->bits[s + 2], 255);  // red
        EXPECT_EQ((img->colourAt(0, 0)), (Rgb{255, 0, 0}));
    }
}

TEST(ColourTableRule, EntriesFromClrUsedOrDepth) {
    struct Case { uint16_t bitCount; uint32_t clrUsed; int entries; };
    const Case cases[] = {
        {1, 0, 2}, {4, 0, 16}, {8, 0, 256}, {24, 0, 0},
        {8, 20, 20}, {24, 3, 3}, {4, 300, 300},
        {8, 0x10014, 20},  // a 16-bit count: the high word is ignored
    };
    for (const auto& c : cases) {
        auto h = newHeader(4, 4, c.bitCount, c.clrUsed, 0);
        EXPECT_EQ(tableEntries(h), c.entries) << c.bitCount << "/" << c.clrUsed;
    }
}

TEST(ColourTable, IndicesBeyondTheTableReadBlack) {
    const std::vector<Rgb> table{{10, 20, 30}, {40, 50, 60}};
    auto img = test::makeIndexed(8, {"01", "2f"}, table, {}, /*clrUsed=*/true);
    EXPECT_EQ(img->infoSize(), 40 + 8);
    EXPECT_EQ((img->tableColour(1)), (Rgb{40, 50, 60}));
    EXPECT_EQ((img->tableColour(2)), (Rgb{0, 0, 0}));
    EXPECT_EQ((img->colourAt(1, 1)), (Rgb{0, 0, 0}));
    EXPECT_EQ(img->displayBitmap->pixel(0, 1), 0xFF000000u);
    EXPECT_EQ(img->displayBitmap->pixel(1, 0), 0xFF28323Cu);
}

TEST(DisplayBitmap, ShowsTheTableColoursAtEveryDepth) {
    const std::vector<Rgb> table{{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 128, 255}};
    const Rows rows{"0123", "3210"};
    for (int bc : {4, 8}) {
        auto img = test::makeIndexed(bc, rows, table);
        const auto& d = *img->displayBitmap;
        ASSERT_EQ(d.width, 4);
        ASSERT_EQ(d.height, 2);
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(d.colour(x, 0), table[x]) << bc;
            EXPECT_EQ(d.colour(x, 1), table[3 - x]) << bc;
        }
    }
    auto one = test::makeIndexed(1, {"0110", "1001"}, table);
    EXPECT_EQ(one->displayBitmap->colour(1, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(one->displayBitmap->colour(1, 1), (Rgb{0, 0, 0}));
    auto rgb = test::make24({"ab", "ba"}, {{'a', Rgb{1, 2, 3}}, {'b', Rgb{250, 251, 252}}});
    EXPECT_EQ(rgb->displayBitmap->colour(0, 0), (Rgb{1, 2, 3}));
    EXPECT_EQ(rgb->displayBitmap->colour(0, 1), (Rgb{250, 251, 252}));
}

TEST(DeviceTable, NamedEntries) {
    const auto& t = deviceTable();
    EXPECT_EQ(t[0], (Rgb{0, 0, 0}));
    EXPECT_EQ(t[215], (Rgb{255, 255, 255}));
    EXPECT_EQ(t[180], (Rgb{255, 0, 0}));
    EXPECT_EQ(t[30], (Rgb{0, 255, 0}));
    EXPECT_EQ(t[5], (Rgb{0, 0, 255}));
    EXPECT_EQ(t[216], (Rgb{6, 6, 6}));
    EXPECT_EQ(t[255], (Rgb{249, 249, 249}));
}

int bruteForceNearest(Rgb c) {
    const auto& t = deviceTable();
    int best = 0, bestD = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        int d = (c.r - t[i].r) * (c.r - t[i].r) + (c.g - t[i].g) * (c.g - t[i].g) + (c.b - t[i].b) * (c.b - t[i].b);
        if (d < bestD) { bestD = d; best = i; }
    }
    return best;
}

TEST(DeviceTable, NearestColourMatchesAFullSearch) {
    EXPECT_EQ(nearestDeviceIndex(Rgb{0, 0, 0}), 0);
    EXPECT_EQ(nearestDeviceIndex(Rgb{255, 255, 255}), 215);
    EXPECT_EQ(nearestDeviceIndex(Rgb{250, 3, 2}), 180);
    for (int v = 0; v < 256; ++v) {
        Rgb grey{uint8_t(v), uint8_t(v), uint8_t(v)};
        ASSERT_EQ(nearestDeviceIndex(grey), bruteForceNearest(grey)) << "grey " << v;
    }
    uint32_t state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1664525u + 1013904223u;
        Rgb c{uint8_t(state >> 8), uint8_t(state >> 16), uint8_t(state >> 24)};
        ASSERT_EQ(nearestDeviceIndex(c), bruteForceNearest(c)) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
}

TEST(ReadBack, TwentyFourBitRowsAreExactAndPaddingIsZero) {
    auto img = test::make24({"abc", "cba"}, {{'a', Rgb{1, 2, 3}}, {'b', Rgb{4, 5, 6}}, {'c', Rgb{7, 8, 9}}});
    auto rows = readBack24(*img->displayBitmap);
    EXPECT_EQ(rows, img->bits);
}

TEST(ReadBack, EightBitRowsUseTheDeviceTableWithWhitePadding) {
    auto img = test::make24({"#.r", "g.#"}, {{'r', Rgb{255, 0, 0}}, {'g', Rgb{0, 255, 0}}});
    auto rows = readBack8(*img->displayBitmap);
    ASSERT_EQ(rows.size(), 8u);
    const std::vector<uint8_t> expected{30, 215, 0, 215, /*top:*/ 0, 215, 180, 215};
    EXPECT_EQ(rows, expected);
}

TEST(ReadBack, FromBlocksGivesDeviceIndicesAtEveryDepthWithoutBuildingTheDisplay) {
    const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255}, black{0, 0, 0};
    struct Case { const char* name; std::unique_ptr<DibImage> img; std::vector<uint8_t> rows; };  // bottom row first
    Case cases[] = {
        {"1-bit", test::makeIndexed(1, {"010", "101"}, {red, blue}), {5, 180, 5, 215, 180, 5, 180, 215}},
        {"4-bit, index beyond a 3-entry table", test::makeIndexed(4, {"0123"}, {black, white, green}, {}, true),
         {0, 215, 30, 0}},
        {"8-bit, index beyond a 2-entry table", test::makeIndexed(8, {"017"}, {blue, white}, {}, true), {5, 215, 0, 215}},
        {"24-bit", test::make24({"#.r"}, {{'r', red}}), {0, 215, 180, 215}},
    };
    for (const auto& c : cases) EXPECT_EQ(readBack8FromBlocks(c.img->info, c.img->bits), c.rows) << c.name;
    EXPECT_TRUE(readBack8FromBlocks(std::vector<uint8_t>(10), {1, 2}).empty());
}

TEST(RereadAs8Bit, RebuildsOnTheDeviceTable) {
    auto img = test::make24({"#.", ".#"});
    ASSERT_NE(img->rereadAs8Bit(), nullptr);
    auto h = img->header();
    EXPECT_EQ(h.biBitCount, 8);
    EXPECT_EQ(h.biClrUsed, 256u);
    EXPECT_EQ(h.biSizeImage, 8u);
    EXPECT_EQ(h.biXPelsPerMeter, 4740);
    EXPECT_EQ(img->infoSize(), 1064);
    EXPECT_EQ(test::lineArtRows(*img), (Rows{"#.", ".#"}));
    DibImage empty;
    EXPECT_EQ(empty.rereadAs8Bit(), nullptr);
}

TEST(RestoreFrom, TwiceGivesTwoIdenticalRecordsWithFreshBitmaps) {
    auto img = test::makeIndexed(8, {"012", "210"}, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {}, true);
    auto h = img->header();
    h.biSizeImage = static_cast<uint32_t>(img->bitsSize());
    img->setHeader(h);
    const auto savedInfo = img->info;
    const auto savedBits = img->bits;
    DibImage a, b;
    const DisplayBitmap* da = a.restoreFrom(savedInfo, savedBits);
    const DisplayBitmap* db = b.restoreFrom(savedInfo, savedBits);
    ASSERT_NE(da, nullptr);
    ASSERT_NE(db, nullptr);
    EXPECT_NE(da, db);
    EXPECT_EQ(a.info, savedInfo);
    EXPECT_EQ(a.bits, savedBits);
    EXPECT_EQ(a.info, b.info);
    EXPECT_EQ(a.bits, b.bits);
    EXPECT_EQ(da->pixels, db->pixels);
    EXPECT_EQ(a.width, 3);
    EXPECT_EQ(a.height, 2);
    EXPECT_EQ(a.palette.size(), 3u);
    // Restoring into the same record again shows the same picture.
    const DisplayBitmap* again = a.restoreFrom(savedInfo, savedBits);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->pixels, db->pixels);
}

TEST(RestoreFrom, ShortBlocksNeverReadPastTheirEnd) {
    auto h = newHeader(4, 4, 8, 0, 64);  // claims a full table and 64 pixel bytes
    std::vector<uint8_t> header(40);
    std::memcpy(header.data(), &h, 40);
    DibImage img;
    img.restoreFrom(header, PixelBytes(10, 7));
    EXPECT_EQ(img.infoSize(), 40 + 1024);
    EXPECT_EQ(img.bitsSize(), 64);
    EXPECT_EQ(img.bits[9], 7);
    EXPECT_EQ(img.bits[10], 0);
}

TEST(FromBitmap, RebuildsAs24BitWithZeroPadding) {
    auto img = test::makeIndexed(8, {"01", "10"}, {{255, 0, 0}, {0, 0, 255}});
    DisplayBitmap shown = *img->displayBitmap;
    img->fromBitmap(shown);
    auto h = img->header();
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(img->infoSize(), 40);
    EXPECT_EQ(h.biSizeImage, 16u);
    EXPECT_EQ(img->bitsSize(), 16);
    EXPECT_EQ((img->colourAt(0, 0)), (Rgb{255, 0, 0}));
    EXPECT_EQ((img->colourAt(1, 0)), (Rgb{0, 0, 255}));
    EXPECT_EQ(img->bits[6], 0);
    EXPECT_EQ(img->bits[7], 0);
}

}  // namespace
}  // namespace qel
