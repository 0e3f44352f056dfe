// Line tidy gives exactly the bytes of its plain version (every pixel read through the
// bounds-checked accessor) on random line drawings.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "core/lineart/lineart.h"
#include "core/lineart/lineart_detail.h"
#include "support/text_image.h"

namespace qel {
namespace tidy_reference {

using namespace lineart_detail;

enum Dir { kUp, kRight, kDown, kLeft };

// Pixel access by (x, y) over the whole row bytes 0 .. stride-1; positions
// outside the rows or outside a row's bytes read as white.
struct Grid {
    const PixelBlock& b;
    uint8_t K, W;

    uint8_t at(int x, int y) const {
        if (x < 0 || x >= b.stride || y < 0 || y >= b.height) return W;
        return b.row(y)[x];
    }
    void set(int x, int y, uint8_t v) const { b.row(y)[x] = v; }
    bool isK(int x, int y) const { return at(x, y) == K; }
    bool isW(int x, int y) const { return at(x, y) == W; }

    // Consecutive pixels from (x, y) on that are not white.
    int run(int x, int y, Dir d) const {
        static constexpr int dx[4] = {0, 1, 0, -1}, dy[4] = {-1, 0, 1, 0};
        int n = 0;
        while (!isW(x, y)) {
            ++n;
            x += dx[d];
            y += dy[d];
        }
        return n;
    }
};

// Moves the corner pixel of the longer arm onto a short step. `firstOnTie`
// breaks the tie F = G towards the first action.
void evenStep(const Grid& g, int j, int F, int G, bool firstOnTie, int ax, int ay, int bx, int by, int cx, int cy,
              int ex, int ey) {
    const bool first = firstOnTie ? F >= G : F > G;
    if (first) {
        if (F > j + 1 && G >= j) {
            g.set(ax, ay, g.W);
            g.set(bx, by, g.K);
        }
    } else if (F >= j && G > j + 1) {
        g.set(cx, cy, g.W);
        g.set(ex, ey, g.K);
    }
}

// Bump rules act unless both arms are a single pixel (or either is empty).
bool armsAllowMove(int F, int G) { return F != 0 && G != 0 && !(F == 1 && G == 1); }

void verticalScan(const Grid& g, int j) {
    const int S = g.b.stride, H = g.b.height;
    for (int x = 1; x <= S - 2; ++x) {
        for (int y = j; y <= H - j - 1; ++y) {
            if (!g.isK(x, y) || !g.isW(x, y - 1) || !g.isW(x, y + j)) continue;
            if (j == 2 && !g.isK(x, y + 1)) continue;
            // V1: arms to the upper left and lower right.
            if (g.isK(x - 1, y - 1) && g.isW(x + 1, y - 1) && g.isW(x - 1, y + j) && g.isK(x + 1, y + j))
                evenStep(g, j, g.run(x - 1, y - 1, kUp), g.run(x + 1, y + j, kDown), true, x - 1, y - 1, x, y - 1,
                         x + 1, y + j, x, y + j);
            // V2: a pixel jutting out right of a vertical stroke.
            if (j == 1 && g.isW(x + 1, y - 1) && g.isK(x - 1, y - 1) && g.isK(x - 1, y + 1) && g.isW(x + 1, y + 1) &&
                armsAllowMove(g.run(x - 1, y - 1, kUp), g.run(x - 1, y + 1, kDown))) {
                g.set(x, y, g.W);
                g.set(x - 1, y, g.K);
            }
            // V3: arms to the upper right and lower left.
            if (g.isK(x + 1, y - 1) && g.isW(x - 1, y - 1) && g.isK(x - 1, y + j) && g.isW(x + 1, y + j))
                evenStep(g, j, g.run(x + 1, y - 1, kUp), g.run(x - 1, y + j, kDown), true, x + 1, y - 1, x, y - 1,
                         x - 1, y + j, x, y + j);
            // V4: a pixel jutting out left of a vertical stroke.
            if (j == 1 && g.isK(x + 1, y - 1) && g.isW(x - 1, y - 1) && g.isW(x - 1, y + 1) && g.isK(x + 1, y + 1) &&
                armsAllowMove(g.run(x + 1, y - 1, kUp), g.run(x + 1, y + 1, kDown))) {
                g.set(x, y, g.W);
                g.set(x + 1, y, g.K);
            }
        }
    }
}

void horizontalScan(const Grid& g, int j) {
    const int S = g.b.stride, H = g.b.height;
    for (int y = 1; y <= H - 2; ++y) {
        for (int x = j; x <= S - j - 1; ++x) {
            if (!g.isK(x, y) || !g.isW(x - 1, y) || !g.isW(x + j, y)) continue;
            if (j == 2 && !g.isK(x + 1, y)) continue;
            // H1: arms to the upper left and lower right; a tie moves the lower right corner.
            if (g.isW(x + j, y - 1) && g.isK(x - 1, y - 1) && g.isW(x - 1, y + 1) && g.isK(x + j, y + 1))
                evenStep(g, j, g.run(x - 1, y - 1, kLeft), g.run(x + j, y + 1, kRight), false, x - 1, y - 1, x - 1, y,
                         x + j, y + 1, x + j, y);
            // H2: a pixel jutting out below a horizontal stroke.
            if (j == 1 && g.isK(x + 1, y - 1) && g.isK(x - 1, y - 1) && g.isW(x - 1, y + 1) && g.isW(x + 1, y + 1) &&
                armsAllowMove(g.run(x - 1, y - 1, kLeft), g.run(x + 1, y - 1, kRight))) {
                g.set(x, y, g.W);
                g.set(x, y - 1, g.K);
            }
            // H3: arms to the upper right and lower left.
            if (g.isK(x + j, y - 1) && g.isW(x - 1, y - 1) && g.isK(x - 1, y + 1) && g.isW(x + j, y + 1))
                evenStep(g, j, g.run(x + j, y - 1, kRight), g.run(x - 1, y + 1, kLeft), true, x + j, y - 1, x + j, y,
                         x - 1, y + 1, x - 1, y);
            // H4: a pixel jutting out above a horizontal stroke.
            if (j == 1 && g.isW(x + 1, y - 1) && g.isW(x - 1, y - 1) && g.isK(x - 1, y + 1) && g.isK(x + 1, y + 1) &&
                armsAllowMove(g.run(x - 1, y + 1, kLeft), g.run(x + 1, y + 1, kRight))) {
                g.set(x, y, g.W);
                g.set(x, y + 1, g.K);
            }
        }
    }
}

const DisplayBitmap* referenceTidyLines(DibImage& image) {
    const auto block = pixelBlock8(image);
    if (!block) return image.displayBitmap.get();
    const int K = lookupColour(image, kBlack), Rd = lookupColour(image, kRed);
    const int Bl = lookupColour(image, kBlue), W = lookupColour(image, kWhite);
    if (K < 0 || Rd < 0 || Bl < 0 || W < 0) return image.displayBitmap.get();

    classifyPoints(*block, uint8_t(K), uint8_t(Rd), uint8_t(Bl));
    const Grid g{*block, uint8_t(K), uint8_t(W)};
    for (int j = 1; j <= 2; ++j) {
        verticalScan(g, j);
        horizontalScan(g, j);
    }
    uint8_t* p = block->data;
    for (int64_t i = 0; i < block->bytes(); ++i) {
        if (p[i] == Rd) p[i] = uint8_t(K);
        else if (p[i] == Bl) p[i] = uint8_t(W);
    }
    return image.rebuildDisplay();
}

}  // namespace tidy_reference

namespace {

TEST(TidyEquality, MatchesThePlainScanOnRandomLineDrawings) {
    std::mt19937 rng(31);
    for (int round = 0; round < 160; ++round) {
        const int w = 3 + rng() % 90, h = 3 + rng() % 70;
        test::Rows rows(h, std::string(w, '.'));
        // Random strokes, some thinned-looking one-pixel diagonals, plus scattered dots.
        for (int k = 0; k < 2 + int(rng() % 12); ++k) {
            int x = rng() % w, y = rng() % h;
            const int thick = 1 + rng() % 3;
            const int dx = int(rng() % 3) - 1, dy = int(rng() % 3) - 1, len = rng() % 40;
            for (int i = 0; i < len && x >= 0 && x < w && y >= 0 && y < h; ++i) {
                for (int t = 0; t < thick && x + t < w; ++t) rows[y][x + t] = '#';
                if (rng() % 4 == 0) x += dx; else y += dy;
                if (rng() % 5 == 0) x += int(rng() % 3) - 1;
            }
        }
        for (int k = 0; k < w * h / 30; ++k) rows[rng() % h][rng() % w] = '#';
        auto img = test::makeLineArt(rows);
        auto ref = test::makeLineArt(rows);
        // Random bytes in the row padding too: the scans read them as pixels.
        const int64_t stride = strideFor(w, 8);
        for (int y = 0; y < h; ++y)
            for (int64_t x = w; x < stride; ++x) {
                const uint8_t v = rng() % 2 ? 0 : 215;
                img->rowFromTop(y)[x] = v;
                ref->rowFromTop(y)[x] = v;
            }
        if (round % 2) {  // thinned strokes, the usual input
            thin(*img);
            thin(*ref);
        }
        tidyLines(*img);
        tidy_reference::referenceTidyLines(*ref);
        ASSERT_EQ(img->bits, ref->bits) << "round " << round;
    }
}

}  // namespace
}  // namespace qel
