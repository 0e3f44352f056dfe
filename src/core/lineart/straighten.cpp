// Straightening: end and junction points of a thinned drawing start walks along
// the strokes; every `length` pixels walked, a straight segment is drawn from
// where the walk last stood to where it stands now.
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "core/lineart/lineart.h"
#include "core/lineart/lineart_detail.h"

namespace qel {

namespace {

using namespace lineart_detail;

// Moves of the eight directions, counter-clockwise from the right; y grows downwards.
constexpr int kDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kDy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
// Turns tried from the current direction, in falling priority; the last is the reverse.
constexpr int kTurns[8] = {0, -1, 1, -2, 2, -3, 3, 4};

struct Tracer {
    const PixelBlock& out;
    std::vector<uint8_t>& work;  // copy of the classified rows, same layout as `bits`
    uint8_t K, Rd, Gn;
    int length;
    DibImage& image;
    bool greened = false;  // a pixel of the work rows turned green during this scan

    // Work pixel (x, y); positions outside the picture read as background.
    int at(int x, int y) const {
        if (x < 0 || x >= out.width || y < 0 || y >= out.height) return -1;
        return work[static_cast<size_t>(out.height - 1 - y) * out.stride + x];
    }
    void set(int x, int y, uint8_t v) { work[static_cast<size_t>(out.height - 1 - y) * out.stride + x] = v; }

    // Walks every segment from the red point (x, y); returns whether a black neighbour was seen first.
    bool walk(int x, int y) {
        bool blackNeighbour = false;
        for (int k = 0; k < 8; ++k) blackNeighbour |= at(x + kDx[k], y + kDy[k]) == K;
        int d = 0, sx = x, sy = y;
        bool stop = false;
        while (!stop) {
            for (int step = 0; step < length; ++step) {
                int next = -1;
                for (int t : kTurns) {
                    const int nd = (d + t + 8) & 7;
                    const int v = at(x + kDx[nd], y + kDy[nd]);
                    if (v == K || (t != 4 && v == Rd)) {
                        next = nd;
                        break;
                    }
                }
                if (next < 0) {
                    stop = true;
                    break;
                }
                d = next;
                x += kDx[d];
                y += kDy[d];
                if (at(x, y) == Rd) {
                    stop = true;
                    break;
                }
                set(x, y, Gn);
                greened = true;
            }
            drawSegment(image, sx, sy, x, y, K);
            sx = x;
            sy = y;
        }
        return blackNeighbour;
    }
};

}  // namespace

void drawSegment(DibImage& image, int x0, int y0, int x1, int y1, uint8_t colour) {
    const auto block = pixelBlock8(image);
    if (!block) return;
    auto plot = [&](int64_t x, int64_t y) {
        if (x >= 0 && x < block->width && y >= 0 && y < block->height) block->row(static_cast<int>(y))[x] = colour;
    };
    const int64_t dx = int64_t(x1) - x0, dy = int64_t(y1) - y0;
    const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    if (adx == 0 && ady == 0) return;
    if (adx >= ady) {
        const double slope = static_cast<float>(dy) / static_cast<float>(dx);
        const int64_t first = std::min(x0, x1);
        const int64_t last = adx > ady ? first + adx - 1 : first + adx;
        for (int64_t x = first; x <= last; ++x) {
            const auto y = static_cast<int64_t>(std::trunc(y0 + static_cast<double>(x - x0) * slope));
            if (adx == ady && y <= 0) continue;  // the diagonal case leaves the top row undrawn
            plot(x, y);
        }
    } else {
        const double slope = static_cast<float>(dx) / static_cast<float>(dy);
        const int64_t first = std::min(y0, y1);
        for (int64_t y = first; y <= first + ady - 1; ++y)
            plot(static_cast<int64_t>(std::trunc(x0 + static_cast<double>(y - y0) * slope)), y);
    }
}

OpResult straighten(DibImage& image, int length) {
    const auto block = pixelBlock8(image);
    if (!block) return OpResult::refused(kNeedsRows8);
    if (length < 1) return OpResult::unchanged("a segment length below 1 changes nothing");
    const int K = lookupColour(image, kBlack), Rd = lookupColour(image, kRed), Gn = lookupColour(image, kGreen);
    const int Bl = lookupColour(image, kBlue), Wt = lookupColour(image, kWhite);
    if (auto refused = missingColours({{"black", K}, {"red", Rd}, {"green", Gn}, {"blue", Bl}, {"white", Wt}}))
        return *refused;

    classifyPoints(*block, uint8_t(K), uint8_t(Rd), uint8_t(Bl));
    std::vector<uint8_t> work(image.bits.begin(), image.bits.begin() + block->bytes());
    std::fill(image.bits.begin(), image.bits.end(), uint8_t(Wt));

    Tracer tracer{*block, work, uint8_t(K), uint8_t(Rd), uint8_t(Gn), length, image};
    // Walks only ever turn black work pixels green, so the red points a scan meets are
    // the same in every scan: found once, in raster order.
    std::vector<std::pair<int, int>> reds;
    for (int y = 1; y < block->height - 1; ++y) {
        const uint8_t* line = work.data() + static_cast<size_t>(block->height - 1 - y) * block->stride;
        const uint8_t* end = line + block->width - 1;
        for (const uint8_t* p = line + 1; p < end && (p = static_cast<const uint8_t*>(std::memchr(p, Rd, end - p))); ++p)
            reds.emplace_back(static_cast<int>(p - line), y);
    }
    // Whole scans until one sees no black pixel next to a red one, or turns nothing green
    // (a red point whose first choice is another red point can hold black neighbours forever).
    for (;;) {
        bool done = true;
        tracer.greened = false;
        for (const auto& [x, y] : reds)
            if (tracer.walk(x, y)) done = false;
        if (done || !tracer.greened) break;
    }
    image.rebuildDisplay();
    return OpResult::changed();
}

}  // namespace qel
