// Damage is refused whatever else a file holds, a tiny file costs little memory, grey pictures
// are written as grey, and PNG slices join exactly. Files are made here with the same libraries.
#include <gtest/gtest.h>
#include <spng.h>
#include <tiffio.h>
#include <turbojpeg.h>
#include <zlib.h>

#include "core/formats/codecs.h"
#include "support/text_image.h"

namespace qel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes jpeg(int w, int h, const Bytes& bgr) {
    tjhandle tj = tjInitCompress();
    unsigned char* buf = nullptr;
    unsigned long n = 0;
    EXPECT_EQ(tjCompress2(tj, bgr.data(), w, 3 * w, h, TJPF_BGR, &buf, &n, TJSAMP_420, 90, 0), 0);
    Bytes out(buf, buf + n);
    tjFree(buf);
    tjDestroy(tj);
    return out;
}

// Noise, so the scan data fills most of the file.
Bytes noise(int w, int h) {
    Bytes bgr(size_t(3) * w * h);
    uint32_t s = 1;
    for (auto& b : bgr) b = uint8_t((s = s * 1103515245 + 12345) >> 24);
    return bgr;
}

// An EXIF segment carrying a thumbnail, end-of-image marker included, as cameras write.
Bytes withThumbnail(Bytes file) {
    const Bytes thumb = jpeg(8, 8, noise(8, 8));
    Bytes app1{0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), thumb.begin(), thumb.end());
    app1[2] = uint8_t((app1.size() - 2) >> 8);
    app1[3] = uint8_t(app1.size() - 2);
    file.insert(file.begin() + 2, app1.begin(), app1.end());
    return file;
}

Bytes chunk(const char* type, const Bytes& body) {
    Bytes c(12 + body.size());
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) c[at + i] = uint8_t(v >> (24 - 8 * i));
    };
    put32(0, uint32_t(body.size()));
    std::copy(type, type + 4, c.begin() + 4);
    std::copy(body.begin(), body.end(), c.begin() + 8);
    put32(8 + body.size(), uint32_t(crc32(0, c.data() + 4, uInt(4 + body.size()))));
    return c;
}

// A 3 x 2 colour PNG; `extra` chunks go after IHDR, `flip` turns one bit of the named chunk's checksum.
Bytes png(const std::vector<Bytes>& extra = {}, const char* flip = "") {
    Bytes raw;
    for (int y = 0; y < 2; ++y) raw.insert(raw.end(), {0, 10, 20, 30, 40, 50, 60, 70, 80, 90});
    Bytes z(compressBound(uLong(raw.size())));
    uLongf zn = z.size();
    compress(z.data(), &zn, raw.data(), uLong(raw.size()));
    z.resize(zn);
    Bytes file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto add = [&](const char* type, const Bytes& body) {
        Bytes c = chunk(type, body);
        if (std::string(flip) == type) c.back() ^= 1;
        file.insert(file.end(), c.begin(), c.end());
    };
    add("IHDR", {0, 0, 0, 3, 0, 0, 0, 2, 8, 2, 0, 0, 0});
    for (const Bytes& e : extra) file.insert(file.end(), e.begin(), e.end());
    add("IDAT", z);
    add("IEND", {});
    return file;
}

TEST(Damage, IsRefusedWhateverElseTheFileHolds) {
    const Bytes photo = withThumbnail(jpeg(64, 64, noise(64, 64)));
    Bytes textKey{'k', 0, 'v'};
    std::vector<Bytes> manyTexts(10001, chunk("tEXt", textKey));
    Bytes zeros(size_t(65) << 20), packed(compressBound(uLong(zeros.size())));
    uLongf packedSize = packed.size();
    compress2(packed.data(), &packedSize, zeros.data(), uLong(zeros.size()), 1);
    Bytes ztxt{'k', 0, 0};
    ztxt.insert(ztxt.end(), packed.begin(), packed.begin() + long(packedSize));
    struct Case {
        const char* name;
        Bytes file;
        const char* reason;  // empty: the file is read
    };
    const Case cases[] = {
        {"jpeg with a thumbnail, whole", photo, ""},
        {"jpeg with a thumbnail, cut in its scan", Bytes(photo.begin(), photo.begin() + long(photo.size() / 2)),
         "ends early"},
        {"jpeg with a thumbnail, cut just before its end marker", Bytes(photo.begin(), photo.end() - 40), "ends early"},
        {"jpeg missing only its end marker", Bytes(photo.begin(), photo.end() - 2), "ends early"},
        {"png whole", png(), ""},
        {"png with a failing IHDR checksum", png({}, "IHDR"), "checksum"},
        {"png with a failing IDAT checksum", png({}, "IDAT"), "checksum"},
        {"png with a failing IEND checksum", png({}, "IEND"), "checksum"},
        {"png with 10001 text chunks", png(manyTexts), "10001 text chunks"},
        {"png with 65 MB of compressed text", png({chunk("zTXt", ztxt)}), "64 MB"},
    };
    for (const Case& c : cases) {
        DibImage img;
        std::string why;
        const bool read = img.loadBytes(c.file.data(), c.file.size(), nullptr, &why) != nullptr;
        EXPECT_EQ(read, *c.reason == 0) << c.name << ": " << why;
        if (*c.reason) {
            EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
        }
    }
}

TEST(Damage, ARefusedTinyFileTakesLittleMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory counts too";
#endif
    test::TempDir dir;
    // A JPEG claiming 16384 x 16384: its frame header patched, the scan cut after a few rows.
    Bytes big = jpeg(256, 64, noise(256, 64));
    for (size_t i = 2; i + 8 < big.size(); ++i)
        if (big[i] == 0xFF && big[i + 1] == 0xC0) {
            big[i + 5] = big[i + 7] = 0x40;
            big[i + 6] = big[i + 8] = 0;
            break;
        }
    big.resize(900);
    // A JPEG-coded TIFF claiming 16384 x 16384 with only its first strip present.
    const std::string path = dir.file("big.tif");
    TIFF* t = TIFFOpen(path.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 16384);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 16384);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16);
    Bytes strip(size_t(16384) * 16, 128);
    TIFFWriteEncodedStrip(t, 0, strip.data(), tmsize_t(strip.size()));
    TIFFClose(t);
    const Bytes tiff = test::readBytes(path);
    for (const auto& [name, file] : {std::pair{"jpeg", big}, std::pair{"tiff", tiff}}) {
        ASSERT_LT(file.size(), 16 * 1024u) << name;
        int status = 0;
        EXPECT_LT(test::peakKbOfRefusedLoad(file, &status), 64 * 1024) << name;
        EXPECT_EQ(status, 0) << name << " is not refused";
    }
}

TEST(GreyWriting, GreyPicturesAreWrittenAsGreyAndReadBackTheSame) {
    test::TempDir dir;
    auto img = test::makeIndexed(8, {"0123", "4567"}, [] {
        std::vector<Rgb> t(256);
        for (int i = 0; i < 256; ++i) t[i] = Rgb{uint8_t(i), uint8_t(i), uint8_t(i)};
        return t;
    }());
    struct Case {
        const char* name;
        size_t at;      // where the file says how it stores its pixels
        uint8_t value;  // PNG colour type 0; JPEG frame of 1 component
        bool exact;
    };
    for (const Case& c : {Case{"g.png", 25, 0, true}, Case{"g.jpg", 0, 1, false}}) {
        const std::string file = dir.file(c.name);
        ASSERT_EQ(img->saveFile(file), ImageError::None) << c.name;
        const Bytes bytes = test::readBytes(file);
        size_t at = c.at;
        for (size_t i = 2; at == 0 && i + 9 < bytes.size(); ++i)
            if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) at = i + 9;  // SOF0: components after the size
        ASSERT_GT(at, 0u) << c.name;
        EXPECT_EQ(bytes[at], c.value) << c.name;
        DibImage back;
        ASSERT_NE(back.loadFile(file), nullptr) << c.name;
        EXPECT_EQ(back.bitCount(), 8) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(back.info.begin() + kHeaderSize, back.info.end()),
                  std::vector<uint8_t>(img->info.begin() + kHeaderSize, img->info.end()))
            << c.name;
        if (c.exact) {
            EXPECT_EQ(back.bits, img->bits) << c.name;
        }
    }
}

// Random pixels would hide a band of rows filtered against the wrong row above: stripes, a
// gradient, one bright column and halving steps (where the filter averaging left and above wins
// when the row above is taken as zeros), across the writer's bands and slices, read back by
// libspng itself.
TEST(PngSlices, StructuredPicturesReadBackExactlyInASecondDecoder) {
    test::TempDir dir;
    const int w = 700, h = 1600;  // 3.4 MB of rows: four slices
    auto stripes = [](int x, int) { return Rgb{uint8_t(x % 4 < 2 ? 40 : 200), uint8_t(x % 4 < 2 ? 40 : 200), 90}; };
    auto gradient = [](int x, int y) { return Rgb{uint8_t(x * 255 / 699), uint8_t(y * 255 / 1599), uint8_t((x + y) % 256)}; };
    auto column = [](int x, int) { return x == 350 ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; };
    auto halving = [](int x, int) { const uint8_t v = uint8_t(255 >> (x % 8)); return Rgb{v, v, v}; };
    for (const auto& [name, colour] : {std::pair<const char*, Rgb (*)(int, int)>{"stripes", stripes},
                                       {"gradient", gradient}, {"column", column}, {"halving", halving}}) {
        DibImage img;
        img.replace(makeInfoBlock(newHeader(w, h, 24, 0, uint32_t(strideFor(w, 24) * h)), 0),
                    PixelBytes(size_t(strideFor(w, 24) * h)));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Rgb c = colour(x, y);
                uint8_t* p = img.rowFromTop(y) + 3 * x;
                p[0] = c.b, p[1] = c.g, p[2] = c.r;
            }
        const std::string file = dir.file(std::string(name) + ".png");
        ASSERT_EQ(img.saveFile(file), ImageError::None) << name;
        const Bytes bytes = test::readBytes(file);
        spng_ctx* ctx = spng_ctx_new(0);
        spng_set_png_buffer(ctx, bytes.data(), bytes.size());
        Bytes rgb(size_t(3) * w * h);
        ASSERT_EQ(spng_decode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_RGB8, 0), 0) << name;
        spng_ctx_free(ctx);
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Rgb c = colour(x, y);
                const uint8_t* p = rgb.data() + 3 * (size_t(y) * w + x);
                wrong += p[0] != c.r || p[1] != c.g || p[2] != c.b;
            }
        EXPECT_EQ(wrong, 0) << name;
    }
}

// Files read from disk are mapped and handed back as the reader passes them: several megabytes
// of PNG and TIFF (the TIFF's directory after its pixels) come back exactly.
TEST(LargeFiles, ReadFromAMappedFileExactly) {
    test::TempDir dir;
    const int w = 1024, h = 1024;
    DibImage img;
    img.replace(makeInfoBlock(newHeader(w, h, 24, 0, uint32_t(strideFor(w, 24) * h)), 0), PixelBytes(size_t(3) * w * h));
    uint32_t state = 7;
    for (uint8_t& b : img.bits) b = uint8_t((state = state * 1103515245 + 12345) >> 16);
    for (const char* name : {"big.png", "big.tif"}) {
        ASSERT_EQ(img.saveFile(dir.file(name)), ImageError::None) << name;
        DibImage back;
        std::string why;
        ASSERT_NE(back.loadFile(dir.file(name), nullptr, &why), nullptr) << name << ": " << why;
        EXPECT_TRUE(back.bits == img.bits) << name;
    }
}

TEST(Probe, HeadersGiveTheSizeAndDepthWithoutThePixels) {
    Bytes big = jpeg(64, 32, noise(64, 32));
    big.resize(big.size() * 3 / 4);  // the pixels are not needed
    struct Case {
        const char* name;
        Bytes file;
        int64_t width, height;
        int bitCount;
    };
    const Case cases[] = {
        {"png colour", png(), 3, 2, 24},
        {"jpeg cut", big, 64, 32, 24},
        {"bmp", test::readBytes(std::string(QEL_TEST_DATA) + "/bmpsuite/g/pal8.bmp"), 127, 64, 8},
    };
    for (const Case& c : cases) {
        PictureShape shape;
        const CodecResult r = probePicture(c.file.data(), c.file.size(), shape);
        ASSERT_TRUE(r) << c.name << ": " << r.reason;
        EXPECT_EQ(shape.width, c.width) << c.name;
        EXPECT_EQ(shape.height, c.height) << c.name;
        EXPECT_EQ(shape.bitCount, c.bitCount) << c.name;
    }
}

}  // namespace
}  // namespace qel
