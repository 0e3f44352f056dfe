// Line tidy 2 gives exactly the bytes of its plain version (every rule group tried at
// every position) on random drawings with thick and thin strokes.
#include <gtest/gtest.h>

#include <random>

#include "lineart/lineart.h"
#include "lineart/lineart_detail.h"
#include "support/text_image.h"

namespace qel {
namespace tidy2_reference {

using namespace lineart_detail;

struct Window {
    const PixelBlock& b;
    uint8_t B, W;
    int x = 0, y = 0;  // current position

    uint8_t& p(int dx, int dy) const { return b.row(y + dy)[x + dx]; }
    bool isB(int dx, int dy) const { return p(dx, dy) == B; }
    bool isW(int dx, int dy) const { return p(dx, dy) == W; }
};

// One of groups 1-4: a reference line, a clear line and the target line between
// them, each four offsets.
struct LineGroup {
    int ref[4][2], clear[4][2], target[4][2];
};
constexpr LineGroup kLineGroups[4] = {
    {{{0, 0}, {1, 0}, {2, 0}, {3, 0}}, {{0, -2}, {1, -2}, {2, -2}, {3, -2}}, {{0, -1}, {1, -1}, {2, -1}, {3, -1}}},
    {{{3, 0}, {3, -1}, {3, -2}, {3, -3}}, {{1, 0}, {1, -1}, {1, -2}, {1, -3}}, {{2, 0}, {2, -1}, {2, -2}, {2, -3}}},
    {{{0, -3}, {1, -3}, {2, -3}, {3, -3}}, {{0, -1}, {1, -1}, {2, -1}, {3, -1}}, {{0, -2}, {1, -2}, {2, -2}, {3, -2}}},
    {{{0, 0}, {0, -1}, {0, -2}, {0, -3}}, {{2, 0}, {2, -1}, {2, -2}, {2, -3}}, {{1, 0}, {1, -1}, {1, -2}, {1, -3}}},
};

void lineGroup(const Window& w, const LineGroup& g) {
    for (const auto& o : g.ref)
        if (!w.isB(o[0], o[1])) return;
    for (const auto& o : g.clear)
        if (!w.isW(o[0], o[1])) return;
    uint8_t& t0 = w.p(g.target[0][0], g.target[0][1]);
    uint8_t& t1 = w.p(g.target[1][0], g.target[1][1]);
    uint8_t& t2 = w.p(g.target[2][0], g.target[2][1]);
    uint8_t& t3 = w.p(g.target[3][0], g.target[3][1]);
    const uint8_t B = w.B, W = w.W;
    auto is = [&](uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return t0 == a && t1 == b && t2 == c && t3 == d; };
    if (is(W, B, W, W)) t1 = W;                 // a: one-pixel bump
    if (is(W, B, B, W)) t1 = t2 = W;            // b: two-pixel bump
    if (is(B, W, B, B)) t1 = B;                 // c: one-pixel notch
    if (is(B, W, W, B)) t1 = t2 = B;            // d: two-pixel notch
    if (is(W, B, W, B)) t1 = W;                 // e: speck beside the end of a line
}

void speckGroup(const Window& w) {
    for (int d = -2; d <= 2; ++d)
        if (!w.isW(d, -2) || !w.isW(d, 2)) return;
    for (int d = -1; d <= 1; ++d)
        if (!w.isW(-2, d) || !w.isW(2, d)) return;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) w.p(dx, dy) = w.W;
}

// Groups 6 and 7, one side of a five-pixel line through P: offsets are given as
// (along the line, across it); `side` is -1 (above or left) or 1 (below or right).
void fiveLineSide(const Window& w, bool vertical, int side) {
    auto at = [&](int a, int s) -> uint8_t& { return vertical ? w.p(s, a) : w.p(a, s); };
    for (int a = -2; a <= 2; ++a)
        if (at(a, 2 * side) != w.W) return;
    const uint8_t e0 = at(-2, side), e1 = at(2, side);
    uint8_t fill;
    if (e0 == w.W && e1 == w.W) fill = w.W;
    else if (e0 == w.B && e1 == w.B) fill = w.B;
    else return;
    for (int a = -1; a <= 1; ++a) at(a, side) = fill;
}

void fiveLineGroup(const Window& w, bool vertical, int firstSide) {
    for (int a = -2; a <= 2; ++a)
        if (!(vertical ? w.isB(0, a) : w.isB(a, 0))) return;
    fiveLineSide(w, vertical, firstSide);
    fiveLineSide(w, vertical, -firstSide);
}

const DisplayBitmap* referenceTidyLines2(DibImage& image) {
    if (image.bitCount() != 8) return image.displayBitmap.get();
    if (!image.rereadAs8Bit()) return image.displayBitmap.get();
    const auto block = pixelBlock8(image);
    const int B = lookupColour(image, kBlack), W = lookupColour(image, kWhite);
    if (!block || B < 0 || W < 0) return image.displayBitmap.get();

    Window w{*block, uint8_t(B), uint8_t(W)};
    for (int y = 4; y <= block->height - 5; ++y) {
        for (int x = 4; x <= block->stride - 5; ++x) {
            w.x = x;
            w.y = y;
            for (const auto& g : kLineGroups) lineGroup(w, g);
            speckGroup(w);
            fiveLineGroup(w, false, -1);  // group 6: above, then below
            fiveLineGroup(w, true, 1);    // group 7: right, then left
        }
    }
    return image.rebuildDisplay();
}

}  // namespace tidy2_reference

namespace {

TEST(Tidy2Equality, MatchesThePlainPassOnRandomDrawings) {
    std::mt19937 rng(41);
    for (int round = 0; round < 160; ++round) {
        // Widths past 64 and 128 columns so runs and windows cross word boundaries.
        const int w = 1 + rng() % (round < 80 ? 120 : 300), h = 1 + rng() % 60;
        test::Rows rows(h, std::string(w, '.'));
        // Bars of every thickness, one-pixel bumps and notches, specks; some rows left uniform.
        for (int k = 0; k < int(rng() % 10); ++k) {
            const int x0 = rng() % w, y0 = rng() % h, bw = 1 + rng() % 30, bh = 1 + rng() % 9;
            for (int y = y0; y < std::min(h, y0 + bh); ++y)
                for (int x = x0; x < std::min(w, x0 + bw); ++x) rows[y][x] = '#';
        }
        for (int k = 0; k < w * h / 25; ++k) {
            char& c = rows[rng() % h][rng() % w];
            c = c == '#' ? '.' : '#';
        }
        auto img = test::makeLineArt(rows);
        auto ref = test::makeLineArt(rows);
        tidyLines2(*img);
        tidy2_reference::referenceTidyLines2(*ref);
        ASSERT_EQ(img->bits, ref->bits) << "round " << round;
    }
}

}  // namespace
}  // namespace qel
