// Turning by any angle about the centre, and deskewing: finding how far a drawing or page is tilted
// and turning it upright. Both use integer and fixed-point arithmetic only after a few sines and
// cosines taken once per call, so the bytes are the same on any number of threads.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "core/geometry/geometry.h"
#include "core/image/parallel_rows.h"

namespace qel {

namespace {

constexpr int64_t kOne = 65536;  // 16.16 fixed point

int64_t fixed(double v) { return std::llround(v * double(kOne)); }

// The colour table holds entry i = grey i for all 256 entries: indices then blend like grey levels.
bool greyRamp(const DibImage& image) {
    if (tableEntries(image.header()) != 256 || image.tableSize() < 256) return false;
    for (int i = 0; i < 256; ++i) {
        const Rgb c = image.tableColour(i);
        if (c.r != i || c.g != i || c.b != i) return false;
    }
    return true;
}

// The table entry nearest white (the first of equals): what turned-in corners are filled with.
int whitestEntry(const DibImage& image) {
    const int n = std::min(tableEntries(image.header()), image.tableSize());
    int best = 0, bestDistance = INT32_MAX;
    for (int i = 0; i < n; ++i) {
        const Rgb c = image.tableColour(i);
        const int d = (255 - c.r) * (255 - c.r) + (255 - c.g) * (255 - c.g) + (255 - c.b) * (255 - c.b);
        if (d < bestDistance) best = i, bestDistance = d;
    }
    return best;
}

int readIndex(const uint8_t* row, int64_t x, int bits) {
    switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    default: return row[x];
    }
}

void writeIndex(uint8_t* row, int64_t x, int bits, int v) {
    switch (bits) {
    case 1: row[x >> 3] |= uint8_t((v & 1) << (7 - (x & 7))); break;
    case 4: row[x >> 1] |= uint8_t((v & 0x0F) << ((x & 1) ? 0 : 4)); break;
    default: row[x] = uint8_t(v); break;
    }
}

}  // namespace

OpResult rotateByAngle(DibImage& image, double degrees) {
    if (!image.pixelRowsPresent()) return OpResult::refused(kNoPixelRows);
    const auto h = image.header();
    const int bits = h.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return OpResult::refused("needs a 1-, 4-, 8- or 24-bit picture, not " + std::to_string(bits) + "-bit");
    const int64_t w = h.biWidth, ht = h.biHeight, stride = image.stride();
    const double a = degrees * (3.14159265358979323846 / 180.0);
    const int64_t c = fixed(std::cos(a)), s = fixed(std::sin(a));
    const bool blend = bits == 24 || (bits == 8 && greyRamp(image));
    const int fill = blend ? 0 : whitestEntry(image);  // indexed pictures without blending
    const int channels = bits == 24 ? 3 : 1;
    const uint8_t* src = image.bits.data();
    PixelBytes out(image.bits.size());  // zero: padding and the packed rows' spare bits
    // Destination (x, y) from the top left takes source (cx + dx*c + dy*s, cy - dx*s + dy*c), where
    // (dx, dy) is its offset from the centre: the picture turns clockwise. Twice the source position
    // is exact in 16.16, so the centre of an even side needs no rounding.
    forEachRowBand(ht, w * 4, [&](int64_t first, int64_t last) {
        for (int64_t y = first; y < last; ++y) {
            uint8_t* row = out.data() + (ht - 1 - y) * stride;
            const int64_t dx0 = 1 - w, dy = 2 * y - (ht - 1);
            int64_t sx2 = dx0 * c + dy * s + (w - 1) * kOne, sy2 = -dx0 * s + dy * c + (ht - 1) * kOne;
            for (int64_t x = 0; x < w; ++x, sx2 += 2 * c, sy2 -= 2 * s) {
                const int64_t sx = sx2 >> 1, sy = sy2 >> 1;  // 16.16, floor
                if (!blend) {
                    const int64_t nx = (sx + kOne / 2) >> 16, ny = (sy + kOne / 2) >> 16;
                    const bool inside = nx >= 0 && nx < w && ny >= 0 && ny < ht;
                    writeIndex(row, x, bits, inside ? readIndex(src + (ht - 1 - ny) * stride, nx, bits) : fill);
                    continue;
                }
                // Positions rounded to 1/256 of a pixel, so the weights are alike either side of the centre.
                const int64_t px = (sx + 128) >> 8, py = (sy + 128) >> 8;
                const int64_t x0 = px >> 8, y0 = py >> 8;
                const int fx = int(px & 255), fy = int(py & 255);
                const auto at = [&](int64_t px, int64_t py, int ch) {
                    px = std::clamp<int64_t>(px, 0, w - 1), py = std::clamp<int64_t>(py, 0, ht - 1);
                    return int(src[(ht - 1 - py) * stride + px * channels + ch]);
                };
                for (int ch = 0; ch < channels; ++ch) {
                    const int top = at(x0, y0, ch) * (256 - fx) + at(x0 + 1, y0, ch) * fx;
                    const int bottom = at(x0, y0 + 1, ch) * (256 - fx) + at(x0 + 1, y0 + 1, ch) * fx;
                    row[x * channels + ch] = uint8_t((top * (256 - fy) + bottom * fy + 32768) >> 16);
                }
            }
        }
    });
    image.replace(image.info, std::move(out));
    return OpResult::changed();
}

namespace {

// Darkness per pixel (255 - luminance) on a copy at most kSide pixels on its longer side, each
// pixel the mean of a square of the picture's.
constexpr int64_t kSide = 1200;

struct DarkMap {
    int64_t w = 0, h = 0;
    std::vector<int32_t> dark;
};

DarkMap darkness(const DibImage& image) {
    const auto hd = image.header();
    const int bits = hd.biBitCount;
    const int64_t W = hd.biWidth, H = hd.biHeight;
    const int64_t f = std::max<int64_t>(1, (std::max(W, H) + kSide - 1) / kSide);
    std::array<int32_t, 256> byIndex{};
    if (bits != 24)
        for (int i = 0; i < 256; ++i) {
            const Rgb c = image.tableColour(i);
            byIndex[size_t(i)] = 255 - ((77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8);
        }
    DarkMap m{.w = (W + f - 1) / f, .h = (H + f - 1) / f, .dark = {}};
    m.dark.assign(size_t(m.w * m.h), 0);
    std::vector<int32_t> count(size_t(m.w * m.h), 0);
    for (int64_t y = 0; y < H; ++y) {
        const uint8_t* row = image.rowFromTop(int(y));
        int32_t* out = m.dark.data() + (y / f) * m.w;
        int32_t* n = count.data() + (y / f) * m.w;
        for (int64_t x = 0; x < W; ++x) {
            int32_t d;
            if (bits == 24) d = 255 - ((77 * row[3 * x + 2] + 150 * row[3 * x + 1] + 29 * row[3 * x] + 128) >> 8);
            else d = byIndex[size_t(readIndex(row, x, bits))];
            out[x / f] += d;
            ++n[x / f];
        }
    }
    for (size_t i = 0; i < m.dark.size(); ++i) m.dark[i] /= count[i];
    return m;
}

// A pixel of the reduced copy that counts: its position from the centre and its weight.
struct Ink {
    int32_t x, y;  // from the middle pixel, so that upright rows fall on whole positions
    int32_t weight;
};

// Pixels darker than their surroundings (the mean of a 31 x 31 square, plus a margin for paper
// grain and compression noise), so shading, gradients and shadows weigh nothing.
std::vector<Ink> inkOf(const DarkMap& m) {
    constexpr int64_t kRadius = 15, kMargin = 12;
    std::vector<int64_t> sum(size_t((m.w + 1) * (m.h + 1)), 0);
    for (int64_t y = 0; y < m.h; ++y)
        for (int64_t x = 0; x < m.w; ++x)
            sum[size_t((y + 1) * (m.w + 1) + x + 1)] = m.dark[size_t(y * m.w + x)] + sum[size_t(y * (m.w + 1) + x + 1)] +
                                                       sum[size_t((y + 1) * (m.w + 1) + x)] - sum[size_t(y * (m.w + 1) + x)];
    std::vector<Ink> ink;
    for (int64_t y = 0; y < m.h; ++y)
        for (int64_t x = 0; x < m.w; ++x) {
            const int64_t x0 = std::max<int64_t>(0, x - kRadius), x1 = std::min(m.w, x + kRadius + 1);
            const int64_t y0 = std::max<int64_t>(0, y - kRadius), y1 = std::min(m.h, y + kRadius + 1);
            const int64_t total = sum[size_t(y1 * (m.w + 1) + x1)] - sum[size_t(y0 * (m.w + 1) + x1)] -
                                  sum[size_t(y1 * (m.w + 1) + x0)] + sum[size_t(y0 * (m.w + 1) + x0)];
            const int64_t weight = m.dark[size_t(y * m.w + x)] - total / ((x1 - x0) * (y1 - y0)) - kMargin;
            if (weight > 0) ink.push_back({int32_t(x - m.w / 2), int32_t(y - m.h / 2), int32_t(weight)});
        }
    return ink;
}

// How sharp the rows and columns of the ink are when it is turned upright from a tilt of `degrees`
// anticlockwise: the sum of squared differences of neighbouring row sums and column sums. Each
// pixel's weight is shared between the two rows (columns) its turned position lies between.
double sharpness(const std::vector<Ink>& ink, int64_t side, double degrees) {
    const double a = degrees * (3.14159265358979323846 / 180.0);
    const int64_t c = fixed(std::cos(a)), s = fixed(std::sin(a));
    const int64_t bins = side + 4, offset = (bins / 2) * kOne;
    std::vector<int64_t> rows(size_t(bins), 0), columns(size_t(bins), 0);
    const auto add = [](std::vector<int64_t>& profile, int64_t pos, int64_t weight) {  // pos: 16.16
        const auto bin = size_t(pos >> 16);
        const int64_t frac = (pos >> 8) & 255;
        profile[bin] += weight * (256 - frac);
        profile[bin + 1] += weight * frac;
    };
    for (const Ink& p : ink) {
        add(rows, p.x * s + p.y * c + offset, p.weight);
        add(columns, p.x * c - p.y * s + offset, p.weight);
    }
    double score = 0;
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        const double dr = double(rows[i + 1] - rows[i]), dc = double(columns[i + 1] - columns[i]);
        score += dr * dr + dc * dc;
    }
    return score;
}

// The best of `count` angles from `first` in steps of `step`; `best` and `bestScore` are kept unless
// one scores higher (an empty page stays at its start).
void search(const std::vector<Ink>& ink, int64_t side, double first, double step, int count, double& best,
            double& bestScore) {
    std::vector<double> scores(static_cast<size_t>(count));
    forEachRowBand(count, int64_t(ink.size()) * 2, [&](int64_t a, int64_t b) {
        for (int64_t i = a; i < b; ++i) scores[size_t(i)] = sharpness(ink, side, first + step * double(i));
    });
    for (int i = 0; i < count; ++i)
        if (scores[size_t(i)] > bestScore) best = first + step * i, bestScore = scores[size_t(i)];
}

}  // namespace

double findTilt(const DibImage& image) {
    const DarkMap m = darkness(image);
    const std::vector<Ink> ink = inkOf(m);
    // Rows and columns of the turned copy stay within its diagonal.
    const auto side = int64_t(std::ceil(std::hypot(double(m.w), double(m.h)))) + 2;
    double best = 0, bestScore = sharpness(ink, side, 0);
    search(ink, side, -kDeskewMaxDegrees, 0.1, int(2 * kDeskewMaxDegrees / 0.1) + 1, best, bestScore);
    const double around = best;
    search(ink, side, around - 0.1, 0.01, 21, best, bestScore);
    return std::clamp(best, -kDeskewMaxDegrees, kDeskewMaxDegrees);
}

OpResult deskew(DibImage& image, double* found) {
    if (!image.pixelRowsPresent()) return OpResult::refused(kNoPixelRows);
    const int bits = image.bitCount();
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return OpResult::refused("needs a 1-, 4-, 8- or 24-bit picture, not " + std::to_string(bits) + "-bit");
    const double tilt = findTilt(image);
    if (found) *found = tilt;
    if (std::abs(tilt) < kDeskewLeastDegrees) return OpResult::unchanged("already upright (tilted less than 0.05 degrees)");
    return rotateByAngle(image, tilt);
}

std::string tiltText(double degrees) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::abs(degrees) < 0.005 ? 0.0 : degrees);
    return text;
}

}  // namespace qel
