#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/geometry/geometry.h"
#include "support/geometry_test_util.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::greyPicture;
using test::greyRows;
using Grid = std::vector<std::vector<int>>;

// A 24-bit BMP file whose pixel (x, y) is grey f(x, y).
std::vector<uint8_t> greyFile24(int w, int h, const std::function<int(int, int)>& f) {
    const int64_t stride = strideFor(w, 24);
    std::vector<uint8_t> px(static_cast<size_t>(stride * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) std::fill_n(px.begin() + (h - 1 - y) * stride + 3 * x, 3, uint8_t(f(x, y)));
    return test::bmpFile(newHeader(w, h, 24, 0, uint32_t(px.size())), {}, px);
}

// An indexed BMP file with `entries` grey table entries (entry i is grey i * 10) and
// pixel data of `rowBytes` per row, filled by `fill`.
std::vector<uint8_t> indexedFile(int bitCount, int w, int h, uint32_t clrUsed, int entries, int64_t rowBytes,
                                 const std::vector<uint8_t>& rowsBottomUp) {
    std::vector<uint8_t> table;
    for (int i = 0; i < entries; ++i) table.insert(table.end(), {uint8_t(i * 10), uint8_t(i * 10), uint8_t(i * 10), 0});
    EXPECT_EQ(int64_t(rowsBottomUp.size()), rowBytes * h);
    return test::bmpFile(newHeader(w, h, uint16_t(bitCount), clrUsed, uint32_t(rowsBottomUp.size())), table,
                         rowsBottomUp);
}

struct Mix {
    int32_t sx = 0, sy = 0, w = 1000, h = 1000, cx = 0, cy = 0;
    float ratio = 0.5f;
    uint32_t key = packColourRef(205, 205, 205);
};

MixStatus run(DibImage& img, const std::vector<uint8_t>& file, const Mix& m, std::string* why = nullptr) {
    MixStatus st{};
    const OpResult r = mixBytes(img, file.data(), file.size(), m.sx, m.sy, m.w, m.h, m.cx, m.cy, m.ratio, m.key, &st);
    EXPECT_EQ(r.isChanged(), st == MixStatus::Mixed);
    if (why) *why = r.reason;
    return st;
}

TEST(MixTest, RatioBlendsWithSinglePrecisionWeightsAndClamps) {
    struct Case { float ratio; int file, picture, expected; };
    const Case cases[] = {
        {1.0f, 200, 10, 200},  // copies the file
        {0.0f, 200, 10, 10},   // leaves the picture
        {0.5f, 255, 0, 127},   // 127.5 truncated
        {0.5f, 0, 255, 127},
        {0.25f, 100, 100, 100},
        {3.0f, 200, 10, 200},   // above 1 becomes 1
        {-2.0f, 255, 0, 127},   // below 0 becomes 0.5
        {std::numeric_limits<float>::quiet_NaN(), 255, 0, 127},
        {0.1f, 255, 255, 254},  // 1 - r rounds down in single precision: 254.9999943
        {0.001f, 255, 255, 255},  // 1 - r rounds up: 255.0000033 capped at 255
    };
    for (const auto& c : cases) {
        auto img = greyPicture(1, 1, [&](int, int) { return c.picture; });
        Mix m;
        m.ratio = c.ratio;
        EXPECT_EQ(run(*img, greyFile24(1, 1, [&](int, int) { return c.file; }), m), MixStatus::Mixed);
        EXPECT_EQ(greyRows(*img), Grid{{c.expected}}) << c.ratio << " " << c.file << " " << c.picture;
    }
}

TEST(MixTest, FilePixelsOfTheTransparentColourLeaveThePictureAlone) {
    // Key red 1, green 2, blue 3: only a file pixel of exactly that colour is skipped.
    auto img = greyPicture(3, 1, [](int, int) { return 50; });
    const int64_t stride = strideFor(3, 24);
    std::vector<uint8_t> px(stride, 0);
    const uint8_t bgr[3][3] = {{3, 2, 1}, {1, 2, 3}, {205, 205, 205}};
    for (int x = 0; x < 3; ++x) std::copy(bgr[x], bgr[x] + 3, px.begin() + 3 * x);
    auto file = test::bmpFile(newHeader(3, 1, 24, 0, uint32_t(px.size())), {}, px);
    Mix m;
    m.ratio = 1.0f;
    m.key = packColourRef(1, 2, 3);
    ASSERT_EQ(run(*img, file, m), MixStatus::Mixed);
    EXPECT_EQ(img->colourAt(0, 0), (Rgb{50, 50, 50}));
    EXPECT_EQ(img->colourAt(1, 0), (Rgb{3, 2, 1}));
    EXPECT_EQ(img->colourAt(2, 0), (Rgb{205, 205, 205}));

    auto img2 = greyPicture(3, 1, [](int, int) { return 50; });
    ASSERT_EQ(run(*img2, file, Mix{.ratio = 1.0f}), MixStatus::Mixed);  // the initial grey key
    EXPECT_EQ(img2->colourAt(2, 0), (Rgb{50, 50, 50}));
    EXPECT_EQ(img2->colourAt(0, 0), (Rgb{1, 2, 3}));
}

TEST(MixTest, IndexedFilesAreReadThroughTheirTable) {
    // 4 bits: left pixel in the high nibble; 8 bits: one byte per pixel.
    const auto four = indexedFile(4, 3, 1, 16, 16, 4, {0x12, 0x30, 0, 0});
    const auto eight = indexedFile(8, 3, 1, 0, 256, 4, {1, 2, 3, 0});
    for (const auto* file : {&four, &eight}) {
        auto img = greyPicture(3, 1, [](int, int) { return 99; });
        ASSERT_EQ(run(*img, *file, Mix{.ratio = 1.0f}), MixStatus::Mixed);
        EXPECT_EQ(greyRows(*img), (Grid{{10, 20, 30}}));
    }
}

// BMP variants the classic reader does not take, and other formats, go through the document reader.
TEST(MixTest, FilesTheClassicReaderDoesNotTakeAreReadByTheDocumentReader) {
    auto topDown = greyFile24(2, 2, [](int x, int y) { return 10 * y + x; });
    topDown[22] = 0xFE; topDown[23] = topDown[24] = topDown[25] = 0xFF;  // biHeight -2: row 0 first
    struct Case { const char* what; std::vector<uint8_t> file; Grid rows; };
    const std::vector<Case> cases = {
        {"8-bit with 16 entries", indexedFile(8, 3, 1, 16, 16, 4, {1, 2, 3, 0}), {{10, 20, 30}, {60, 61, 62}}},
        {"1-bit", indexedFile(1, 3, 1, 0, 2, 4, {0xA0, 0, 0, 0}), {{10, 0, 10}, {60, 61, 62}}},
        {"top-down", topDown, {{10, 11, 62}, {0, 1, 62}}},
    };
    for (const auto& c : cases) {
        auto img = greyPicture(3, 2, [](int x, int) { return 60 + x; });
        ASSERT_EQ(run(*img, c.file, Mix{.ratio = 1.0f}), MixStatus::Mixed) << c.what;
        EXPECT_EQ(greyRows(*img), c.rows) << c.what;
    }
}

TEST(MixTest, FilesTheReaderDoesNotTakeAreNotMixed) {
    auto header40 = greyFile24(2, 2, [](int, int) { return 7; });
    auto withHeaderSize = [&](uint32_t size) { auto f = header40; f[14] = uint8_t(size); return f; };
    auto withBfSize = [&](uint32_t size) { auto f = header40; for (int i = 0; i < 4; ++i) f[2 + i] = uint8_t(size >> (8 * i)); return f; };
    auto notBm = header40;
    notBm[1] = 'A';
    auto compressed = header40;
    compressed[30] = 1;
    auto shortTable = indexedFile(8, 3, 1, 0, 256, 4, {1, 2, 3, 0});
    shortTable.resize(14 + 40 + 100);
    std::vector<uint8_t> cut = header40;
    cut.resize(cut.size() - 1);
    // Found by the fuzzer: sides whose rows need more than 2^63 bytes once made the length check wrap.
    auto huge = header40;
    const uint8_t hugeSides[8] = {0x7f, 0xff, 0xff, 0x60, 0xa0, 0x00, 0x48, 0x7e};
    std::copy(hugeSides, hugeSides + 8, huge.begin() + 18);
    auto wide = header40;
    wide[18] = 0x70; wide[19] = 0x11; wide[20] = 0x01; wide[21] = 0;  // 70000 pixels wide

    struct Case { const char* what; std::vector<uint8_t> file; MixStatus status; const char* says; };
    const std::vector<Case> cases = {
        {"compressed", compressed, MixStatus::Unsupported, "compression 1"},
        {"header of 108 bytes", withHeaderSize(108), MixStatus::NotBitmap, "info header of 108 bytes"},
        {"no BM", notBm, MixStatus::NotPicture, "not a picture format Qel reads"},
        {"only a file header", std::vector<uint8_t>(header40.begin(), header40.begin() + 20),
         MixStatus::NotBitmap, "ends within its headers"},
        {"short table", shortTable, MixStatus::NotBitmap, "colour table ends"},
        {"rows cut short", cut, MixStatus::Truncated, "pixel data ends 1 byte early"},
        {"bfSize short of the rows", withBfSize(uint32_t(header40.size() - 1)),
         MixStatus::Truncated, "pixel data ends 1 byte early (by bfSize)"},
        {"bfSize below the header", withBfSize(10), MixStatus::Truncated, "(by bfSize)"},
        {"sides overflowing the row bytes", huge, MixStatus::Unsupported, "beyond the size limits"},
        {"a side above 65535", wide, MixStatus::Unsupported, "70000 x 2 pixels, beyond"},
    };
    for (const auto& c : cases) {
        auto img = greyPicture(3, 2, [](int x, int) { return 60 + x; });
        const auto before = img->bits;
        std::string why;
        EXPECT_EQ(run(*img, c.file, Mix{.ratio = 1.0f}, &why), c.status) << c.what;
        EXPECT_NE(why.find(c.says), std::string::npos) << c.what << ": " << why;
        EXPECT_EQ(img->bits, before) << c.what;
    }
}

TEST(MixTest, AFileSideOf65535IsReadAndOneOf65536Refused) {
    struct Case { int w, h; MixStatus status; Grid rows; };
    const Case cases[] = {
        {65535, 1, MixStatus::Mixed, {{100, 101}}},
        {1, 65535, MixStatus::Mixed, {{100, 0}}},
        {65536, 1, MixStatus::Unsupported, {{0, 0}}},
    };
    for (const auto& c : cases) {
        auto img = greyPicture(2, 1, [](int, int) { return 0; });
        EXPECT_EQ(run(*img, greyFile24(c.w, c.h, [](int x, int) { return 100 + x % 100; }), Mix{.ratio = 1.0f}), c.status)
            << c.w << " x " << c.h;
        EXPECT_EQ(greyRows(*img), c.rows) << c.w << " x " << c.h;
    }
}

TEST(MixTest, RectangleIsClippedToPictureAndFile) {
    // A 3 x 2 file with the initial rectangle (the picture's size) lands on the top-left 3 x 2.
    auto img = greyPicture(5, 4, [](int, int) { return 0; });
    ASSERT_EQ(run(*img, greyFile24(3, 2, [](int x, int y) { return 100 + 10 * y + x; }), Mix{.w = 5, .h = 4, .ratio = 1.0f}),
              MixStatus::Mixed);
    EXPECT_EQ(greyRows(*img), (Grid{{100, 101, 102, 0, 0}, {110, 111, 112, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}));
}

TEST(MixTest, CopyPointInFileMapsOntoStartPointInPicture) {
    auto img = greyPicture(4, 4, [](int, int) { return 0; });
    const auto file = greyFile24(3, 3, [](int x, int y) { return 100 + 10 * y + x; });
    ASSERT_EQ(run(*img, file, Mix{.sx = 1, .sy = 2, .w = 5, .h = 5, .cx = 1, .cy = 0, .ratio = 1.0f}), MixStatus::Mixed);
    // Width clipped by the file (3 - 1), height by the picture (4 - 2).
    EXPECT_EQ(greyRows(*img), (Grid{{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 101, 102, 0}, {0, 111, 112, 0}}));
}

TEST(MixTest, OutOfRangeNumbersAndUnusablePicturesChangeNothing) {
    const auto file = greyFile24(2, 2, [](int, int) { return 77; });
    struct Case { const char* what; Mix m; MixStatus status; };
    const Case cases[] = {
        {"start beyond the width", Mix{.sx = 9, .ratio = 1.0f}, MixStatus::Mixed},
        {"copy point beyond the file", Mix{.cx = 2, .ratio = 1.0f}, MixStatus::Mixed},
        {"zero width", Mix{.w = 0, .ratio = 1.0f}, MixStatus::Mixed},
        {"negative start", Mix{.sx = -1, .ratio = 1.0f}, MixStatus::NotApplied},
        {"negative height", Mix{.h = -1, .ratio = 1.0f}, MixStatus::NotApplied},
        {"negative copy y", Mix{.cy = -1, .ratio = 1.0f}, MixStatus::NotApplied},
    };
    for (const auto& c : cases) {
        auto img = greyPicture(3, 3, [](int x, int y) { return x + y; });
        const auto before = img->bits;
        EXPECT_EQ(run(*img, file, c.m), c.status) << c.what;
        EXPECT_EQ(img->bits, before) << c.what;
    }
    auto indexed = test::makeIndexed(8, {"01"}, {Rgb{0, 0, 0}, Rgb{255, 255, 255}});
    const auto before = indexed->bits;
    EXPECT_EQ(run(*indexed, file, Mix{.ratio = 1.0f}), MixStatus::NotApplied);
    EXPECT_EQ(indexed->bits, before);
}

TEST(MixTest, MixFileReadsTheNamedFileAndRefusesMissingOnes) {
    test::TempDir dir;
    ASSERT_TRUE(test::writeBytes(dir.file("a.bmp"), greyFile24(2, 1, [](int x, int) { return 200 + x; })));
    auto img = greyPicture(2, 1, [](int, int) { return 0; });
    MixStatus st{};
    EXPECT_EQ(mixFile(*img, dir.file("a.bmp"), 0, 0, 2, 1, 0, 0, 1.0f, packColourRef(205, 205, 205), &st).status,
              OpStatus::Changed);
    EXPECT_EQ(st, MixStatus::Mixed);
    EXPECT_EQ(greyRows(*img), (Grid{{200, 201}}));
    EXPECT_EQ(img->displayBitmap->colour(1, 0), (Rgb{201, 201, 201}));

    mixFile(*img, dir.file("missing.bmp"), 0, 0, 2, 1, 0, 0, 1.0f, 0, &st);
    EXPECT_EQ(st, MixStatus::CannotOpen);
    mixFile(*img, "", 0, 0, 2, 1, 0, 0, 1.0f, 0, &st);
    EXPECT_EQ(st, MixStatus::NotApplied);
    EXPECT_EQ(greyRows(*img), (Grid{{200, 201}}));
}

}  // namespace
}  // namespace qel
