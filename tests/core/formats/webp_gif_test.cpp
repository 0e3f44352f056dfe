// Reading WebP and GIF: an animation's first frame, GIF depths from the colour map (the frame's own map
// first), header probes, and the memory a refused tiny file takes.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <webp/encode.h>

#include <array>
#include <fstream>

#include "core/formats/codecs.h"
#include "support/text_image.h"

namespace qel {
namespace {

using Bytes = std::vector<uint8_t>;
const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

// Appends each value as n little-endian bytes.
Bytes& put(Bytes& b, std::initializer_list<uint32_t> values, int n) {
    for (uint32_t v : values)
        for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> 8 * i));
    return b;
}
Bytes lossless(int w, int h, const Bytes& rgba) {
    uint8_t* out = nullptr;
    const size_t n = WebPEncodeLosslessRGBA(rgba.data(), w, h, 4 * w, &out);
    Bytes file(out, out + n);
    WebPFree(out);
    return file;
}
// An animation on a w x h canvas of opaque frames {x, y, width, height, 0xRRGGBB}.
Bytes animation(int w, int h, const std::vector<std::array<int, 5>>& frames) {
    Bytes body{'W', 'E', 'B', 'P', 'V', 'P', '8', 'X', 10, 0, 0, 0, 0x12, 0, 0, 0};
    put(body, {uint32_t(w - 1), uint32_t(h - 1)}, 3);
    body.insert(body.end(), {'A', 'N', 'I', 'M', 6, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    for (auto [x, y, fw, fh, c] : frames) {
        Bytes rgba, frame{'A', 'N', 'M', 'F'};
        for (int i = 0; i < fw * fh; ++i) rgba.insert(rgba.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 255});
        const Bytes still = lossless(fw, fh, rgba);  // its chunks after the 12-byte file header
        put(frame, {uint32_t(still.size() + 4)}, 4);
        put(frame, {uint32_t(x / 2), uint32_t(y / 2), uint32_t(fw - 1), uint32_t(fh - 1), 100}, 3).push_back(0);
        frame.insert(frame.end(), still.begin() + 12, still.end());
        body.insert(body.end(), frame.begin(), frame.end());
    }
    Bytes file{'R', 'I', 'F', 'F'};
    put(file, {uint32_t(body.size())}, 4).insert(file.end(), body.begin(), body.end());
    return file;
}

// A GIF of one frame, w pixels wide, at (left, 0) on a sw x sh screen with the `global` map; `local` is the frame's own.
Bytes gif(int sw, int sh, int left, int w, const Bytes& indices, const std::vector<Rgb>& global,
          const std::vector<Rgb>& local = {}, int transparent = NO_TRANSPARENT_COLOR, bool interlaced = false) {
    Bytes out;
    int e = 0;
    GifFileType* g = EGifOpen(&out, [](GifFileType* f, const GifByteType* b, int n) {
        static_cast<Bytes*>(f->UserData)->insert(static_cast<Bytes*>(f->UserData)->end(), b, b + n);
        return n;
    }, &e);
    auto map = [](const std::vector<Rgb>& m) {
        std::vector<GifColorType> c;
        for (Rgb x : m) c.push_back({x.r, x.g, x.b});
        return m.empty() ? nullptr : GifMakeMapObject(int(c.size()), c.data());
    };
    ColorMapObject *gm = map(global), *lm = map(local);
    EGifPutScreenDesc(g, sw, sh, 8, 0, gm);
    GraphicsControlBlock gcb{0, false, 0, transparent};
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    // Interlaced, the rows go in four passes: every 8th from row 0, every 8th from 4, every 4th from 2, every 2nd from 1.
    const int h = int(indices.size()) / w, passes[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    EGifPutImageDesc(g, left, 0, w, h, interlaced, lm);
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
        for (int y = interlaced ? passes[pass][0] : 0; y < h; y += interlaced ? passes[pass][1] : 1)
            EGifPutLine(g, const_cast<uint8_t*>(&indices[size_t(w) * y]), w);
    EGifCloseFile(g, &e);
    GifFreeMapObject(gm);
    GifFreeMapObject(lm);
    return out;
}

std::vector<Rgb> greys(int n) {
    std::vector<Rgb> t;
    for (int i = 0; i < n; ++i) t.push_back(Rgb{uint8_t(i), uint8_t(i), uint8_t(i)});
    return t;
}

TEST(WebpGifRead, FirstFrameAtTheDepthOfItsMapAndProbedUnread) {
    struct Case {
        const char* name;
        Bytes file;
        int bitCount;
        std::vector<Rgb> table;
        std::vector<int> pixels;  // top-down: indices, or 0xRRGGBB for 24-bit pictures
    };
    const Case cases[] = {
        {"gif of 2 colours: 1-bit", gif(3, 1, 0, 3, {1, 0, 1}, {kRed, kBlue}), 1, {kRed, kBlue}, {1, 0, 1}},
        {"gif of 4 colours: 4-bit", gif(2, 1, 0, 2, {3, 2}, greys(4)), 4, greys(4), {3, 2}},
        {"gif of 16 colours: 4-bit", gif(2, 1, 0, 2, {15, 0}, greys(16)), 4, greys(16), {15, 0}},
        {"gif of 32 colours: 8-bit", gif(2, 1, 0, 2, {31, 16}, greys(32)), 8, greys(32), {31, 16}},
        {"gif of 2 colours and white around: 4-bit", gif(3, 2, 1, 2, {0, 1}, {kRed, kBlue}), 4, {kRed, kBlue, kWhite},
         {2, 0, 1, 2, 2, 2}},
        {"gif, transparent around a frame across bytes", gif(10, 2, 1, 9, {0, 1, 0, 0, 0, 0, 0, 0, 0}, {kRed, kBlue}, {}, 1),
         1, {kRed, kWhite}, {1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {"gif frame with its own map", gif(2, 1, 0, 2, {0, 1}, {kRed, kBlue}, {kGreen, kWhite}), 1, {kGreen, kWhite},
         {0, 1}},
        {"gif interlaced: each row in its place", gif(1, 9, 0, 1, {0, 1, 2, 3, 4, 5, 6, 7, 8}, greys(16), {}, NO_TRANSPARENT_COLOR, true),
         4, greys(16), {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {"gif index beyond its 2 colours: 8-bit", gif(2, 1, 0, 2, {3, 1}, {kRed, kBlue}), 8, {kRed, kBlue}, {3, 1}},
        {"animated webp: first frame on white", animation(4, 2, {{2, 0, 2, 1, 0xFF0000}, {0, 0, 4, 2, 0x0000FF}}), 24,
         {}, {0xFFFFFF, 0xFFFFFF, 0xFF0000, 0xFF0000, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}},
    };
    for (const Case& c : cases) {
        DibImage img;
        std::string why;
        ASSERT_NE(img.loadBytes(c.file.data(), c.file.size(), nullptr, &why), nullptr) << c.name << ": " << why;
        std::vector<Rgb> table;
        std::vector<int> pixels;
        for (int i = 0; i < img.tableSize(); ++i) table.push_back(img.tableColour(i));
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                const Rgb p = img.colourAt(x, y);
                pixels.push_back(c.bitCount == 24 ? p.r << 16 | p.g << 8 | p.b : img.indexAt(x, y));
            }
        EXPECT_EQ(img.bitCount(), c.bitCount) << c.name;
        EXPECT_EQ(table, c.table) << c.name;
        EXPECT_EQ(pixels, c.pixels) << c.name;
        // Indices beyond the map are only found by reading the pixels.
        const int probed = c.bitCount == 8 && c.table.size() == 2 ? 1 : c.bitCount;
        PictureShape shape;
        EXPECT_TRUE(probePicture(c.file.data(), c.file.size(), shape)) << c.name;
        EXPECT_EQ((std::array<int64_t, 3>{shape.width, shape.height, shape.bitCount}),
                  (std::array<int64_t, 3>{img.width, img.height, probed})) << c.name;
    }
}

TEST(WebpGifRead, ARefusedTinyFileTakesLittleMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory counts too";
#endif
    Bytes rgba;  // a lossless picture with alpha, its header then made to claim 16383 x 16383
    for (int i = 0; i < 64 * 64; ++i) rgba.insert(rgba.end(), {uint8_t(i % 7 * 30), uint8_t(i / 16), uint8_t(i * 3), 128});
    Bytes file = lossless(64, 64, rgba);
    const uint32_t header = (file[24] & 0xF0u) << 24 | 16383u << 14 | 16383u;
    for (int i = 0; i < 4; ++i) file[21 + i] = uint8_t(header >> 8 * i);
    ASSERT_LT(file.size(), 1024u);
    int status = 0;
    EXPECT_LT(test::peakKbOfRefusedLoad(file, &status), 64 * 1024);
    EXPECT_EQ(status, 0) << "the file is not refused";
}

}  // namespace
}  // namespace qel
