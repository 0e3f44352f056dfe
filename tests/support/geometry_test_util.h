// Pictures built from a function of the position, and plain reference
// resamplers written the long way, for the geometry tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "core/image/dib_image.h"

namespace qel::test {

// A 24-bit picture whose pixel (x, y), y from the top, is f(x, y).
inline std::unique_ptr<DibImage> pictureOf(int w, int h, const std::function<Rgb(int, int)>& f) {
    auto img = std::make_unique<DibImage>();
    const int64_t stride = strideFor(w, 24);
    PixelBytes bits(static_cast<size_t>(stride * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = f(x, y);
            uint8_t* p = bits.data() + (h - 1 - y) * stride + 3 * x;
            p[0] = c.b; p[1] = c.g; p[2] = c.r;
        }
    img->replace(makeInfoBlock(newHeader(w, h, 24, 0, static_cast<uint32_t>(bits.size())), 0), std::move(bits));
    img->width = w;
    img->height = h;
    return img;
}

inline std::unique_ptr<DibImage> greyPicture(int w, int h, const std::function<int(int, int)>& f) {
    return pictureOf(w, h, [&](int x, int y) { auto v = uint8_t(f(x, y)); return Rgb{v, v, v}; });
}

inline std::unique_ptr<DibImage> randomPicture(int w, int h, std::mt19937& gen) {
    std::uniform_int_distribution<int> d(0, 255);
    return pictureOf(w, h, [&](int, int) { return Rgb{uint8_t(d(gen)), uint8_t(d(gen)), uint8_t(d(gen))}; });
}

// Grey values (red channel) of a picture, top row first.
inline std::vector<std::vector<int>> greyRows(const DibImage& img) {
    const auto h = img.header();
    std::vector<std::vector<int>> rows(h.biHeight, std::vector<int>(h.biWidth));
    for (int y = 0; y < h.biHeight; ++y)
        for (int x = 0; x < h.biWidth; ++x) rows[y][x] = img.colourAt(x, y).r;
    return rows;
}

// Reference nearest resampling: the visiting loops exactly as described, last visit wins.
inline std::vector<uint8_t> referenceNearest(const DibImage& img, int wd, int hd) {
    const auto h = img.header();
    const int ws = h.biWidth, hs = h.biHeight;
    const float sx = float(wd) / float(ws), sy = float(hd) / float(hs);
    const float ix = 1.0f / sx, iy = 1.0f / sy;
    const int64_t ss = strideFor(ws, 24), ds = strideFor(wd, 24);
    std::vector<uint8_t> out(static_cast<size_t>(ds * hd), 0);
    struct Step { int64_t s, d; };
    auto steps = [](int from, int to, float f, float inv) {
        std::vector<Step> v;
        if (f > 1.0f)
            for (int d = 0; d < to; ++d) v.push_back({int64_t(double(d) * double(inv)), d});
        else
            for (int s = 0; s < from; ++s) v.push_back({s, int64_t(double(s) * double(f))});
        return v;
    };
    for (auto [y, Y] : steps(hs, hd, sy, iy))
        for (auto [x, X] : steps(ws, wd, sx, ix))
            for (int k = 0; k < 3; ++k)
                out[(hd - 1 - Y) * ds + 3 * X + k] = img.bits[(hs - 1 - y) * ss + 3 * x + k];
    return out;
}

// Reference averaging: running mean with a plain division per sample, counts unlimited.
inline std::vector<uint8_t> referenceAverage(const DibImage& img, int wd, int hd) {
    const auto h = img.header();
    const int ws = h.biWidth, hs = h.biHeight;
    const float sx = float(wd) / float(ws), sy = float(hd) / float(hs);
    const int64_t ss = strideFor(ws, 24), ds = strideFor(wd, 24);
    std::vector<uint8_t> out(static_cast<size_t>(ds * hd), 0);
    std::vector<int64_t> counts(out.size(), 0);
    for (int y = 0; y < hs; ++y) {
        const int64_t Y = int64_t(double(y) * double(sy));
        for (int x = 0; x < ws; ++x) {
            const int64_t X = int64_t(double(x) * double(sx));
            for (int k = 0; k < 3; ++k) {
                const int64_t at = (hd - 1 - Y) * ds + 3 * X + k;
                const int64_t n = ++counts[at];
                out[at] = uint8_t(((n - 1) * out[at] + img.bits[(hs - 1 - y) * ss + 3 * x + k]) / n);
            }
        }
    }
    return out;
}

}  // namespace qel::test
