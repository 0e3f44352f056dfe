// Line tidy 2: one raster pass of template rules over black line work. At each
// position seven rule groups run in order on the rows as they stand: bumps and
// notches beside straight four-pixel lines (groups 1-4), specks inside a white
// 5 x 5 ring (group 5), and three-pixel bumps or gaps beside five-pixel lines
// (groups 6 and 7). Only exact black and white indices match a test.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "core/lineart/lineart.h"
#include "core/lineart/lineart_detail.h"

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

void lineart_detail::tidy2GroupsAt(const PixelBlock& b, uint8_t black, uint8_t white, int x, int y) {
    const Window w{b, black, white, x, y};
    for (const auto& g : kLineGroups) lineGroup(w, g);
    speckGroup(w);
    fiveLineGroup(w, false, -1);  // group 6: above, then below
    fiveLineGroup(w, true, 1);    // group 7: right, then left
}

namespace {

// Per-row bit planes of "is black" and "is white", so whether a group would act
// can be asked for 64 positions at once. Each row keeps a zero word on
// both sides so shifted reads at the edges need no special case.
class Planes {
public:
    Planes(const PixelBlock& b, uint8_t black, uint8_t white)
        : b_(b), black_(black), white_(white), words_((b.stride + 63) / 64), rowWords_(words_ + 2),
          bk_(size_t(rowWords_) * b.height, 0), wt_(size_t(rowWords_) * b.height, 0) {
        for (int y = 0; y < b.height; ++y) {
            fill(b.row(y), black, bk_.data() + size_t(y) * rowWords_ + 1);
            fill(b.row(y), white, wt_.data() + size_t(y) * rowWords_ + 1);
        }
    }

    // Re-reads rows y0..y1, columns x0..x1 after the rules wrote there.
    void refresh(int x0, int x1, int y0, int y1) {
        for (int y = y0; y <= y1; ++y) {
            const uint8_t* r = b_.row(y);
            uint64_t* kb = bk_.data() + size_t(y) * rowWords_ + 1;
            uint64_t* kw = wt_.data() + size_t(y) * rowWords_ + 1;
            for (int x = x0; x <= x1; ++x) {
                const uint64_t bit = uint64_t(1) << (x & 63);
                kb[x >> 6] = (kb[x >> 6] & ~bit) | (r[x] == black_ ? bit : 0);
                kw[x >> 6] = (kw[x >> 6] & ~bit) | (r[x] == white_ ? bit : 0);
            }
        }
    }

    // Bit i set where some group would change a pixel at (64k + i, y), as the rows
    // stand. Where no group would, none does: each reads what the one before left
    // unchanged.
    uint64_t candidates(int y, int k) const {
        Trio b[6], w[6];  // rows y-3 .. y+2
        for (int j = 0; j < 6; ++j) {
            b[j] = at(bk_, y - 3 + j, k);
            w[j] = at(wt_, y - 3 + j, k);
        }
        const auto B = [&](int dy) -> const Trio& { return b[dy + 3]; };
        const auto W = [&](int dy) -> const Trio& { return w[dy + 3]; };

        // Groups 1-4: reference line black, clear line white, target matching a bump or notch.
        uint64_t m = run4(B(0)) & run4(W(-2)) & bumpOrNotch(rowTargets(B(-1)), rowTargets(W(-1)));
        m |= run4(B(-3)) & run4(W(-1)) & bumpOrNotch(rowTargets(B(-2)), rowTargets(W(-2)));
        const Trio cb4 = B(0) & B(-1) & B(-2) & B(-3), cw4 = W(0) & W(-1) & W(-2) & W(-3);
        m |= shift<3>(cb4) & shift<1>(cw4) & bumpOrNotch(columnTargets<2>(B), columnTargets<2>(W));
        m |= shift<0>(cb4) & shift<2>(cw4) & bumpOrNotch(columnTargets<1>(B), columnTargets<1>(W));

        // Speck: the 5 x 5 ring white, the 3 x 3 inside not.
        const Trio middleW = W(-1) & W(0) & W(1);
        m |= run5(W(-2)) & run5(W(2)) & shift<-2>(middleW) & shift<2>(middleW) &
             ~(run3(W(-1)) & run3(W(0)) & run3(W(1)));

        // Group 6: a black five-pixel row; on a side, white two rows off, and the three
        // middle pixels one row off differing from the two ends when those agree.
        const auto rowSide = [&](int s) {
            const Trio& nb = B(s);
            const Trio& nw = W(s);
            return run5(W(2 * s)) & ((shift<-2>(nw) & shift<2>(nw) & ~run3(nw)) | (shift<-2>(nb) & shift<2>(nb) & ~run3(nb)));
        };
        m |= run5(B(0)) & (rowSide(-1) | rowSide(1));

        // Group 7: the same on columns.
        const Trio cb5 = B(-2) & B(-1) & B(0) & B(1) & B(2), cw5 = W(-2) & W(-1) & W(0) & W(1) & W(2);
        const Trio endsW = W(-2) & W(2), endsB = B(-2) & B(2);
        const Trio midW = middleW, midB = B(-1) & B(0) & B(1);
        const uint64_t right = shift<2>(cw5) & ((shift<1>(endsW) & ~shift<1>(midW)) | (shift<1>(endsB) & ~shift<1>(midB)));
        const uint64_t left = shift<-2>(cw5) & ((shift<-1>(endsW) & ~shift<-1>(midW)) | (shift<-1>(endsB) & ~shift<-1>(midB)));
        m |= shift<0>(cb5) & (right | left);
        return m;
    }

private:
    // Words k-1, k, k+1 of one row (or of several rows combined).
    struct Trio {
        uint64_t p, c, n;
        Trio operator&(const Trio& o) const { return {p & o.p, c & o.c, n & o.n}; }
    };
    Trio at(const std::vector<uint64_t>& plane, int y, int k) const {
        const uint64_t* r = plane.data() + size_t(y) * rowWords_ + 1 + k;
        return {r[-1], r[0], r[1]};
    }
    // Bit i of the result is the bit of column 64k + i + d.
    template <int d>
    static uint64_t shift(const Trio& t) {
        if constexpr (d == 0) return t.c;
        else if constexpr (d > 0) return (t.c >> d) | (t.n << (64 - d));
        else return (t.c << -d) | (t.p >> (64 + d));
    }
    static uint64_t run4(const Trio& t) { return shift<0>(t) & shift<1>(t) & shift<2>(t) & shift<3>(t); }
    static uint64_t run3(const Trio& t) { return shift<-1>(t) & shift<0>(t) & shift<1>(t); }
    static uint64_t run5(const Trio& t) { return shift<-2>(t) & shift<-1>(t) & shift<0>(t) & shift<1>(t) & shift<2>(t); }

    // A target line's four pixels, along a row (x .. x+3) or down a column at x + dx
    // (rows y, y-1, y-2, y-3).
    using Four = std::array<uint64_t, 4>;
    static Four rowTargets(const Trio& t) { return {shift<0>(t), shift<1>(t), shift<2>(t), shift<3>(t)}; }
    template <int dx, typename Rows>
    static Four columnTargets(const Rows& r) { return {shift<dx>(r(0)), shift<dx>(r(-1)), shift<dx>(r(-2)), shift<dx>(r(-3))}; }
    // The target patterns a line group acts on: W B W W, W B B W, B W B B, B W W B, W B W B.
    static uint64_t bumpOrNotch(const Four& b, const Four& w) {
        return (w[0] & b[1] & w[2] & w[3]) | (w[0] & b[1] & b[2] & w[3]) | (b[0] & w[1] & b[2] & b[3]) |
               (b[0] & w[1] & w[2] & b[3]) | (w[0] & b[1] & w[2] & b[3]);
    }

    // Bit i of out[k] is whether byte 64k + i of the row equals v; 8 bytes at a time.
    void fill(const uint8_t* row, uint8_t v, uint64_t* out) const {
        const uint64_t rep = 0x0101010101010101ull * v;
        const int n = b_.stride;
        for (int k = 0; k < words_; ++k) {
            const uint8_t* p = row + 64 * k;
            const int end = std::min(64, n - 64 * k);
            uint64_t word = 0;
            int i = 0;
            for (; i + 8 <= end; i += 8) {
                uint64_t a;
                std::memcpy(&a, p + i, 8);
                a ^= rep;                                                            // equal bytes become 0
                const uint64_t nonzero = ((a & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | a;
                const uint64_t zero = ~nonzero & 0x8080808080808080ull;             // top bit of each equal byte
                word |= (((zero >> 7) * 0x0102040810204080ull) >> 56) << i;          // gathered into 8 bits
            }
            for (; i < end; ++i) word |= uint64_t(p[i] == v) << i;
            out[k] = word;
        }
    }

    const PixelBlock& b_;
    uint8_t black_, white_;
    int words_, rowWords_;
    std::vector<uint64_t> bk_, wt_;
};

}  // namespace

OpResult tidyLines2(DibImage& image) {
    if (image.bitCount() != 8) return OpResult::refused(kNeeds8Bit);
    if (!image.rereadAs8Bit()) return OpResult::refused(kNoReadBack);
    const auto block = pixelBlock8(image);
    if (!block) return OpResult::refused(kNeedsRows8);
    const int B = lookupColour(image, kBlack), W = lookupColour(image, kWhite);
    if (auto refused = missingColours({{"black", B}, {"white", W}})) return *refused;
    if (block->height < 9 || block->stride < 9) {  // no position has its window: only the re-read shows
        image.rebuildDisplay();
        return OpResult::changed();
    }

    // The pass visits only positions where some group would change a pixel, asked of
    // the bit planes 64 at a time as the rows stand: after the groups run at a position
    // the planes are re-read around it and the rest of the word asked again; later
    // words and rows are asked when reached.
    Planes planes(*block, uint8_t(B), uint8_t(W));
    const int xFirst = 4, xLast = block->stride - 5;
    for (int y = 4; y <= block->height - 5; ++y) {
        for (int k = xFirst / 64; k <= xLast / 64; ++k) {
            uint64_t valid = ~uint64_t(0);
            if (64 * k < xFirst) valid &= ~uint64_t(0) << (xFirst - 64 * k);
            if (64 * k + 63 > xLast) valid &= ~uint64_t(0) >> (64 * k + 63 - xLast);
            uint64_t m = planes.candidates(y, k) & valid;
            while (m) {
                const int i = std::countr_zero(m);
                const int x = 64 * k + i;
                tidy2GroupsAt(*block, uint8_t(B), uint8_t(W), x, y);
                planes.refresh(x - 2, x + 3, y - 3, y + 2);
                if (i == 63) break;
                m = planes.candidates(y, k) & valid & (~uint64_t(0) << (i + 1));
            }
        }
    }
    image.rebuildDisplay();
    return OpResult::changed();
}

}  // namespace qel
