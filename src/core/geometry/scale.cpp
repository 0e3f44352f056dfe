// Scaling of 24-bit pictures: nearest neighbour, running-mean averaging and
// the doubling route of the scale command, plus the dialog's aspect coupling.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/geometry/geometry.h"
#include "core/geometry/picture24.h"
#include "core/formats/bmp_file.h"
#include "core/image/parallel_rows.h"

namespace qel {

using geometry_detail::Rows24;
using geometry_detail::rows24;
using geometry_detail::kNeedsRows24;

namespace {

// Factors are single precision, formed from the two sizes; products with an
// index are taken in double (exact for these magnitudes) and truncated.
float factor(int32_t to, int32_t from) { return static_cast<float>(to) / static_cast<float>(from); }
int64_t scaled(int64_t index, float f) { return static_cast<int64_t>(static_cast<double>(index) * static_cast<double>(f)); }

// For each destination index along one axis, the source index visited last by
// nearest resampling, or -1 when none lands there.
std::vector<int32_t> nearestMap(int32_t from, int32_t to) {
    std::vector<int32_t> map(static_cast<size_t>(to), -1);
    const float s = factor(to, from);
    if (s > 1.0f) {
        const float inv = 1.0f / s;
        // A rounded-up inverse could point one past the last source index.
        for (int32_t d = 0; d < to; ++d) map[d] = static_cast<int32_t>(std::min<int64_t>(scaled(d, inv), from - 1));
    } else {
        for (int32_t x = 0; x < from; ++x) {
            const int64_t d = scaled(x, s);
            if (d < to) map[static_cast<size_t>(d)] = x;  // indices only grow: the last writer is the largest
        }
    }
    return map;
}

// Destination index of every source index for averaging (-1 beyond the destination).
std::vector<int32_t> averageMap(int32_t from, int32_t to) {
    std::vector<int32_t> map(static_cast<size_t>(from));
    const float s = factor(to, from);
    for (int32_t x = 0; x < from; ++x) {
        const int64_t d = scaled(x, s);
        map[x] = d < to ? static_cast<int32_t>(d) : -1;
    }
    return map;
}

// floor(d / n) for every d in -255..255 and n in 1..255, looked up; larger
// counts exceed |d|, so the quotient is 0 or -1.
struct FloorDivTable {
    std::vector<int16_t> q;  // q[n * 511 + d + 255]
    FloorDivTable() : q(256 * 511) {
        for (int n = 1; n < 256; ++n)
            for (int d = -255; d <= 255; ++d) q[n * 511 + d + 255] = static_cast<int16_t>(d >= 0 ? d / n : -((-d + n - 1) / n));
    }
};
const FloorDivTable floorDiv;

// One running-mean step: ((n - 1) * mean + v) / n truncated, as mean + floor((v - mean) / n).
inline uint8_t runningMean(uint8_t mean, uint8_t v, uint32_t n) {
    if (n > 255) return static_cast<uint8_t>(mean - (v < mean));
    return static_cast<uint8_t>(mean + floorDiv.q[n * 511 + int(v) - int(mean) + 255]);
}

bool sizeAcceptable(int32_t width, int32_t height) {
    return width > 0 && height > 0 && sizeWithinLimits(width, height);
}

// Installs a width x height pixel block, keeping the rest of the header block.
OpResult install(DibImage& image, int32_t width, int32_t height, PixelBytes bits) {
    std::vector<uint8_t> info = image.info;
    BitmapInfoHeader h;
    std::memcpy(&h, info.data(), kHeaderSize);
    h.biWidth = width;
    h.biHeight = height;
    h.biSizeImage = static_cast<uint32_t>(bits.size());
    std::memcpy(info.data(), &h, kHeaderSize);
    image.replace(std::move(info), std::move(bits));
    return OpResult::changed();
}

// Why a scale cannot run, or nothing when it can.
std::optional<OpResult> refusal(DibImage& image, Rows24& src, int32_t width, int32_t height) {
    if (!rows24(image, src)) return OpResult::refused(kNeedsRows24);
    if (!sizeAcceptable(width, height))
        return OpResult::refused(std::to_string(width) + " x " + std::to_string(height) + " is beyond the size limits");
    return std::nullopt;
}

}  // namespace

OpResult scaleNearest(DibImage& image, int32_t width, int32_t height) {
    Rows24 src;
    if (auto refused = refusal(image, src, width, height)) return *refused;
    const auto cols = nearestMap(src.width, width);
    const auto rows = nearestMap(src.height, height);
    const int64_t stride = strideFor(width, 24);
    PixelBytes bits(static_cast<size_t>(stride * height));
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = bits.data() + (height - 1 - y) * stride;
        if (rows[y] < 0) continue;
        if (y > 0 && rows[y] == rows[y - 1]) {
            std::memcpy(out, out + stride, static_cast<size_t>(3) * width);
            continue;
        }
        const uint8_t* in = src.rowFromTop(rows[y]);
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = cols[x];
            if (sx < 0) continue;
            std::memcpy(out + 3 * int64_t(x), in + 3 * int64_t(sx), 3);
        }
    }
    return install(image, width, height, std::move(bits));
}

OpResult scaleAverage(DibImage& image, int32_t width, int32_t height) {
    Rows24 src;
    if (auto refused = refusal(image, src, width, height)) return *refused;
    const auto cols = averageMap(src.width, width);
    const auto rows = averageMap(src.height, height);
    const int64_t stride = strideFor(width, 24);
    PixelBytes bits(static_cast<size_t>(stride * height));
    // Source rows map in order, so each destination row's sources are consecutive: sources[dy] up
    // to sources[dy + 1]. Destination rows are independent and run in bands on several threads.
    std::vector<int32_t> sources(static_cast<size_t>(height) + 1, src.height);
    for (int32_t y = src.height - 1; y >= 0; --y)
        if (rows[y] >= 0) sources[rows[y]] = y;
    for (int32_t dy = height - 1; dy >= 0; --dy) sources[dy] = std::min(sources[dy], sources[dy + 1]);
    forEachRowBand(height, int64_t(src.width) * std::max(1, src.height / height), [&](int64_t first, int64_t last) {
        std::vector<uint32_t> counts(static_cast<size_t>(width));  // samples so far, per pixel of the row
        const int32_t* const columns = cols.data();  // locals, so the loop keeps them in registers
        const int32_t sourceWidth = src.width;
        for (int64_t dy = first; dy < last; ++dy) {
            std::fill(counts.begin(), counts.end(), 0u);
            uint32_t* const count = counts.data();
            uint8_t* const out = bits.data() + (height - 1 - dy) * stride;
            for (int32_t y = sources[dy]; y < sources[dy + 1]; ++y) {
                if (rows[y] != dy) continue;  // a last source row beyond the destination
                const uint8_t* const in = src.rowFromTop(y);
                for (int32_t x = 0; x < sourceWidth; ++x) {
                    const int32_t dx = columns[x];
                    if (dx < 0) continue;
                    const uint32_t n = ++count[dx];
                    uint8_t* p = out + 3 * int64_t(dx);
                    const uint8_t* q = in + 3 * int64_t(x);
                    p[0] = runningMean(p[0], q[0], n);
                    p[1] = runningMean(p[1], q[1], n);
                    p[2] = runningMean(p[2], q[2], n);
                }
            }
        }
    });
    return install(image, width, height, std::move(bits));
}

OpResult scaleDoubledAverage(DibImage& image, int32_t width, int32_t height) {
    Rows24 src;
    if (auto refused = refusal(image, src, width, height)) return *refused;
    // The doubled picture exists only as these maps; an unreached doubled pixel reads as black.
    const auto cols = nearestMap(src.width, 2 * width);
    const auto rows = nearestMap(src.height, 2 * height);
    static const uint8_t black[3] = {0, 0, 0};
    auto pixel = [&](const uint8_t* row, int32_t sx) -> const uint8_t* {
        return (row && sx >= 0) ? row + 3 * int64_t(sx) : black;
    };
    const int64_t stride = strideFor(width, 24);
    PixelBytes bits(static_cast<size_t>(stride * height));
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = bits.data() + (height - 1 - y) * stride;
        const int32_t r0 = rows[2 * size_t(y)], r1 = rows[2 * size_t(y) + 1];
        if (y > 0 && r0 == rows[2 * size_t(y) - 2] && r1 == rows[2 * size_t(y) - 1]) {
            std::memcpy(out, out + stride, static_cast<size_t>(3) * width);
            continue;
        }
        const uint8_t* top = r0 >= 0 ? src.rowFromTop(r0) : nullptr;
        const uint8_t* bottom = r1 >= 0 ? src.rowFromTop(r1) : nullptr;
        for (int32_t x = 0; x < width; ++x) {
            const int32_t c0 = cols[2 * size_t(x)], c1 = cols[2 * size_t(x) + 1];
            uint8_t* p = out + 3 * int64_t(x);
            if (c0 == c1 && r0 == r1) {  // one pixel four times: its mean is itself
                std::memcpy(p, pixel(top, c0), 3);
                continue;
            }
            const uint8_t* a = pixel(top, c0);
            const uint8_t* b = pixel(top, c1);
            const uint8_t* c = pixel(bottom, c0);
            const uint8_t* d = pixel(bottom, c1);
            for (int k = 0; k < 3; ++k) {
                // Running mean of the 2 x 2 block in visiting order, truncated at every step.
                int m = a[k];
                m += (int(b[k]) - m) >> 1;
                m += (int(c[k]) - m + 765) / 3 - 255;
                m += (int(d[k]) - m) >> 2;
                p[k] = static_cast<uint8_t>(m);
            }
        }
    }
    return install(image, width, height, std::move(bits));
}

ScaleRoute scaleRoute(int32_t fromWidth, int32_t fromHeight, int32_t toWidth, int32_t toHeight, bool interpolate) {
    if (!interpolate) return ScaleRoute::Nearest;
    if (toWidth < fromWidth && toHeight < fromHeight) return ScaleRoute::Average;
    return ScaleRoute::DoubledAverage;
}

OpResult scaleByCommand(DibImage& image, int32_t width, int32_t height, bool interpolate) {
    const BitmapInfoHeader h = image.header();
    switch (scaleRoute(h.biWidth, h.biHeight, width, height, interpolate)) {
    case ScaleRoute::Nearest: return scaleNearest(image, width, height);
    case ScaleRoute::Average: return scaleAverage(image, width, height);
    case ScaleRoute::DoubledAverage: return scaleDoubledAverage(image, width, height);
    }
    return OpResult::refused("unknown scaling route");
}

uint32_t readTypedUnsigned(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t end = text.size();
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    if (i == end) return 0;
    uint32_t value = 0;
    auto [p, ec] = std::from_chars(text.data() + i, text.data() + end, value);
    if (ec != std::errc() || p != text.data() + end) return 0;
    return value;
}

int64_t coupledSide(int64_t typed, int32_t origThis, int32_t origOther) {
    if (origThis <= 0) return 0;
    return typed * origOther / origThis;
}

std::optional<std::string> ScaleDialogState::widthTextChanged(std::string_view text) {
    if (editing != 1) return std::nullopt;
    const uint32_t typed = readTypedUnsigned(text);
    width = static_cast<int32_t>(std::min<uint32_t>(typed, INT32_MAX));
    if (!keepAspect) return std::nullopt;
    const int64_t other = coupledSide(typed, origWidth, origHeight);
    height = static_cast<int32_t>(std::clamp<int64_t>(other, INT32_MIN, INT32_MAX));
    return std::to_string(other);
}

std::optional<std::string> ScaleDialogState::heightTextChanged(std::string_view text) {
    if (editing != 2) return std::nullopt;
    const uint32_t typed = readTypedUnsigned(text);
    height = static_cast<int32_t>(std::min<uint32_t>(typed, INT32_MAX));
    if (!keepAspect) return std::nullopt;
    const int64_t other = coupledSide(typed, origHeight, origWidth);
    width = static_cast<int32_t>(std::clamp<int64_t>(other, INT32_MIN, INT32_MAX));
    return std::to_string(other);
}

}  // namespace qel
