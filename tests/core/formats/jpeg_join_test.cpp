// The JPEG writer codes bands on several threads and joins them with tables fitted to the whole
// picture: its file must be, byte for byte, the one libjpeg writes in one pass over the whole
// picture with optimised tables and a restart marker after every MCU row.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "core/formats/codecs.h"
#include "core/formats/jpeg_join.h"
#include "support/geometry_test_util.h"

namespace qel {
namespace {

// Rows first .. first + h - 1 (all of them by default) coded in one pass, with tables optimised for
// them or the standard ones.
std::vector<uint8_t> wholePicture(const DibImage& img, bool grey, int quality, int first = 0, int h = 0, bool optimise = true) {
    const int w = img.width;
    h = h ? h : img.height;
    std::vector<uint8_t> rows;
    for (int y = first; y < first + h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = img.colourAt(x, y);
            if (grey) rows.push_back(c.r);
            else rows.insert(rows.end(), {c.r, c.g, c.b});
        }
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = grey ? 1 : 3;
    c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.optimize_coding = optimise;
    c.restart_in_rows = 1;
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < h; ++y) {
        JSAMPROW row = rows.data() + size_t(y) * w * (grey ? 1 : 3);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> file(out, out + size);
    std::free(out);
    return file;
}

// An 8-bit picture with the grey table, written as one component.
std::unique_ptr<DibImage> greyIndexed(const DibImage& from) {
    auto img = std::make_unique<DibImage>();
    const int w = from.width, h = from.height;
    const int64_t stride = strideFor(w, 8);
    PixelBytes bits(static_cast<size_t>(stride * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bits[(h - 1 - y) * stride + x] = from.colourAt(x, y).r;
    auto info = makeInfoBlock(newHeader(w, h, 8, 256, static_cast<uint32_t>(bits.size())), 256);
    for (int i = 0; i < 256; ++i) setInfoColour(info, i, Rgb{uint8_t(i), uint8_t(i), uint8_t(i)});
    img->replace(std::move(info), std::move(bits));
    img->width = w;
    img->height = h;
    return img;
}

TEST(JpegBands, FileIsTheOnePassFileWithOptimisedTables) {
    struct Case { int w, h, quality; };
    // Heights around the band size (128 rows of colour, 64 of grey), partial MCUs at the edges,
    // a single row, and pictures large enough to be coded on several threads.
    const Case cases[] = {{1, 1, 90}, {16, 8, 90},   {37, 128, 75}, {37, 129, 75},
                          {301, 260, 90}, {400, 300, 100}, {400, 300, 1}, {64, 1000, 50}};
    std::mt19937 gen(7);
    for (const auto& [w, h, quality] : cases) {
        std::uniform_int_distribution<int> noise(0, 40);
        auto colour = test::pictureOf(w, h, [&](int x, int y) {
            const int n = noise(gen);
            return Rgb{uint8_t((x * 3 + n) & 255), uint8_t((y * 5 + (x ^ y)) & 255), uint8_t(((x + y) / 4 * 37 + n) & 255)};
        });
        auto grey = greyIndexed(*colour);
        for (bool isGrey : {false, true}) {
            const DibImage& img = isGrey ? *grey : *colour;
            std::vector<uint8_t> file;
            ASSERT_TRUE(encodePicture(img, ImageFormat::Jpeg, quality, file)) << w << "x" << h;
            EXPECT_EQ(file, wholePicture(img, isGrey, quality)) << w << "x" << h << " q" << quality << (isGrey ? " grey" : "");
        }
    }
}

// Bands holding a spare byte before a restart marker (or the end) are not the coder's: refused.
TEST(JpegBands, ASpareByteBeforeAMarkerIsRefused) {
    std::mt19937 gen(3);
    auto grey = greyIndexed(*test::pictureOf(24, 88, [&](int, int) { return Rgb{uint8_t(gen()), 0, 0}; }));
    const std::vector<uint8_t> bands[] = {wholePicture(*grey, true, 90, 0, 64, false), wholePicture(*grey, true, 90, 64, 24, false)};
    ASSERT_TRUE(codec::joinJpegBands({bands[0], bands[1]}, 88));
    int copies = 0;
    for (int b = 0; b < 2; ++b)
        for (size_t p = 2; p + 1 < bands[b].size(); ++p) {
            if (bands[b][p] != 0xFF || ((bands[b][p + 1] & 0xF8) != 0xD0 && bands[b][p + 1] != 0xD9)) continue;
            std::vector<uint8_t> spare = bands[b];
            spare.insert(spare.begin() + std::ptrdiff_t(p), 0);
            EXPECT_FALSE(codec::joinJpegBands({b ? bands[0] : spare, b ? spare : bands[1]}, 88)) << "band " << b << " at " << p;
            ++copies;
        }
    EXPECT_EQ(copies, 11);  // 7 restart markers and the end, 2 and the end
}

}  // namespace
}  // namespace qel
