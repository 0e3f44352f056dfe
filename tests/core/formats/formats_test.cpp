// Reading and writing PNG, JPEG, TIFF, WebP and GIF: the depth each layout maps to,
// lossless round trips, the EXIF orientation, and refusals. Input files are made
// here with the same libraries.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <spng.h>
#include <tiffio.h>
#include <turbojpeg.h>
#include <unistd.h>
#include <webp/encode.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>

#include "core/formats/codecs.h"
#include "core/image/parallel_rows.h"
#include "support/text_image.h"

namespace qel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes png(int w, int h, int type, int depth, const Bytes& raw, std::vector<Rgb> plte = {},
          std::optional<spng_trns> trns = std::nullopt, bool interlaced = false) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{uint32_t(w), uint32_t(h), uint8_t(depth), uint8_t(type), 0, 0, uint8_t(interlaced)};
    spng_set_ihdr(ctx, &ihdr);
    spng_plte p{uint32_t(plte.size()), {}};
    for (size_t i = 0; i < plte.size(); ++i) p.entries[i] = {plte[i].r, plte[i].g, plte[i].b, 255};
    if (!plte.empty()) spng_set_plte(ctx, &p);
    if (trns) spng_set_trns(ctx, &*trns);
    EXPECT_EQ(spng_encode_image(ctx, raw.data(), raw.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
    size_t n = 0;
    int e = 0;
    auto* buf = static_cast<uint8_t*>(spng_get_png_buffer(ctx, &n, &e));
    Bytes out(buf, buf + n);
    free(buf);
    spng_ctx_free(ctx);
    return out;
}

// A TIFF of the first raw.size() / (bytes a row) rows (all of them when the data is complete).
Bytes tiff(const test::TempDir& dir, int w, int h, int photometric, int bps, int spp, const Bytes& raw,
           std::vector<uint16_t> map = {}, bool alpha = false) {
    const std::string path = dir.file("t.tif");
    TIFF* t = TIFFOpen(path.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (alpha) {
        uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (!map.empty()) TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + map.size() / 3, map.data() + map.size() / 3 * 2);
    const size_t row = (size_t(w) * bps * spp + 7) / 8;
    for (int y = 0; size_t(y + 1) * row <= raw.size(); ++y) TIFFWriteScanline(t, const_cast<uint8_t*>(raw.data() + row * y), y, 0);
    TIFFClose(t);
    return test::readBytes(path);
}

// A GIF of one frame at (left, top) on a w x h screen.
Bytes gif(const test::TempDir& dir, int w, int h, int left, int top, int fw, int fh, const Bytes& indices,
          const std::vector<Rgb>& map, int transparent) {
    const std::string path = dir.file("g.gif");
    int e = 0;
    GifFileType* g = EGifOpenFileName(path.c_str(), false, &e);
    std::vector<GifColorType> colours;
    for (Rgb c : map) colours.push_back({c.r, c.g, c.b});
    ColorMapObject* cm = GifMakeMapObject(int(colours.size()), colours.data());
    EGifPutScreenDesc(g, w, h, 8, 0, cm);
    GraphicsControlBlock gcb{0, false, 0, transparent};
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    EGifPutImageDesc(g, left, top, fw, fh, false, nullptr);
    for (int y = 0; y < fh; ++y) EGifPutLine(g, const_cast<uint8_t*>(indices.data() + fw * y), fw);
    EGifCloseFile(g, &e);
    GifFreeMapObject(cm);
    return test::readBytes(path);
}

Bytes jpeg(int w, int h, const Bytes& raw, int pixelFormat) {
    tjhandle tj = tjInitCompress();
    unsigned char* buf = nullptr;
    unsigned long n = 0;
    const int bpp = tjPixelSize[pixelFormat];
    EXPECT_EQ(tjCompress2(tj, raw.data(), w, w * bpp, h, pixelFormat, &buf, &n,
                          pixelFormat == TJPF_GRAY ? TJSAMP_GRAY : TJSAMP_444, 100, 0), 0);
    Bytes out(buf, buf + n);
    tjFree(buf);
    tjDestroy(tj);
    return out;
}

// An APP1 EXIF segment holding only the orientation, put after the start marker.
Bytes withOrientation(Bytes file, int orientation) {
    const Bytes app1{0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                     0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, uint8_t(orientation), 0, 0, 0, 0, 0, 0};
    file.insert(file.begin() + 2, app1.begin(), app1.end());
    return file;
}

// Pixels top-down: the index for indexed pictures, 0xRRGGBB for 24-bit ones.
std::vector<int> pixels(const DibImage& img) {
    std::vector<int> out;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const Rgb c = img.colourAt(x, y);
            out.push_back(img.bitCount() == 24 ? (c.r << 16 | c.g << 8 | c.b) : img.indexAt(x, y));
        }
    return out;
}
std::vector<Rgb> tableOf(const DibImage& img) {
    std::vector<Rgb> t;
    for (int i = 0; i < img.tableSize(); ++i) t.push_back(img.tableColour(i));
    return t;
}
std::vector<Rgb> greys(std::initializer_list<int> levels) {
    std::vector<Rgb> t;
    for (int v : levels) t.push_back(Rgb{uint8_t(v), uint8_t(v), uint8_t(v)});
    return t;
}

const Rgb kRed{255, 0, 0}, kGreen{0, 128, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};
const std::map<char, Rgb> kNames{{'r', kRed}, {'g', kGreen}, {'b', kBlue}};
const std::vector<Rgb> kGrey256 = [] {
    std::vector<Rgb> t;
    for (int i = 0; i < 256; ++i) t.push_back(Rgb{uint8_t(i), uint8_t(i), uint8_t(i)});
    return t;
}();

// A BMP file whose pixels are an embedded PNG stream (compression 5).
Bytes bmpWithPng(const Bytes& stream) {
    auto h = newHeader(2, 1, 0, 0, uint32_t(stream.size()));
    h.biCompression = 5;
    return test::bmpFile(h, {}, stream);
}

TEST(FormatRead, EachLayoutTakesTheDepthThatKeepsItsPixels) {
    test::TempDir dir;
    const std::vector<Rgb> three{kRed, kGreen, kBlue};
    spng_trns paletteAlpha{};
    paletteAlpha.n_type3_entries = 2;
    paletteAlpha.type3_alpha[0] = 255;
    paletteAlpha.type3_alpha[1] = 0;
    spng_trns greyKey{};
    greyKey.gray = 1;
    auto u16 = [](std::initializer_list<int> v) {
        Bytes b;
        b.reserve(2 * v.size());
        for (int x : v) b.insert(b.end(), {uint8_t(x & 0xFF), uint8_t(x >> 8)});  // host order
        return b;
    };
    const Bytes rgbaPng = png(2, 1, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, {255, 0, 0, 255, 0, 0, 0, 0});
    struct Case {
        const char* name;
        Bytes file;
        int bitCount;
        std::vector<Rgb> table;
        std::vector<int> pixels;
        ImageFormat format;
    };
    const Case cases[] = {
        {"png palette 1", png(3, 1, 3, 1, {0b10100000}, {kRed, kBlue}), 1, {kRed, kBlue}, {1, 0, 1}, ImageFormat::Png},
        {"png palette 2 -> 4", png(3, 1, 3, 2, {0b10'01'00'00}, three), 4, three, {2, 1, 0}, ImageFormat::Png},
        {"png palette 4", png(2, 1, 3, 4, {0x21}, three), 4, three, {2, 1}, ImageFormat::Png},
        {"png palette 8, transparent entry white", png(2, 1, 3, 8, {1, 0}, {kRed, kBlue}, paletteAlpha), 8,
         {kRed, kWhite}, {1, 0}, ImageFormat::Png},
        {"png palette, interlaced", png(3, 2, 3, 8, {0, 1, 2, 2, 1, 0}, three, std::nullopt, true), 8, three,
         {0, 1, 2, 2, 1, 0}, ImageFormat::Png},
        {"png grey 1", png(3, 1, 0, 1, {0b01000000}), 1, greys({0, 255}), {0, 1, 0}, ImageFormat::Png},
        {"png grey 2, level 1 transparent", png(4, 1, 0, 2, {0b00011011}, {}, greyKey), 8, kGrey256,
         {0, 255, 170, 255}, ImageFormat::Png},
        {"png grey 4", png(3, 1, 0, 4, {0x0F, 0x70}), 8, kGrey256, {0, 255, 119}, ImageFormat::Png},
        {"png grey 16", png(3, 1, 0, 16, u16({1000, 32767, 65535})), 8, kGrey256, {4, 127, 255}, ImageFormat::Png},
        {"png grey alpha", png(3, 1, 4, 8, {0, 0, 0, 128, 200, 255}), 8, kGrey256, {255, 127, 200}, ImageFormat::Png},
        {"png rgb 16", png(1, 1, 2, 16, u16({65535, 1000, 32767})), 24, {}, {0xFF047F}, ImageFormat::Png},
        {"png rgba: transparent shows white", rgbaPng, 24, {}, {0xFF0000, 0xFFFFFF}, ImageFormat::Png},
        {"bmp with embedded png", bmpWithPng(rgbaPng), 24, {}, {0xFF0000, 0xFFFFFF}, ImageFormat::Bmp},
        {"tiff palette 2 -> 4", tiff(dir, 3, 1, PHOTOMETRIC_PALETTE, 2, 1, {0b10'01'00'00},
                                     {65535, 0, 0, 0, 0, 32896, 0, 0, 0, 0, 65535, 0}),
         4, {kRed, kGreen, kBlue, Rgb{0, 0, 0}}, {2, 1, 0}, ImageFormat::Tiff},
        {"tiff min-is-white 1", tiff(dir, 3, 1, PHOTOMETRIC_MINISWHITE, 1, 1, {0b01000000}), 1, greys({255, 0}),
         {0, 1, 0}, ImageFormat::Tiff},
        {"tiff grey 4", tiff(dir, 2, 1, PHOTOMETRIC_MINISBLACK, 4, 1, {0x3F}), 8, kGrey256, {51, 255}, ImageFormat::Tiff},
        {"tiff rgb 16", tiff(dir, 1, 1, PHOTOMETRIC_RGB, 16, 3, u16({65535, 1000, 32767})), 24, {}, {0xFF047F},
         ImageFormat::Tiff},
        {"tiff rgba: transparent shows white", tiff(dir, 2, 1, PHOTOMETRIC_RGB, 8, 4, {255, 0, 0, 255, 0, 0, 0, 0}, {}, true),
         24, {}, {0xFF0000, 0xFFFFFF}, ImageFormat::Tiff},
        {"gif: transparent index and the screen around the frame white",
         gif(dir, 3, 2, 1, 0, 2, 1, {0, 1}, {kRed, kBlue}, 1), 1, {kRed, kWhite}, {1, 0, 1, 1, 1, 1}, ImageFormat::Gif},
        {"gif without transparency", gif(dir, 2, 1, 0, 0, 2, 1, {1, 0}, {kRed, kBlue}, NO_TRANSPARENT_COLOR), 1,
         {kRed, kBlue}, {1, 0}, ImageFormat::Gif},
    };
    for (const Case& c : cases) {
        DibImage img;
        ImageError e = ImageError::None;
        std::string why;
        ASSERT_NE(img.loadBytes(c.file.data(), c.file.size(), &e, &why), nullptr) << c.name << ": " << why;
        EXPECT_EQ(img.bitCount(), c.bitCount) << c.name;
        EXPECT_EQ(tableOf(img), c.table) << c.name;
        EXPECT_EQ(pixels(img), c.pixels) << c.name;
        EXPECT_EQ(img.fileFormat, c.format) << c.name;
    }
}

TEST(FormatRead, LossyFormatsGiveGreyOrColour) {
    // Black and white 8 x 8 blocks decode exactly enough to name each block.
    Bytes grey(16 * 8), bgr(16 * 8 * 3), cmyk(16 * 8 * 4);
    for (int i = 0; i < 16 * 8; ++i) {
        const bool white = i % 16 >= 8;
        grey[i] = white ? 255 : 0;
        std::fill_n(bgr.begin() + 3 * i, 3, white ? 255 : 0);
        std::fill_n(cmyk.begin() + 4 * i, 4, white ? 255 : 0);  // stored inverted: 255 is no ink
    }
    uint8_t* lossless = nullptr;
    Bytes rgba{0, 0, 255, 255, 0, 0, 0, 0};
    const size_t n = WebPEncodeLosslessRGBA(rgba.data(), 2, 1, 8, &lossless);
    const Bytes webp(lossless, lossless + n);
    WebPFree(lossless);
    struct Case {
        const char* name;
        Bytes file;
        int bitCount;
        test::Rows rows;
    };
    const Case cases[] = {
        {"jpeg grey", jpeg(16, 8, grey, TJPF_GRAY), 8, {"#."}},
        {"jpeg colour", jpeg(16, 8, bgr, TJPF_BGR), 24, {"#."}},
        {"jpeg cmyk", jpeg(16, 8, cmyk, TJPF_CMYK), 24, {"#."}},
        {"webp alpha over white", webp, 24, {"b."}},
    };
    for (const Case& c : cases) {
        DibImage img;
        std::string why;
        ASSERT_NE(img.loadBytes(c.file.data(), c.file.size(), nullptr, &why), nullptr) << c.name << ": " << why;
        EXPECT_EQ(img.bitCount(), c.bitCount) << c.name;
        // One character per 8 x 8 block (one per pixel for the 2 x 1 WebP).
        const int cell = img.width == 2 ? 1 : 8;
        test::Rows rows;
        for (int y = cell / 2; y < img.height; y += cell) {
            std::string row;
            for (int x = cell / 2; x < img.width; x += cell) {
                const Rgb p = img.colourAt(x, y);
                row += p.b > 128 && p.r < 128 ? 'b' : p.r < 128 ? '#' : p.g > 128 ? '.' : '?';
            }
            rows.push_back(row);
        }
        EXPECT_EQ(rows, c.rows) << c.name;
    }
}

TEST(FormatRead, ExifOrientationTurnsThePhotoUpright) {
    // A 24 x 16 photo with its top-left 8 x 8 block black.
    Bytes bgr(24 * 16 * 3, 255);
    for (int y = 0; y < 8; ++y) std::fill_n(bgr.begin() + y * 24 * 3, 8 * 3, 0);
    const Bytes plain = jpeg(24, 16, bgr, TJPF_BGR);
    const std::map<int, test::Rows> upright = {
        {1, {"#..", "..."}}, {2, {"..#", "..."}},    {3, {"...", "..#"}},    {4, {"...", "#.."}},
        {5, {"#.", "..", ".."}}, {6, {".#", "..", ".."}}, {7, {"..", "..", ".#"}}, {8, {"..", "..", "#."}},
    };
    for (const auto& [orientation, want] : upright) {
        const Bytes file = withOrientation(plain, orientation);
        DibImage img;
        ASSERT_NE(img.loadBytes(file.data(), file.size()), nullptr) << orientation;
        test::Rows cells;
        for (int y = 4; y < img.height; y += 8) {
            std::string row;
            for (int x = 4; x < img.width; x += 8) row += img.colourAt(x, y).r < 128 ? '#' : '.';
            cells.push_back(row);
        }
        EXPECT_EQ(cells, want) << "orientation " << orientation;
    }
    // A grey line turned into a one-pixel column: each row holds its pixel and zero padding.
    const Bytes line = jpeg(8, 1, Bytes(8, 200), TJPF_GRAY);
    for (int orientation = 5; orientation <= 8; ++orientation) {
        const Bytes file = withOrientation(line, orientation);
        DibImage img;
        ASSERT_NE(img.loadBytes(file.data(), file.size()), nullptr) << orientation;
        std::vector<uint8_t> want;
        for (int y = 0; y < 8; ++y) want.insert(want.end(), {200, 0, 0, 0});
        EXPECT_EQ(img.bits, want) << "orientation " << orientation;
    }
}

TEST(FormatWrite, LosslessFormatsKeepEveryPixelAndTable) {
    test::TempDir dir;
    const std::vector<std::unique_ptr<DibImage>> pictures = [] {
        std::vector<std::unique_ptr<DibImage>> v;
        v.push_back(test::makeIndexed(1, {"0110", "1001"}, {kRed, kBlue}));
        v.push_back(test::makeIndexed(4, {"0123", "fedc"}, {kRed, kGreen, kBlue}));
        v.push_back(test::makeIndexed(8, {"012", "210"}, {kRed, kGreen, kBlue}, {}, true));  // a 3-entry table
        v.push_back(test::make24({"#r.", "gb#"}, kNames));
        // Over a megabyte of rows: the PNG writer deflates it in slices joined into one stream.
        test::Rows big(540, std::string(700, '.'));
        uint32_t state = 1;
        for (auto& row : big)
            for (char& c : row) c = "#.rgb"[(state = state * 1103515245 + 12345) >> 16 & 3 ? 1 : (state >> 20) % 5];
        v.push_back(test::make24(big, kNames));
        return v;
    }();
    for (const auto& pic : pictures) {
        for (const char* name : {"a.png", "a.PNG", "a.tif", "a.tiff", "a.webp", "a.bmp"}) {
            const std::string path = dir.file(name);
            ASSERT_EQ(pic->saveFile(path), ImageError::None) << name << ": " << pic->refusalReason;
            DibImage back;
            std::string why;
            ASSERT_NE(back.loadFile(path, nullptr, &why), nullptr) << name << ": " << why;
            // WebP holds colour only; the other formats keep the depth and the indices.
            const bool colourOnly = std::string(name) == "a.webp";
            EXPECT_EQ(back.bitCount(), colourOnly ? 24 : pic->bitCount()) << name;
            EXPECT_EQ(test::colourRows(back, kNames), test::colourRows(*pic, kNames)) << name << " " << pic->bitCount();
            if (!colourOnly) {
                EXPECT_EQ(pixels(back), pixels(*pic)) << name << " " << pic->bitCount();
            }
            // PNG and BMP keep the table as it is; a TIFF map always has the depth's full size.
            if (!colourOnly && std::string(name).find(".tif") == std::string::npos) {
                EXPECT_EQ(tableOf(back), tableOf(*pic)) << name << " " << pic->bitCount();
            }
            if (std::string(name) == "a.bmp") {
                // PNG -> BMP -> reload gives the same blocks as reading the PNG.
                DibImage viaPng;
                ASSERT_EQ(pic->saveFile(dir.file("b.png")), ImageError::None);
                ASSERT_NE(viaPng.loadFile(dir.file("b.png")), nullptr);
                ASSERT_EQ(viaPng.saveFile(dir.file("b.bmp")), ImageError::None);
                ASSERT_NE(back.loadFile(dir.file("b.bmp")), nullptr);
                EXPECT_EQ(back.info, viaPng.info);
                EXPECT_EQ(back.bits, viaPng.bits);
            }
        }
    }
}

TEST(FormatWrite, EveryPngEffortKeepsThePixelsAndTradesTimeForSize) {
    test::TempDir dir;
    // A repeating pattern: long repeats that only the searching efforts find.
    const auto colour = test::make24(test::Rows(24, "#r.gb##..rrgg.#b.r#gg.b#"), kNames);
    const auto palette = test::makeIndexed(4, test::Rows(8, "0123fedc0123"), {kRed, kGreen, kBlue});
    // Effort, then the level hint zlib writes after 0x78 (fastest, fast, default, best).
    const std::pair<int, uint8_t> efforts[] = {{0, 0xDA}, {1, 0x01}, {2, 0x01}, {3, 0x5E}, {4, 0x5E},
                                               {5, 0x5E}, {6, 0x9C}, {7, 0xDA}, {8, 0xDA}, {9, 0xDA}};
    std::map<int, Bytes> files;
    for (const auto& [effort, hint] : efforts) {
        for (const DibImage* pic : {colour.get(), palette.get()}) {
            const std::string path = dir.file("e.png");
            ASSERT_EQ(pic->saveFile(path, {ImageFormat::Png, 0, effort}), ImageError::None) << effort;
            DibImage back;
            ASSERT_NE(back.loadFile(path), nullptr) << effort;
            EXPECT_EQ(pixels(back), pixels(*pic)) << effort;
            EXPECT_EQ(tableOf(back), tableOf(*pic)) << effort;
            Bytes bytes = test::readBytes(path);
            if (pic == colour.get()) {
                EXPECT_EQ(bytes[42], hint) << effort;  // the zlib header after the IHDR and IDAT's length and type
                files[effort] = std::move(bytes);
            }
        }
    }
    EXPECT_EQ(files[0], files[7]);  // no effort given: 7
    EXPECT_NE(files[1], files[2]);  // the Sub filter against the choice per row
    EXPECT_GT(files[1].size(), files[9].size());
    EXPECT_GT(files[2].size(), files[9].size());
    Bytes out;
    EXPECT_EQ(encodePicture(*colour, ImageFormat::Png, 0, out, 10).reason, "PNG effort must be 1 to 9");
    EXPECT_EQ(encodePicture(*colour, ImageFormat::Png, 0, out, -1).reason, "PNG effort must be 1 to 9");
    EXPECT_EQ(encodePicture(*colour, ImageFormat::Jpeg, 0, out, 3).reason, "PNG effort given for a JPEG file");
    EXPECT_EQ(colour->saveFile(dir.file("e.bmp"), {ImageFormat::Unknown, 0, 3}), ImageError::WriteFailed);
    EXPECT_EQ(colour->refusalReason, "PNG effort given for a BMP file");
}

TEST(FormatWrite, JpegAndLossyWebpFollowTheQualityAndUnknownNamesAreRefused) {
    test::TempDir dir;
    auto pic = test::makeIndexed(8, test::Rows(8, "0000000011111111"), {kRed, kBlue});
    for (const char* name : {"q.jpg", "q.JPEG", "q.webp"}) {
        std::vector<uintmax_t> sizes;
        for (int quality : {10, 95}) {
            ASSERT_EQ(pic->saveFile(dir.file(name), {ImageFormat::Unknown, quality}), ImageError::None) << name;
            sizes.push_back(std::filesystem::file_size(dir.file(name)));
            DibImage back;
            ASSERT_NE(back.loadFile(dir.file(name)), nullptr) << name;
            EXPECT_EQ(back.bitCount(), 24) << name;  // indexed pictures are written as colour
            EXPECT_GT(back.colourAt(0, 0).r, 200) << name;
            EXPECT_GT(back.colourAt(15, 7).b, 200) << name;
        }
        EXPECT_LT(sizes[0], sizes[1]) << name;
    }
    // An explicit format wins over the name; a name without a writable format is refused, nothing written.
    ASSERT_EQ(pic->saveFile(dir.file("noext"), {ImageFormat::Png, 0}), ImageError::None);
    EXPECT_EQ(formatByContent(test::readBytes(dir.file("noext")).data(), 8), ImageFormat::Png);
    for (const char* name : {"x", "x.txt", "x.gif", "x.png.bak"}) {
        EXPECT_EQ(pic->saveFile(dir.file(name)), ImageError::UnknownFormat) << name;
        EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
        EXPECT_FALSE(pic->refusalReason.empty()) << name;
    }
}

uint32_t crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

// The PNG with its IHDR claiming another size (CRC kept valid).
Bytes pngClaiming(Bytes file, uint32_t w, uint32_t h) {
    for (int i = 0; i < 4; ++i) {
        file[16 + i] = uint8_t(w >> (24 - 8 * i));
        file[20 + i] = uint8_t(h >> (24 - 8 * i));
    }
    const uint32_t crc = crc32(file.data() + 12, 17);
    for (int i = 0; i < 4; ++i) file[29 + i] = uint8_t(crc >> (24 - 8 * i));
    return file;
}

TEST(FormatRead, DamagedAndOversizedFilesAreRefusedWithAReason) {
    test::TempDir dir;
    const Bytes okPng = png(64, 64, 2, 8, Bytes(64 * 64 * 3, 7));
    Bytes bgr(64 * 64 * 3, 100);
    const Bytes okJpeg = jpeg(64, 64, bgr, TJPF_BGR);
    Bytes bigJpeg = okJpeg;
    for (size_t i = 2; i + 8 < bigJpeg.size(); ++i)
        if (bigJpeg[i] == 0xFF && bigJpeg[i + 1] == 0xC0) {  // SOF0: height and width at +5 and +7
            bigJpeg[i + 5] = bigJpeg[i + 7] = 0x9C;  // 40000 x 40000
            bigJpeg[i + 6] = bigJpeg[i + 8] = 0x40;
            break;
        }
    uint8_t* w = nullptr;
    const size_t wn = WebPEncodeLosslessBGR(bgr.data(), 64, 64, 64 * 3, &w);
    const Bytes okWebp(w, w + wn);
    WebPFree(w);
    const Bytes okTiff = tiff(dir, 64, 64, PHOTOMETRIC_RGB, 8, 3, bgr);
    const Bytes okGif = gif(dir, 64, 64, 0, 0, 64, 64, Bytes(64 * 64, 1), {kRed, kBlue}, NO_TRANSPARENT_COLOR);
    auto cut = [](const Bytes& b) { return Bytes(b.begin(), b.begin() + b.size() * 2 / 3); };
    struct Case {
        const char* name;
        Bytes file;
        ImageError error;
        const char* reasonMentions;
    };
    const Case cases[] = {
        {"png cut short", cut(okPng), ImageError::NotBitmap, "PNG"},
        {"png claiming 20000 x 20000", pngClaiming(okPng, 20000, 20000), ImageError::TooLarge, "20000 x 20000"},
        {"png claiming 70000 wide", pngClaiming(okPng, 70000, 1), ImageError::TooLarge, "70000"},
        {"png bomb: 16000 x 16000 from a few bytes", pngClaiming(okPng, 16000, 16000), ImageError::NotBitmap,
         "too little image data"},
        {"jpeg cut short", cut(okJpeg), ImageError::NotBitmap, "JPEG"},
        {"jpeg claiming 40000 x 40000", bigJpeg, ImageError::TooLarge, "too large"},
        {"webp cut short", cut(okWebp), ImageError::NotBitmap, "WebP"},
        {"tiff cut short", cut(okTiff), ImageError::NotBitmap, "TIFF"},
        {"tiff bomb: 16000 x 16000, one row", tiff(dir, 16000, 16000, PHOTOMETRIC_MINISBLACK, 8, 1, Bytes(16000, 1)),
         ImageError::NotBitmap, "too little image data"},
        {"gif cut short", cut(okGif), ImageError::NotBitmap, "GIF"},
        {"gif failing with an error giflib has no text for",
         test::readBytes(std::string(QEL_TEST_DATA) + "/../../fuzz/regressions/fuzz_gif/unknown-error-code.gif"),
         ImageError::NotBitmap, "GIF"},
        {"bmp with a broken embedded png", bmpWithPng(cut(okPng)), ImageError::NotBitmap, "PNG"},
    };
    for (const Case& c : cases) {
        DibImage img;
        ImageError e = ImageError::None;
        std::string why;
        EXPECT_EQ(img.loadBytes(c.file.data(), c.file.size(), &e, &why), nullptr) << c.name;
        EXPECT_EQ(e, c.error) << c.name << ": " << why;
        EXPECT_NE(why.find(c.reasonMentions), std::string::npos) << c.name << ": " << why;
        EXPECT_TRUE(img.info.empty() && img.bits.empty()) << c.name;
    }
}


// A conversion runs the writer beside the reader: the file is the one loading then saving makes,
// for pictures of several PNG slices and JPEG bands; a read that fails part way writes nothing.
TEST(Conversion, WritesWhatLoadingThenSavingWritesAndNothingWhenTheReadFails) {
    test::TempDir dir;
    const int w = 700, h = 1200;
    DibImage photo;
    photo.replace(makeInfoBlock(newHeader(w, h, 24, 0, uint32_t(strideFor(w, 24) * h)), 0), PixelBytes(size_t(strideFor(w, 24) * h)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = photo.rowFromTop(y) + 3 * x;
            p[0] = uint8_t(x * 255 / w), p[1] = uint8_t((x ^ y) & 255), p[2] = uint8_t(y % 97 * 2);
        }
    auto indexed = test::makeIndexed(8, test::Rows(300, std::string(400, '1')), {kRed, kBlue});
    ASSERT_EQ(photo.saveFile(dir.file("photo.png")), ImageError::None);
    ASSERT_EQ(photo.saveFile(dir.file("photo.jpg")), ImageError::None);
    ASSERT_EQ(photo.saveFile(dir.file("photo.bmp")), ImageError::None);
    ASSERT_EQ(indexed->saveFile(dir.file("indexed.png")), ImageError::None);
    const Bytes png = test::readBytes(dir.file("photo.png")), jpg = test::readBytes(dir.file("photo.jpg"));
    ASSERT_TRUE(test::writeBytes(dir.file("cut.png"), Bytes(png.begin(), png.begin() + png.size() * 6 / 10)));
    ASSERT_TRUE(test::writeBytes(dir.file("cut.jpg"), Bytes(jpg.begin(), jpg.begin() + jpg.size() * 6 / 10)));
    // Turned by its orientation, a photo's rows are final only when the whole photo is read.
    ASSERT_TRUE(test::writeBytes(dir.file("turned.jpg"), withOrientation(jpg, 6)));
    struct Case { const char *in, *out; bool reads; };
    for (const auto& [in, out, reads] : {Case{"photo.png", "a.png", true}, {"photo.png", "a.jpg", true},
                                         {"photo.jpg", "a.png", true}, {"photo.jpg", "a.jpg", true},
                                         {"turned.jpg", "a.png", true}, {"turned.jpg", "a.jpg", true},
                                         {"indexed.png", "a.png", true}, {"photo.bmp", "a.jpg", true},
                                         {"photo.png", "photo.png", true}, {"cut.png", "a.png", false},
                                         {"cut.jpg", "a.jpg", false}, {"cut.png", "a.jpg", false}}) {
        DibImage alone;
        Bytes expected;
        if (reads) {
            ASSERT_NE(alone.loadFile(dir.file(in)), nullptr) << in;
            ASSERT_EQ(alone.saveFile(dir.file("expected"), {formatByExtension(out), 0}), ImageError::None) << in;
            expected = test::readBytes(dir.file("expected"));
        }
        if (std::string(in) != out) {
            ASSERT_TRUE(test::writeBytes(dir.file(out), {1, 2, 3}));
        }
        DibImage converted;
        ImageError saved = ImageError::MissLoad, error = ImageError::None;
        const bool read = converted.convertFile(dir.file(in), dir.file(out), {}, &saved, &error) != nullptr;
        EXPECT_EQ(read, reads) << in << " -> " << out;
        if (reads) {
            EXPECT_EQ(saved, ImageError::None) << in << " -> " << out;
            EXPECT_EQ(test::readBytes(dir.file(out)), expected) << in << " -> " << out;
            EXPECT_EQ(converted.bits, alone.bits) << in;
        } else {
            EXPECT_EQ(error, ImageError::NotBitmap) << in;
            EXPECT_EQ(test::readBytes(dir.file(out)), (Bytes{1, 2, 3})) << in << " -> " << out;
            EXPECT_FALSE(converted.hasPicture()) << in;
        }
        if (std::string(out) == "photo.png") {
            ASSERT_EQ(photo.saveFile(dir.file("photo.png")), ImageError::None);
        }
    }
    int temporaries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path))
        temporaries += entry.path().filename().string().find(".qel-") != std::string::npos;
    EXPECT_EQ(temporaries, 0);
    // The read of the cut PNG fails after its first rows are made: it keeps the blocks until the
    // writer beside it has let them go. They are looked at once the reader has either gone to sleep
    // waiting for that or gone on.
    const Bytes cut = test::readBytes(dir.file("cut.png"));
    std::vector<uint8_t> info;
    PixelBytes bits;
    RowFeed feed;
    std::atomic<pid_t> tid{0};
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        tid = gettid();
        decodePicture(cut.data(), cut.size(), info, bits, nullptr, {}, &feed);
        returned = true;
    });
    // (Whether the writer would have seen the picture made depends on when it asks: the read may
    // have failed already.)
    EXPECT_FALSE(feed.waitEnd());
    auto asleep = [&tid] {
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        const std::string text{std::istreambuf_iterator<char>(stat), {}};
        return text.rfind(") S ") != std::string::npos;
    };
    while (!returned && !asleep()) std::this_thread::yield();
    const bool held = !info.empty() && !bits.empty();
    feed.released();
    reader.join();
    EXPECT_TRUE(held && info.empty() && bits.empty());
}

// A conversion whose picture is not kept passes colour and grey rows through a window of a few
// bands: the file loading then saving writes, the record left empty; a read failing part way
// writes nothing, and a writer that cannot write lets the reader finish.
TEST(Conversion, ThroughAWindowWritesWhatLoadingThenSavingWrites) {
    test::TempDir dir;
    const int before = std::exchange(rowThreadLimit(), 2);  // windows for two writer threads on any machine
    auto picture = [](int w, int h, int bc) {
        auto pic = std::make_unique<DibImage>();
        const int64_t stride = strideFor(w, bc);
        pic->replace(makeInfoBlock(newHeader(w, h, uint16_t(bc), bc == 8 ? 256 : 0, uint32_t(stride * h)), bc == 8 ? 256 : 0),
                     PixelBytes(size_t(stride * h)));
        for (int i = 0; bc == 8 && i < 256; ++i) setInfoColour(pic->info, i, Rgb{uint8_t(i), uint8_t(i), uint8_t(i)});
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w * bc / 8; ++x) pic->rowFromTop(y)[x] = uint8_t((x * 7 / 3) ^ (y % 251) ^ (x * y >> 9));
        return pic;
    };
    ASSERT_EQ(picture(700, 2400, 24)->saveFile(dir.file("photo.png")), ImageError::None);
    ASSERT_EQ(picture(700, 2400, 24)->saveFile(dir.file("photo.jpg")), ImageError::None);
    ASSERT_EQ(picture(300, 700, 8)->saveFile(dir.file("grey.jpg")), ImageError::None);
    for (const char* name : {"photo.png", "photo.jpg"}) {
        const Bytes whole = test::readBytes(dir.file(name));
        ASSERT_TRUE(test::writeBytes(dir.file(std::string("cut-") + name), Bytes(whole.begin(), whole.begin() + whole.size() * 7 / 10)));
    }
    struct Case { const char *in, *out; bool reads, windowed; };
    for (const auto& [in, out, reads, windowed] :
         {Case{"photo.png", "a.png", true, true}, {"photo.png", "a.jpg", true, true}, {"photo.jpg", "a.jpg", true, true},
          {"photo.jpg", "a.png", true, true}, {"grey.jpg", "a.jpg", true, true}, {"grey.jpg", "a.png", true, false},
          {"photo.png", "none/a.png", true, true}, {"cut-photo.png", "a.png", false, true},
          {"cut-photo.jpg", "a.jpg", false, true}, {"cut-photo.png", "a.jpg", false, true}}) {
        const bool writable = std::string(out) != "none/a.png";
        Bytes expected{1, 2, 3};
        if (reads && writable) {
            DibImage alone;
            ASSERT_NE(alone.loadFile(dir.file(in)), nullptr) << in;
            ASSERT_EQ(alone.saveFile(dir.file(out)), ImageError::None) << in;
            expected = test::readBytes(dir.file(out));
        }
        if (writable) ASSERT_TRUE(test::writeBytes(dir.file(out), {1, 2, 3}));
        DibImage converted;
        ImageError saved = ImageError::MissLoad, error = ImageError::None;
        const DisplayBitmap* shown = converted.convertFile(dir.file(in), dir.file(out), {}, &saved, &error, nullptr, false);
        EXPECT_EQ(shown != nullptr, reads) << in << " -> " << out;
        EXPECT_EQ(error, reads ? ImageError::None : ImageError::NotBitmap) << in << " -> " << out;
        EXPECT_EQ(saved, !reads ? ImageError::MissLoad : writable ? ImageError::None : ImageError::WriteFailed) << in << " -> " << out;
        if (writable) EXPECT_EQ(test::readBytes(dir.file(out)), expected) << in << " -> " << out;
        EXPECT_EQ(converted.info.empty(), windowed || !reads) << in << " -> " << out;
    }
    rowThreadLimit() = before;
}

// A writer beside a reader reads only the rows the feed has made final: with 16 of 17 rows final
// when the read fails, it writes no palette and no pixels.
TEST(Conversion, TheWriterReadsNoRowBeforeItIsFinal) {
    const auto colour = test::make24(test::Rows(17, std::string(40, 'r')), kNames);
    const auto indexed = test::makeIndexed(8, test::Rows(17, std::string(40, '1')), {kRed, kBlue});
    for (const DibImage* pic : {colour.get(), indexed.get()})
        for (const ImageFormat format : {ImageFormat::Png, ImageFormat::Jpeg}) {
            RowFeed feed;
            feed.made();
            feed.rows(16);
            feed.end(false);
            std::string written;
            const CodecResult r = encodePicture(*pic, format, 0, [&](const uint8_t* data, size_t size) {
                written.append(reinterpret_cast<const char*>(data), size);
                return true;
            }, &feed);
            EXPECT_FALSE(r) << formatName(format) << " " << pic->bitCount();
            EXPECT_TRUE(written.find("PLTE") == written.npos && written.find("IDAT") == written.npos)
                << formatName(format) << " " << pic->bitCount();
        }
}

}  // namespace
}  // namespace qel
