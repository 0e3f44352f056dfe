// TIFF layouts read exactly (alpha, tiles of any size, orientation), the header probe,
// refusals, grey and bilevel writing and multi-page saves. Files are made here with libtiff.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <cstring>

#include "core/formats/codecs.h"
#include "support/text_image.h"

namespace qel {
namespace {

using Bytes = std::vector<uint8_t>;

struct Page {
    uint32_t w, h, photometric, bps, spp;
    Bytes samples;      // rows top-down as stored (16-bit samples in host order)
    uint32_t tile = 0;  // tile side, 0 for strips
    std::vector<uint16_t> extra = {}, map = {};
    uint32_t compression = COMPRESSION_NONE, orientation = 1;
    Bytes raw = {};  // the only tile, coded, written as it is
    std::string description = {};
};

Bytes u16(std::vector<uint16_t> v) { Bytes b(v.size() * 2); std::memcpy(b.data(), v.data(), b.size()); return b; }

Bytes tiffFile(const test::TempDir& dir, const std::vector<Page>& pages, const char* mode = "w") {
    TIFF* t = TIFFOpen(dir.file("t.tif").c_str(), mode);
    for (const Page& p : pages) {
        const uint32_t tag = p.tile ? TIFFTAG_TILEWIDTH : TIFFTAG_ROWSPERSTRIP, side = p.tile ? p.tile : p.h;
        for (auto [tag, v] : std::initializer_list<std::pair<uint32_t, uint32_t>>{
                 {TIFFTAG_IMAGEWIDTH, p.w}, {TIFFTAG_IMAGELENGTH, p.h}, {TIFFTAG_BITSPERSAMPLE, p.bps}, {TIFFTAG_SAMPLESPERPIXEL, p.spp},
                 {TIFFTAG_PHOTOMETRIC, p.photometric}, {TIFFTAG_COMPRESSION, p.compression}, {TIFFTAG_ORIENTATION, p.orientation},
                 {tag, side}, {p.tile ? TIFFTAG_TILELENGTH : tag, side}})
            TIFFSetField(t, tag, v);
        if (!p.extra.empty()) TIFFSetField(t, TIFFTAG_EXTRASAMPLES, int(p.extra.size()), p.extra.data());
        if (!p.map.empty()) TIFFSetField(t, TIFFTAG_COLORMAP, p.map.data(), &p.map[p.map.size() / 3], &p.map[p.map.size() / 3 * 2]);
        if (!p.description.empty()) TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, p.description.c_str());
        if (!p.raw.empty()) TIFFWriteRawTile(t, 0, const_cast<uint8_t*>(p.raw.data()), tmsize_t(p.raw.size()));
        const size_t row = (size_t(p.w) * p.bps * p.spp + 7) / 8, tileRow = size_t(p.tile) * p.bps * p.spp / 8;
        for (uint32_t ty = 0; p.tile && p.raw.empty() && ty < p.h; ty += p.tile)
            for (uint32_t tx = 0, from = 0; tx < p.w; tx += p.tile, from = tx * p.bps * p.spp / 8) {
                Bytes tile(tileRow * p.tile, 0);
                for (uint32_t r = 0; r < p.tile && ty + r < p.h; ++r)
                    std::memcpy(&tile[tileRow * r], &p.samples[row * (ty + r) + from], std::min(tileRow, row - from));
                TIFFWriteTile(t, tile.data(), tx, ty, 0, 0);
            }
        for (uint32_t y = 0; !p.tile && y < p.h; ++y) TIFFWriteScanline(t, const_cast<uint8_t*>(&p.samples[row * y]), y, 0);
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return test::readBytes(dir.file("t.tif"));
}

// Pixels top-down: the index for indexed pictures, 0xRRGGBB for 24-bit ones.
std::vector<int> pixels(const DibImage& img) {
    std::vector<int> out;
    for (int i = 0, x = 0, y = 0; i < img.width * img.height; ++i, x = i % img.width, y = i / img.width)
        out.push_back(img.bitCount() == 24 ? int(img.colourAt(x, y).r << 16 | img.colourAt(x, y).g << 8 | img.colourAt(x, y).b) : img.indexAt(x, y));
    return out;
}
// f(x, y) over w x h, rows top-down: as ints, or as samples of `bits` bits packed from the high bit.
template <class F> std::vector<int> grid(uint32_t w, uint32_t h, F f) {
    std::vector<int> v;
    for (uint32_t i = 0; i < w * h; ++i) v.push_back(int(f(i % w, i / w)));
    return v;
}
template <class F> Bytes samples(uint32_t w, uint32_t h, int bits, F f) {
    const size_t row = (size_t(w) * bits + 7) / 8;
    Bytes b(row * h, 0);
    for (uint32_t i = 0, x = 0, y = 0; i < w * h; ++i, x = i % w, y = i / w) {
        const auto v = uint16_t(f(x, y));
        if (bits == 16) std::memcpy(&b[row * y + 2 * x], &v, 2);
        else b[row * y + x * bits / 8] |= uint8_t(v << (8 - bits - x * bits % 8));
    }
    return b;
}
std::vector<uint16_t> ramp(int n) {  // a colour map: entry i is (i, 2i, 3i) on the 8-bit scale
    std::vector<uint16_t> m;
    for (int i = 0; i < 3 * n; ++i) m.push_back(uint16_t(257 * (i / n + 1) * (i % n)));
    return m;
}

TEST(TiffRead, LayoutsKeepTheirDepthAndPixelsAndTheProbeAgrees) {
    test::TempDir dir;
    auto grey = [](uint32_t x, uint32_t y) { return (x * 11 + y * 5) % 256; };
    auto k = [](uint32_t x, uint32_t y) { return (x * 13 + y) % 256; };
    auto k16 = [&](uint32_t x, uint32_t y) { return 257 * k(x, y) + 100; };  // scales to k
    auto idx = [](uint32_t x, uint32_t y) { return (x + y) % 16; };
    auto bit = [](uint32_t x, uint32_t y) { return (x + y) % 3 == 0 ? 1u : 0u; };
    struct Case { const char* name; Bytes file; int depth; std::vector<int> pixels; };
    const Case cases[] = {
        // Composited over white as two other readers give it: 191 for half grey at half alpha.
        {"grey+alpha 8, unassociated", tiffFile(dir, {{2, 1, PHOTOMETRIC_MINISBLACK, 8, 2, {127, 128, 200, 0}, 0, {EXTRASAMPLE_UNASSALPHA}}}), 8, {191, 255}},
        {"grey+alpha 8, associated", tiffFile(dir, {{2, 1, PHOTOMETRIC_MINISBLACK, 8, 2, {64, 128, 0, 255}, 0, {EXTRASAMPLE_ASSOCALPHA}}}), 8, {191, 0}},
        {"grey+alpha 16, unassociated", tiffFile(dir, {{2, 1, PHOTOMETRIC_MINISBLACK, 16, 2, u16({32768, 32767, 0, 65535}), 0, {EXTRASAMPLE_UNASSALPHA}}}), 8, {191, 0}},
        {"grey+alpha 16, associated", tiffFile(dir, {{1, 1, PHOTOMETRIC_MINISBLACK, 16, 2, u16({16448, 32896}), 0, {EXTRASAMPLE_ASSOCALPHA}}}), 8, {191}},
        {"uncompressed 16 x 16 tiles", tiffFile(dir, {{20, 17, PHOTOMETRIC_MINISBLACK, 8, 1, samples(20, 17, 8, grey), 16}}), 8, grid(20, 17, grey)},
        {"uncompressed 48 x 48 tiles, BigTIFF", tiffFile(dir, {{50, 3, PHOTOMETRIC_MINISBLACK, 8, 1, samples(50, 3, 8, grey), 48}}, "w8"), 8, grid(50, 3, grey)},
        {"16-bit grey deflate tiles: last column", tiffFile(dir, {{20, 3, PHOTOMETRIC_MINISBLACK, 16, 1, samples(20, 3, 16, k16), 16, {}, {}, COMPRESSION_ADOBE_DEFLATE}}), 8, grid(20, 3, k)},
        {"4-bit palette tiles", tiffFile(dir, {{20, 3, PHOTOMETRIC_PALETTE, 4, 1, samples(20, 3, 4, idx), 16, {}, ramp(16)}}), 4, grid(20, 3, idx)},
        {"2-bit palette tiles", tiffFile(dir, {{20, 2, PHOTOMETRIC_PALETTE, 2, 1, samples(20, 2, 2, bit), 16, {}, ramp(4)}}), 4, grid(20, 2, bit)},
        {"1-bit min-is-white tiles", tiffFile(dir, {{20, 2, PHOTOMETRIC_MINISWHITE, 1, 1, samples(20, 2, 1, bit), 16}}), 1, grid(20, 2, bit)},
        {"CMYK through the RGBA reader", tiffFile(dir, {{2, 1, PHOTOMETRIC_SEPARATED, 8, 4, {0, 0, 0, 0, 255, 0, 0, 0}}}), 24, {0xFFFFFF, 0x00FFFF}},
    };
    for (const Case& c : cases) {
        DibImage img;
        std::string why;
        EXPECT_NE(img.loadBytes(c.file.data(), c.file.size(), nullptr, &why), nullptr) << c.name << ": " << why;
        EXPECT_EQ(img.bitCount(), c.depth) << c.name;
        EXPECT_EQ(pixels(img), c.pixels) << c.name;
        PictureShape shape;
        EXPECT_TRUE(probePicture(c.file.data(), c.file.size(), shape)) << c.name;
        EXPECT_EQ(std::vector<int64_t>({shape.width, shape.height, shape.bitCount}), std::vector<int64_t>({img.width, img.height, c.depth}));
    }
}

TEST(TiffRead, OrientationTurnsStripsAndTilesOfEveryDepth) {
    test::TempDir dir;
    // Stored rows 1 2 3 / 4 5 6, as shown for each orientation (the same as EXIF's).
    const std::vector<std::vector<int>> shown = {{1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}, {6, 5, 4, 3, 2, 1}, {4, 5, 6, 1, 2, 3},
                                                 {1, 4, 2, 5, 3, 6}, {4, 1, 5, 2, 6, 3}, {6, 3, 5, 2, 4, 1}, {3, 6, 2, 5, 1, 4}};
    auto v = [](uint32_t x, uint32_t y) { return 1 + x + 3 * y; };
    // Black ink only, and a fifth sample: tiles of 1280 bytes, not a multiple of 1 KB.
    auto ink = [&](uint32_t x, uint32_t y, int c) { return c == 3 ? 40 * v(x, y) : 0; };
    Bytes cmyk = samples(15, 2, 8, [&](uint32_t x, uint32_t y) { return ink(x / 5, y, int(x % 5)); });
    for (uint16_t o = 1; o <= 8; ++o) {
        const std::pair<Bytes, int> files[] = {
            {tiffFile(dir, {{3, 2, PHOTOMETRIC_MINISBLACK, 8, 1, samples(3, 2, 8, v), 0, {}, {}, COMPRESSION_NONE, o}}), 0},
            {tiffFile(dir, {{3, 2, PHOTOMETRIC_PALETTE, 4, 1, samples(3, 2, 4, v), 16, {}, ramp(16), COMPRESSION_NONE, o}}), 0},
            {tiffFile(dir, {{3, 2, PHOTOMETRIC_SEPARATED, 8, 5, cmyk, 16, {EXTRASAMPLE_UNSPECIFIED}, {}, COMPRESSION_NONE, o}}), 0x010101}};
        for (const auto& [file, grey] : files) {
            std::vector<int> want;
            for (int s : shown[o - 1]) want.push_back(grey ? grey * (255 - 40 * s) : s);
            DibImage img;
            EXPECT_TRUE(img.loadBytes(file.data(), file.size()) && img.width == (o >= 5 ? 2 : 3)) << o;
            EXPECT_EQ(pixels(img), want) << o << " " << img.bitCount();
        }
    }
}

// The file with one tag of page `page` (a single SHORT or LONG, classic little-endian file) set to `value`.
Bytes patched(Bytes b, int page, uint16_t tag, uint32_t value) {
    auto get = [&](size_t at, int n) { uint32_t v = 0; std::memcpy(&v, &b[at], n); return v; };
    size_t ifd = get(4, 4);
    while (page-- > 0) ifd = get(ifd + 2 + 12 * get(ifd, 2), 4);
    for (uint32_t i = 0, n = get(ifd, 2); i < n; ++i)
        if (get(ifd + 2 + 12 * i, 2) == tag) std::memcpy(&b[ifd + 10 + 12 * i], &value, get(ifd + 4 + 12 * i, 2) == 3 ? 2 : 4);
    return b;
}

TEST(TiffRead, DamagedPagesAreRefusedSayingWhatHappened) {
    test::TempDir dir;
    // A 16 x 16 JPEG stream as the only tile of a page with 64 x 64 tiles: libtiff decodes 16 rows and calls it done.
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long n = 0;
    tjCompress2(tj, Bytes(256, 90).data(), 16, 16, 16, TJPF_GRAY, &jpeg, &n, TJSAMP_GRAY, 90, 0);
    const Bytes stream(jpeg, jpeg + n);
    tjFree(jpeg), tjDestroy(tj);
    const Bytes plain = tiffFile(dir, {{8, 8, PHOTOMETRIC_MINISBLACK, 8, 1, Bytes(64, 7), 0, {}, {}, COMPRESSION_ADOBE_DEFLATE}});
    struct Case { const char* name; Bytes file; ImageError error; const char* reason; };
    const Case cases[] = {
        {"JPEG tile smaller than the tile", tiffFile(dir, {{64, 64, PHOTOMETRIC_MINISBLACK, 8, 1, {}, 64, {}, {}, COMPRESSION_JPEG, 1, stream}}),
         ImageError::NotBitmap, "TIFF file damaged or truncated: JPEG data smaller than its strip or tile"},
        {"strip past the end", patched(plain, 0, TIFFTAG_STRIPBYTECOUNTS, 100000), ImageError::NotBitmap, "TIFF file damaged or truncated: pixel data ends "},
        {"unknown compression", patched(plain, 0, TIFFTAG_COMPRESSION, 12345), ImageError::Unsupported, "TIFF compression 12345 is not supported"},
    };
    for (const Case& c : cases) {
        DibImage img;
        ImageError e = ImageError::None;
        std::string why;
        EXPECT_EQ(img.loadBytes(c.file.data(), c.file.size(), &e, &why), nullptr) << c.name;
        EXPECT_TRUE(e == c.error && why.rfind(c.reason, 0) == 0) << c.name << ": " << why;
    }
}

TEST(TiffWrite, GreyAndBlackWhitePicturesAreWrittenAsGreyAndReadBackTheSame) {
    test::TempDir dir;
    std::vector<Rgb> greys;
    for (int i = 0; i < 256; ++i) greys.push_back(Rgb{uint8_t(i), uint8_t(i), uint8_t(i)});
    const Rgb black = greys[0], white = greys[255];
    struct Case { std::unique_ptr<DibImage> picture; uint16_t photometric, predictor; };
    Case cases[] = {
        {test::makeIndexed(8, {"0123", "fedc"}, greys), PHOTOMETRIC_MINISBLACK, PREDICTOR_HORIZONTAL},
        {test::makeIndexed(1, {"0110", "1001"}, {black, white}), PHOTOMETRIC_MINISBLACK, PREDICTOR_NONE},
        {test::makeIndexed(1, {"0110", "1001"}, {white, black}), PHOTOMETRIC_MINISWHITE, PREDICTOR_NONE},
        {test::makeIndexed(8, {"0120", "2100"}, {Rgb{255, 0, 0}, Rgb{0, 0, 255}, black}, {}, true), PHOTOMETRIC_PALETTE, PREDICTOR_NONE},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("w.tif");
        ASSERT_EQ(c.picture->saveFile(path), ImageError::None);
        TIFF* t = TIFFOpen(path.c_str(), "r");
        uint16_t photometric = 0, predictor = 0;
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric), TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &predictor), TIFFClose(t);
        EXPECT_EQ(std::make_pair(photometric, predictor), std::make_pair(c.photometric, c.predictor)) << c.picture->bitCount();
        DibImage back;
        ASSERT_NE(back.loadFile(path), nullptr);
        EXPECT_EQ(std::make_pair(pixels(back), back.bitCount()), std::make_pair(pixels(*c.picture), c.picture->bitCount()));
        for (int i = 0; c.photometric != PHOTOMETRIC_PALETTE && i < c.picture->tableSize(); ++i)
            EXPECT_EQ(back.tableColour(i), c.picture->tableColour(i)) << i;
    }
}

// Each page's description and its coded strips or tiles.
std::vector<std::pair<std::string, Bytes>> pagesOf(const std::string& path) {
    std::vector<std::pair<std::string, Bytes>> out;
    TIFF* t = TIFFOpen(path.c_str(), "rc");
    for (bool more = true; more; more = TIFFReadDirectory(t)) {
        char* text = nullptr;
        TIFFGetField(t, TIFFTAG_IMAGEDESCRIPTION, &text);
        out.emplace_back(text ? text : "", Bytes());
        for (uint32_t i = 0, n = TIFFIsTiled(t) ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t); i < n; ++i) {
            Bytes c(TIFFGetStrileByteCount(t, i));
            TIFFIsTiled(t) ? TIFFReadRawTile(t, i, c.data(), tmsize_t(c.size())) : TIFFReadRawStrip(t, i, c.data(), tmsize_t(c.size()));
            out.back().second.insert(out.back().second.end(), c.begin(), c.end());
        }
    }
    TIFFClose(t);
    return out;
}

TEST(TiffWrite, SavingOverAMultiPageTiffKeepsTheLaterPages) {
    test::TempDir dir;
    auto v = [](uint32_t x, uint32_t y) { return (x * 7 + y * 3) % 16; };
    const std::vector<Page> pages = {
        {4, 2, PHOTOMETRIC_MINISBLACK, 8, 1, Bytes(8, 50), 0, {}, {}, COMPRESSION_NONE, 1, {}, "first"},
        {9, 5, PHOTOMETRIC_MINISBLACK, 16, 1, samples(9, 5, 16, [&](uint32_t x, uint32_t y) { return v(x, y) * 4097 + 1; }),
         0, {}, {}, COMPRESSION_ADOBE_DEFLATE, 1, {}, "second"},
        {20, 3, PHOTOMETRIC_PALETTE, 4, 1, samples(20, 3, 4, v), 16, {}, ramp(16), COMPRESSION_LZW, 1, {}, "third"}};
    const std::string path = dir.file("t.tif");
    const auto edited = test::make24({"#.r", "r.#"}, {{'r', Rgb{255, 0, 0}}});
    for (const size_t count : {2u, 3u})
        for (const char* mode : {"w", "wb", "w8"}) {
            const Bytes old = tiffFile(dir, {pages.begin(), pages.begin() + std::ptrdiff_t(count)}, mode);
            const auto before = pagesOf(path);
            ASSERT_EQ(edited->saveFile(path), ImageError::None) << mode << ": " << edited->refusalReason;
            const auto after = pagesOf(path);
            ASSERT_EQ(after.size(), count) << mode;
            EXPECT_TRUE(std::equal(after.begin() + 1, after.end(), before.begin() + 1)) << mode;
            // The byte order and offset size stay, so the kept pages' coded samples read as before.
            const Bytes now = test::readBytes(path);
            EXPECT_EQ(Bytes(now.begin(), now.begin() + 4), Bytes(old.begin(), old.begin() + 4)) << mode;
            DibImage back;
            EXPECT_TRUE(back.loadFile(path) && pixels(back) == pixels(*edited)) << mode;
        }
    // A later page that cannot be copied refuses the save and leaves the file as it was.
    const Bytes damaged = patched(tiffFile(dir, pages), 2, TIFFTAG_TILEBYTECOUNTS, 100000);
    test::writeBytes(path, damaged);
    EXPECT_EQ(edited->saveFile(path), ImageError::WriteFailed);
    EXPECT_NE(edited->refusalReason.find("page 3"), std::string::npos) << edited->refusalReason;
    EXPECT_EQ(test::readBytes(path), damaged);
}

}  // namespace
}  // namespace qel
