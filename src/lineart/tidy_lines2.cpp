// Line tidy 2: one raster pass of template rules over black line work. At each
// position seven rule groups run in order on the rows as they stand: bumps and
// notches beside straight four-pixel lines (groups 1-4), specks inside a white
// 5 x 5 ring (group 5), and three-pixel bumps or gaps beside five-pixel lines
// (groups 6 and 7). Only exact black and white indices match a test.
#include <cstring>

#include "lineart/lineart.h"
#include "lineart/lineart_detail.h"

namespace qel {

namespace {

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

}  // namespace

const DisplayBitmap* tidyLines2(DibImage& image) {
    if (image.bitCount() != 8) return image.displayBitmap.get();
    if (!image.rereadAs8Bit()) return image.displayBitmap.get();
    const auto block = pixelBlock8(image);
    const int B = lookupColour(image, kBlack), W = lookupColour(image, kWhite);
    if (!block || B < 0 || W < 0) return image.displayBitmap.get();

    Window w{*block, uint8_t(B), uint8_t(W)};
    // A position whose window (columns x-2..x+3, rows y-3..y+2) has every row of one
    // value changes nothing: line rules need a bump or notch within a row, the speck a
    // white ring (so white rows) and the five-pixel rules a mixed row or a white column.
    // So where 16 (or 8) bytes of each of those six rows are one value, the 11 (or 3)
    // positions they cover are passed over.
    const auto uniform = [](const uint8_t* p, int n) {
        uint64_t first = 0x0101010101010101ull * p[0], a;
        for (int k = 0; k < n; k += 8) {
            std::memcpy(&a, p + k, 8);
            if (a != first) return false;
        }
        return true;
    };
    const auto passable = [&](int x, int y, int n) {
        for (int dy = -3; dy <= 2; ++dy)
            if (!uniform(block->row(y + dy) + x - 2, n)) return false;
        return true;
    };
    // Whether any group can act at (x, y) as the rows stand: each group changes pixels
    // only when its first tests hold (a line group's reference and clear lines, the
    // speck's white top and bottom of the ring, a five-pixel line with a white line two
    // pixels to one side). When none holds, no
    // group acts, so none changes what the next one reads, and the position is passed.
    const int64_t st = block->stride;
    const uint8_t bb = uint8_t(B), ww = uint8_t(W);
    const uint32_t black4 = 0x01010101u * bb, white4 = 0x01010101u * ww;
    const auto four = [](const uint8_t* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    const auto mayAct = [&](int x, int y) {
        const uint8_t* c = block->row(y) + x;  // (x, y); a row up is +st (stored bottom-up)
        const uint8_t* up1 = c + st;
        const uint8_t* up2 = c + 2 * st;
        const uint8_t* up3 = c + 3 * st;
        // Groups 1 and 3: rows.
        if (four(c) == black4 && four(up2) == white4) return true;
        if (four(up3) == black4 && four(up1) == white4) return true;
        // Groups 2 and 4: columns x+3 and x+1, x and x+2, rows y-3..y.
        const auto column = [&](int dx, uint8_t v) { return c[dx] == v && up1[dx] == v && up2[dx] == v && up3[dx] == v; };
        if (column(3, bb) && column(1, ww)) return true;
        if (column(0, bb) && column(2, ww)) return true;
        // Speck: rows y-2 and y+2, columns x-2..x+2 white.
        const uint8_t* down2 = c - 2 * st;
        if (four(up2 - 2) == white4 && up2[2] == ww && four(down2 - 2) == white4 && down2[2] == ww) return true;
        // Group 6: row y, columns x-2..x+2 black, and row y-2 or y+2 white there.
        const auto row5 = [&](const uint8_t* r, uint8_t v, uint32_t v4) { return four(r - 2) == v4 && r[2] == v; };
        if (row5(c, bb, black4) && (row5(up2, ww, white4) || row5(down2, ww, white4))) return true;
        // Group 7: column x, rows y-2..y+2 black, and column x+2 or x-2 white there.
        const uint8_t* down1 = c - st;
        const auto column5 = [&](int dx, uint8_t v) {
            return c[dx] == v && up1[dx] == v && up2[dx] == v && down1[dx] == v && down2[dx] == v;
        };
        return column5(0, bb) && (column5(2, ww) || column5(-2, ww));
    };
    for (int y = 4; y <= block->height - 5; ++y) {
        for (int x = 4; x <= block->stride - 5; ++x) {
            if (x + 13 < block->stride && passable(x, y, 16)) {
                x += 10;
                continue;
            }
            if (x + 5 < block->stride && passable(x, y, 8)) {
                x += 2;
                continue;
            }
            if (!mayAct(x, y)) continue;
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

}  // namespace qel
