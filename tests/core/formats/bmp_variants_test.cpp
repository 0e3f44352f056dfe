// Reading BMP layouts other than the classic one: the public corpus against its
// reference pictures, exact conversions of small hand-made files, and hostile files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "core/formats/bmp_file.h"
#include "core/formats/bmp_variants.h"
#include "support/text_image.h"

namespace qel {
namespace {

const std::string kSuite = std::string(QEL_TEST_DATA) + "/bmpsuite";

void put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}
void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
}
void append32(std::vector<uint8_t>& v, uint32_t x) {
    v.resize(v.size() + 4);
    put32(v, v.size() - 4, x);
}

// A header of `biSize` bytes whose first 40 (or fewer) bytes come from `h`.
std::vector<uint8_t> headerBytes(uint32_t biSize, BitmapInfoHeader h) {
    h.biSize = biSize;
    std::vector<uint8_t> out(biSize, 0);
    std::memcpy(out.data(), &h, std::min<uint32_t>(biSize, 40));
    return out;
}

// An OS/2 1.x header: 16-bit sides.
std::vector<uint8_t> coreHeader(uint16_t w, uint16_t h, uint16_t bitCount) {
    std::vector<uint8_t> out(12, 0);
    put32(out, 0, 12);
    put16(out, 4, w);
    put16(out, 6, h);
    put16(out, 8, 1);
    put16(out, 10, bitCount);
    return out;
}

// File header + header + whatever lies between header and pixels (masks, table) + pixels.
// bfOffBits points at the pixels unless `offset` overrides it.
std::vector<uint8_t> file(const std::vector<uint8_t>& header, const std::vector<uint8_t>& middle,
                          const std::vector<uint8_t>& pixels, int64_t offset = -1) {
    std::vector<uint8_t> out(14, 0);
    out.reserve(out.size() + header.size() + middle.size() + pixels.size());
    out[0] = 'B';
    out[1] = 'M';
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), middle.begin(), middle.end());
    put32(out, 10, static_cast<uint32_t>(offset >= 0 ? offset : int64_t(out.size())));
    out.insert(out.end(), pixels.begin(), pixels.end());
    put32(out, 2, static_cast<uint32_t>(out.size()));
    return out;
}

std::vector<uint8_t> table4(const std::vector<Rgb>& colours) {
    std::vector<uint8_t> t;
    for (auto c : colours) t.insert(t.end(), {c.b, c.g, c.r, 0});
    return t;
}

struct Loaded {
    ImageError error = ImageError::None;
    std::string why;
    std::unique_ptr<DibImage> image = std::make_unique<DibImage>();
};
Loaded load(const std::vector<uint8_t>& bytes) {
    Loaded l;
    l.image->loadBytes(bytes.data(), bytes.size(), &l.error, &l.why);
    return l;
}

// What every converted picture must be: the classic layout the rest of the program takes.
void expectClassic(const DibImage& img) {
    const auto h = img.header();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_GT(h.biHeight, 0);
    EXPECT_TRUE(h.biBitCount == 1 || h.biBitCount == 4 || h.biBitCount == 8 || h.biBitCount == 24);
    EXPECT_EQ(img.infoSize(), 40 + 4 * tableEntries(h));
    EXPECT_EQ(int64_t(img.bitsSize()), strideFor(h.biWidth, h.biBitCount) * h.biHeight);
}

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

// ---------------------------------------------------------------- the corpus

std::vector<std::pair<std::string, std::string>> manifest() {
    std::ifstream in(kSuite + "/MANIFEST");
    std::vector<std::pair<std::string, std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string g, ref;
        fields >> g >> ref;
        rows.emplace_back(g, ref);
    }
    return rows;
}

TEST(BmpCorpus, EveryGoodFileShowsItsReferencePicture) {
    const auto rows = manifest();
    ASSERT_EQ(rows.size(), 27u);
    for (const auto& [g, ref] : rows) {
        SCOPED_TRACE(g);
        DibImage pic, want;
        ImageError e = ImageError::None;
        ASSERT_NE(pic.loadFile(kSuite + "/g/" + g, &e), nullptr) << messageFor(e).text;
        ASSERT_NE(want.loadFile(kSuite + "/ref/" + ref), nullptr);
        expectClassic(pic);
        ASSERT_EQ(pic.displayBitmap->width, want.displayBitmap->width);
        ASSERT_EQ(pic.displayBitmap->height, want.displayBitmap->height);
        EXPECT_TRUE(pic.displayBitmap->pixels == want.displayBitmap->pixels);

        // What Save writes is a classic file showing the same picture.
        DibImage again;
        const auto saved = pic.fileBytes();
        ASSERT_NE(again.loadBytes(saved.data(), saved.size()), nullptr);
        EXPECT_EQ(again.info, pic.info);
        EXPECT_EQ(again.bits, pic.bits);
    }
}

TEST(BmpCorpus, ClassicFilesStillRoundTripByteForByte) {
    int classic = 0;
    for (const auto& [g, ref] : manifest()) {
        const auto bytes = test::readBytes(kSuite + "/g/" + g);
        BitmapInfoHeader h;
        std::memcpy(&h, bytes.data() + 14, 40);
        if (h.biSize != 40 || h.biCompression != 0 || h.biHeight <= 0 || h.biBitCount == 16 || h.biBitCount == 32)
            continue;
        ++classic;
        SCOPED_TRACE(g);
        DibImage img;
        ASSERT_NE(img.loadBytes(bytes.data(), bytes.size()), nullptr);
        EXPECT_TRUE(std::equal(img.info.begin(), img.info.end(), bytes.begin() + 14));
        EXPECT_EQ(img.fileBytes(), bytes);
    }
    EXPECT_EQ(classic, 14);
}

// ---------------------------------------------------------------- exact conversions

// A 3x2 8-bit picture, top row "0 1 2", bottom row "3 4 5", in each header size.
TEST(BmpVariants, HeaderSizesAndRowOrderGiveTheSameClassicPicture) {
    const std::vector<uint8_t> table = table4({kBlack, kRed, kGreen, kBlue, kWhite, {1, 2, 3}});
    const std::vector<uint8_t> bottomUp{3, 4, 5, 0, 0, 1, 2, 0};
    const std::vector<uint8_t> topDown{0, 1, 2, 0, 3, 4, 5, 0};
    auto hdr = newHeader(3, 2, 8, 6, 8);
    hdr.biXPelsPerMeter = 1111;
    hdr.biYPelsPerMeter = 2222;
    auto down = hdr;
    down.biHeight = -2;
    std::vector<uint8_t> core3;  // the same colours as 3-byte entries
    for (size_t i = 0; i < table.size(); i += 4) core3.insert(core3.end(), table.begin() + i, table.begin() + i + 3);
    // Core tables have no count: the other 250 entries would follow; the pixel offset cuts the table short.

    struct Case { const char* name; std::vector<uint8_t> bytes; int32_t xPels; };
    const std::vector<Case> cases = {
        {"V2 52", file(headerBytes(52, hdr), table, bottomUp), 1111},
        {"V3 56", file(headerBytes(56, hdr), table, bottomUp), 1111},
        {"V4 108", file(headerBytes(108, hdr), table, bottomUp), 1111},
        {"V5 124", file(headerBytes(124, hdr), table, bottomUp), 1111},
        {"OS/2 2.x 64", file(headerBytes(64, hdr), table, bottomUp), 1111},
        {"OS/2 2.x 16", file(headerBytes(16, newHeader(3, 2, 8, 0, 0)), table, bottomUp), 0},
        {"OS/2 1.x", file(coreHeader(3, 2, 8), core3, bottomUp), 4740},
        {"top-down 40", file(headerBytes(40, down), table, topDown), 1111},
        {"top-down V5", file(headerBytes(124, down), table, topDown), 1111},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto l = load(c.bytes);
        ASSERT_EQ(l.error, ImageError::None);
        expectClassic(*l.image);
        EXPECT_EQ(test::indexRows(*l.image), (test::Rows{"012", "345"}));
        EXPECT_EQ(l.image->header().biClrUsed, 6u);
        EXPECT_EQ(l.image->tableColour(1), kRed);
        EXPECT_EQ(l.image->tableColour(5), (Rgb{1, 2, 3}));
        EXPECT_EQ(l.image->header().biXPelsPerMeter, c.xPels);
        EXPECT_EQ(l.image->header().biSizeImage, 8u);
        EXPECT_EQ(l.image->bits, bottomUp);  // padding is written as 0
    }
}

TEST(BmpVariants, TwoBitPixelsBecomeEightBit) {
    auto h = newHeader(5, 1, 2, 0, 4);
    auto l = load(file(headerBytes(40, h), table4({kBlack, kRed, kGreen, kBlue}), {0b00011011, 0b11000000, 0, 0}));
    ASSERT_EQ(l.error, ImageError::None);
    expectClassic(*l.image);
    EXPECT_EQ(l.image->bitCount(), 8);
    EXPECT_EQ(l.image->header().biClrUsed, 4u);
    EXPECT_EQ(test::indexRows(*l.image), (test::Rows{"01233"}));
    EXPECT_EQ(l.image->tableColour(3), kBlue);
}

TEST(BmpVariants, TablesAreBoundedByTheDepthAndByThePixelOffset) {
    const std::vector<uint8_t> px{0x01, 0xF0, 0, 0};  // 4-bit: 0 1 f 0
    auto h = newHeader(3, 1, 4, 0, 4);
    h.biHeight = -1;  // top-down, so the variant reader takes it
    std::vector<Rgb> many(300, kGreen);
    many[1] = kRed;
    auto longer = h;
    longer.biClrUsed = 300;  // more than a 4-bit picture can index
    auto huge = h;
    huge.biClrUsed = 0xFFFFFFFF;

    struct Case { const char* name; std::vector<uint8_t> bytes; int entries; Rgb fifteen; };
    const std::vector<Case> cases = {
        {"clrUsed 300 at 4 bits", file(headerBytes(40, longer), table4(many), px), 16, kGreen},
        {"clrUsed 2^32-1", file(headerBytes(40, huge), table4(many), px), 16, kGreen},
        // The full 16-entry table is declared but the pixels start after 2 entries.
        {"offset cuts the table", file(headerBytes(40, h), table4({kBlack, kRed}), px), 2, kBlack},
        {"no table at all", file(headerBytes(40, h), {}, px), 16, kBlack},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto l = load(c.bytes);
        ASSERT_EQ(l.error, ImageError::None);
        expectClassic(*l.image);
        EXPECT_EQ(tableEntries(l.image->header()), c.entries);
        EXPECT_EQ(test::indexRows(*l.image), (test::Rows{"01f"}));
        EXPECT_EQ(l.image->displayBitmap->colour(2, 0), c.fifteen);
    }
}

// Bit-field and plain 16/32-bit pixels: each channel scaled by its mask's width, rounded.
TEST(BmpVariants, BitFieldPixelsAreScaledToEightBitsPerChannel) {
    auto h16 = newHeader(3, 1, 16, 0, 8);
    auto h32 = newHeader(2, 1, 32, 0, 8);
    auto bf16 = h16, bf32 = h32, abf32 = h32;
    bf16.biCompression = 3;
    bf32.biCompression = 3;
    abf32.biCompression = 6;
    std::vector<uint8_t> masks565, masksNoGreen, masksOdd, masksAlpha, v5 = headerBytes(124, bf32);
    for (uint32_t m : {0xF800u, 0x07E0u, 0x001Fu}) append32(masks565, m);
    for (uint32_t m : {0xF800u, 0u, 0x001Fu}) append32(masksNoGreen, m);
    for (uint32_t m : {0xFF000000u, 0x00000FF0u, 0x00FF0000u}) append32(masksOdd, m);
    for (uint32_t m : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) append32(masksAlpha, m);
    put32(v5, 40, 0x3FF00000);  // 10-bit red
    put32(v5, 44, 0x000FFC00);  // 10-bit green
    put32(v5, 48, 0x000003FF);  // 10-bit blue
    put32(v5, 52, 0xC0000000);  // alpha, dropped

    const auto px16 = [](std::initializer_list<uint16_t> v) {
        std::vector<uint8_t> out;
        out.reserve(2 * v.size());
        for (auto p : v) out.insert(out.end(), {uint8_t(p), uint8_t(p >> 8)});
        while (out.size() % 4) out.push_back(0);
        return out;
    };
    const auto px32 = [](std::initializer_list<uint32_t> v) {
        std::vector<uint8_t> out;
        for (auto p : v) append32(out, p);
        return out;
    };
    struct Case { const char* name; std::vector<uint8_t> bytes; std::vector<Rgb> want; };
    const std::vector<Case> cases = {
        // 5-bit values 1, 16, 31 give 8, 132, 255.
        {"plain 16 is 5-5-5", file(headerBytes(40, h16), {}, px16({(1 << 10) | (16 << 5) | 31, 0x7FFF, 0x8000})),
         {{8, 132, 255}, kWhite, kBlack}},
        // 6-bit green: 1 gives 4, 32 gives 130.
        {"16-bit 5-6-5", file(headerBytes(40, bf16), masks565, px16({(31 << 11) | (1 << 5), 32 << 5, 0xFFFF})),
         {{255, 4, 0}, {0, 130, 0}, kWhite}},
        {"an empty mask reads as 0", file(headerBytes(40, bf16), masksNoGreen, px16({0xFFFF, 0, 0xF81F})),
         {{255, 0, 255}, kBlack, {255, 0, 255}}},
        {"plain 32, top byte ignored", file(headerBytes(40, h32), {}, px32({0xAA102030, 0x00FFFFFF})),
         {{0x10, 0x20, 0x30}, kWhite}},
        {"32-bit odd masks", file(headerBytes(40, bf32), masksOdd, px32({0x80000000 | 0x00400000 | 0x0120, 0})),
         {{0x80, 0x12, 0x40}, kBlack}},
        {"alpha bit fields, alpha dropped", file(headerBytes(40, abf32), masksAlpha, px32({0x7F112233, 0xFF000000})),
         {{0x11, 0x22, 0x33}, kBlack}},
        // 10-bit 1023 gives 255, 512 gives 128 (127.62 rounded), 1 gives 0 (0.249 rounded).
        {"V5 10-bit masks", file(v5, {}, px32({0xC0000000 | (1023u << 20) | (512u << 10) | 1u, 0})),
         {{255, 128, 0}, kBlack}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto l = load(c.bytes);
        ASSERT_EQ(l.error, ImageError::None);
        expectClassic(*l.image);
        EXPECT_EQ(l.image->bitCount(), 24);
        EXPECT_EQ(l.image->infoSize(), 40);
        for (int x = 0; x < static_cast<int>(c.want.size()); ++x) EXPECT_EQ(l.image->colourAt(x, 0), c.want[x]) << x;
    }
}

// RLE: runs, literals (padded to even byte counts), deltas, end of line and of bitmap.
TEST(BmpVariants, RunLengthStreamsDecodeToRows) {
    const std::vector<Rgb> grey{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}, {5, 5, 5}};
    struct Case { const char* name; int bitCount; int w, h; std::vector<uint8_t> stream; test::Rows want; };
    const std::vector<Case> cases = {
        {"RLE8 runs, literal, delta", 8, 5, 3,
         {2, 1, 0, 3, 3, 4, 5, 0 /*pad*/, 0, 0,  // bottom row: 1 1 3 4 5
          0, 2, 1, 0,                             // delta right 1
          1, 2, 0, 0,                             // middle row: . 2
          0, 4, 5, 4, 3, 2, 0, 1},                // top row literal of 4, end of bitmap
         {"5432.", ".2...", "11345"}},
        {"RLE8 pixels never written are index 0", 8, 3, 2, {1, 5, 0, 1}, {"...", "5.."}},
        {"RLE8 run past the row end is clipped", 8, 3, 2, {9, 4, 0, 0, 1, 2, 0, 1}, {"2..", "444"}},
        {"RLE8 literal past the row end is clipped", 8, 2, 1, {0, 3, 1, 2, 3, 0, 0, 1}, {"12"}},
        {"RLE8 rows beyond the last are ignored", 8, 2, 1, {2, 1, 0, 0, 2, 3, 0, 0, 2, 3, 0, 1}, {"11"}},
        {"RLE8 delta out of the picture", 8, 2, 2, {1, 1, 0, 2, 200, 0, 1, 2, 0, 2, 0, 9, 1, 3}, {"..", "1."}},
        {"RLE8 ends with the last row, no end mark", 8, 2, 1, {2, 3, 0, 0}, {"33"}},
        {"RLE4 alternating run and odd literal", 4, 5, 2,
         {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1}, {"345..", "12121"}},
        {"RLE4 run past the row end is clipped", 4, 3, 1, {7, 0x45, 0, 1}, {"454"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto h = newHeader(c.w, c.h, uint16_t(c.bitCount), 6, uint32_t(c.stream.size()));
        h.biCompression = c.bitCount == 8 ? 1 : 2;
        auto l = load(file(headerBytes(40, h), table4(grey), c.stream));
        ASSERT_EQ(l.error, ImageError::None) << messageFor(l.error).text;
        expectClassic(*l.image);
        EXPECT_EQ(l.image->bitCount(), c.bitCount);
        EXPECT_EQ(test::indexRows(*l.image, {{0, '.'}, {1, '1'}, {2, '2'}, {3, '3'}, {4, '4'}, {5, '5'}}), c.want);
    }
}

// ---------------------------------------------------------------- refusals and hostile files

TEST(BmpVariants, RefusalsSayWhy) {
    const auto table = table4({kBlack, kWhite});
    const auto with = [&](uint32_t biSize, auto edit, std::vector<uint8_t> middle, std::vector<uint8_t> px,
                          int64_t offset = -1) {
        auto h = newHeader(2, 2, 8, 2, 8);
        h.biHeight = -2;
        edit(h);
        return file(headerBytes(biSize, h), middle, px, offset);
    };
    const std::vector<uint8_t> px(8, 1);
    std::vector<uint8_t> zeroMasks(12, 0), overlap, gappy;
    for (uint32_t m : {0xF800u, 0x0FE0u, 0x001Fu}) append32(overlap, m);
    for (uint32_t m : {0xF000u, 0x0A00u, 0x001Fu}) append32(gappy, m);
    const auto bf16 = [](BitmapInfoHeader& h) { h.biBitCount = 16; h.biCompression = 3; h.biClrUsed = 0; };
    const auto keep = [](BitmapInfoHeader&) {};
    const auto rle8 = [](BitmapInfoHeader& h) { h.biCompression = 1; h.biHeight = 2; };
    const auto patched = [](std::vector<uint8_t> f, size_t at, uint32_t v) { put32(f, at, v); return f; };
    const auto cut = [](std::vector<uint8_t> f, size_t n) { f.resize(n); return f; };

    struct Case { const char* name; std::vector<uint8_t> bytes; ImageError error; const char* says; };
    const std::vector<Case> cases = {
        {"embedded JPEG, no stream", with(40, [](auto& h) { h.biCompression = 4; h.biBitCount = 0; }, table, px),
         ImageError::NotBitmap, "JPEG"},
        {"embedded PNG, no stream", with(124, [](auto& h) { h.biCompression = 5; h.biBitCount = 0; }, table, px),
         ImageError::NotBitmap, "PNG"},
        {"compression 7", with(40, [](auto& h) { h.biCompression = 7; }, table, px),
         ImageError::Unsupported, "compression 7"},
        {"OS/2 Huffman", with(64, [](auto& h) { h.biCompression = 3; h.biBitCount = 1; }, table, px),
         ImageError::Unsupported, "Huffman 1D"},
        {"header size 20", with(20, keep, table, px), ImageError::Unsupported, "info header of 20 bytes"},
        {"header size 2^32-1", patched(with(40, keep, table, px), 14, 0xFFFFFFFF),
         ImageError::Unsupported, "info header of 4294967295 bytes"},
        {"bit count 3", with(40, [](auto& h) { h.biBitCount = 3; }, table, px),
         ImageError::Unsupported, "3-bit pixels"},
        {"width 0", with(40, [](auto& h) { h.biWidth = 0; }, table, px), ImageError::NotBitmap, "0 x 2 pixels"},
        {"height 0 (V4)", with(108, [](auto& h) { h.biHeight = 0; }, table, px), ImageError::NotBitmap, "2 x 0 pixels"},
        {"width negative", with(40, [](auto& h) { h.biWidth = -2; }, table, px),
         ImageError::NotBitmap, "-2 x 2 pixels"},
        {"pixels cut short", with(40, keep, table, std::vector<uint8_t>(5, 1)),
         ImageError::NotBitmap, "pixel data ends 1 byte early"},
        {"header cut short", cut(with(124, keep, table, px), 60),
         ImageError::NotBitmap, "ends within its 124-byte info header"},
        {"offset beyond the file", with(40, keep, table, px, 100000),
         ImageError::NotBitmap, "bfOffBits 100000 points past the end"},
        {"offset inside the header", with(40, keep, table, px, 20),
         ImageError::NotBitmap, "bfOffBits 20 points into the headers"},
        {"RLE8 at 4 bits", with(40, [](auto& h) { h.biCompression = 1; h.biBitCount = 4; h.biHeight = 2; }, table, px),
         ImageError::NotBitmap, "RLE8 compression of 4-bit pixels"},
        {"top-down RLE8", with(40, [](auto& h) { h.biCompression = 1; }, table, px),
         ImageError::NotBitmap, "RLE8 compression of top-down rows"},
        {"bit fields at 8 bits", with(40, [](auto& h) { h.biCompression = 3; }, table, px),
         ImageError::NotBitmap, "bit fields of 8-bit pixels"},
        // Run-length streams that stop inside a command, or before the last row without the end mark.
        {"RLE8 odd byte at the end", with(40, rle8, table, {2, 1, 0}),
         ImageError::NotBitmap, "RLE8 data ends before its end-of-bitmap mark"},
        {"RLE8 delta cut short", with(40, rle8, table, {0, 2, 1}),
         ImageError::NotBitmap, "RLE8 data ends within a delta"},
        {"RLE8 literal cut short", with(40, rle8, table, {0, 5, 1, 2, 3}),
         ImageError::NotBitmap, "RLE8 data ends within a run of literal pixels"},
        {"RLE8 rows left, no end mark", with(40, rle8, table, {2, 1, 0, 0}),
         ImageError::NotBitmap, "RLE8 data ends before its end-of-bitmap mark"},
        {"RLE8 empty stream", with(40, rle8, table, {}), ImageError::NotBitmap, "bfOffBits 62 points past the end"},
        {"all masks 0", with(40, bf16, zeroMasks, px), ImageError::NotBitmap, "every bit field is empty"},
        {"overlapping masks", with(40, bf16, overlap, px), ImageError::NotBitmap, "bit fields overlap"},
        {"masks with gaps", with(40, bf16, gappy, px), ImageError::NotBitmap, "a bit field has gaps"},
        {"masks cut short", with(40, bf16, {}, {}), ImageError::NotBitmap, "ends within its bit-field masks"},
        {"height -2^31", with(40, [](auto& h) { h.biHeight = INT32_MIN; }, table, px),
         ImageError::TooLarge, "2 x 2147483648 pixels is beyond"},
        {"width 70000", with(40, [](auto& h) { h.biWidth = 70000; }, table, px),
         ImageError::TooLarge, "70000 x 2 pixels is beyond"},
        {"height -70000", with(124, [](auto& h) { h.biHeight = -70000; }, table, px),
         ImageError::TooLarge, "2 x 70000 pixels is beyond"},
        {"40000 x 40000 at 32 bits", with(40, [](auto& h) { h.biWidth = 40000; h.biHeight = -40000; h.biBitCount = 32; },
                                          {}, px), ImageError::TooLarge, "40000 x 40000 pixels is beyond"},
        {"RLE 65535 x 65535", with(40, [](auto& h) { h.biWidth = 65535; h.biHeight = 65535; h.biCompression = 1; },
                                   table, {0, 1}), ImageError::TooLarge, "65535 x 65535 pixels is beyond"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto l = load(c.bytes);
        EXPECT_EQ(l.error, c.error) << messageFor(l.error).text;
        EXPECT_NE(l.why.find(c.says), std::string::npos) << l.why;
        EXPECT_FALSE(l.image->hasPicture());
        EXPECT_TRUE(l.image->info.empty());
        EXPECT_TRUE(l.image->bits.empty());
    }
}

// biSizeImage is never trusted: a 1x1 picture claiming 2^31 bytes of pixels reads its one pixel.
TEST(BmpVariants, AClaimedPixelSizeIsNeverTrusted) {
    auto classic = newHeader(1, 1, 24, 0, 0x80000000u);
    auto topDown = classic;
    topDown.biHeight = -1;
    auto rle = newHeader(1, 1, 8, 2, 0x80000000u);
    rle.biCompression = 1;
    const std::vector<std::vector<uint8_t>> files = {
        file(headerBytes(40, classic), {}, {1, 2, 3, 0}),
        file(headerBytes(124, topDown), {}, {1, 2, 3, 0}),
        file(headerBytes(40, rle), table4({kBlack, {9, 9, 9}}), {1, 1, 0, 1}),
    };
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        auto l = load(files[i]);
        ASSERT_EQ(l.error, ImageError::None);
        EXPECT_EQ(l.image->bitsSize(), 4);
        EXPECT_EQ(l.image->colourAt(0, 0), i < 2 ? (Rgb{3, 2, 1}) : (Rgb{9, 9, 9}));
    }
}

// Random damage to every corpus file never makes the reader touch memory it
// does not own (the sanitizer build watches), and whatever loads is classic.
TEST(BmpVariants, DamagedCorpusFilesAreRefusedOrReadSafely) {
    std::mt19937 rng(12345);
    for (const auto& [g, ref] : manifest()) {
        const auto original = test::readBytes(kSuite + "/g/" + g);
        for (int round = 0; round < 40; ++round) {
            auto bytes = original;
            const int edits = 1 + static_cast<int>(rng() % 4);
            for (int e = 0; e < edits; ++e) {
                // Mostly the headers and masks, sometimes the pixel stream.
                const size_t span = rng() % 3 ? std::min<size_t>(bytes.size(), 80) : bytes.size();
                bytes[rng() % span] = static_cast<uint8_t>(rng());
            }
            if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
            // Damage that asks for a huge picture is covered by the refusal tests; keep this one light.
            if (bytes.size() >= 26) {
                const int64_t w = std::abs(int64_t(int32_t(le32(bytes.data() + 18))));
                const int64_t h = std::abs(int64_t(int32_t(le32(bytes.data() + 22))));
                const int64_t cw = le16(bytes.data() + 18), ch = le16(bytes.data() + 20);
                if (w * h > (1 << 22) || cw * ch > (1 << 22)) continue;
            }
            auto l = load(bytes);
            if (l.error == ImageError::None) {
                ASSERT_NE(l.image->displayBitmap, nullptr) << g;
                const auto h = l.image->header();
                ASSERT_LE(int64_t(h.biWidth) * h.biHeight, kMaxPixels) << g;
            }
        }
    }
}

}  // namespace
}  // namespace qel
