// Line tidy: evens out the steps of thinned strokes and pushes one-pixel bumps
// back into straight strokes. End and junction points are marked red and
// isolated points blue while the scans run, so no rule moves them; afterwards
// red turns black and blue white.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/lineart/lineart.h"
#include "core/lineart/lineart_detail.h"

namespace qel {

namespace {

using namespace lineart_detail;

enum Dir { kUp, kRight, kDown, kLeft };

// Pixel access by (x, y) over the whole row bytes 0 .. stride-1; positions
// outside the rows or outside a row's bytes read as white.
// Rows of each column that may hold black when the vertical scan reaches them, in
// increasing order (see verticalScan).
struct ColumnCandidates {
    std::vector<std::vector<int32_t>> rows;  // per column
    int x = 0, y = 0;                        // position being handled
    int yFirst = 0, yLast = 0;               // rows the scan visits

    // A pixel turned black that the scan has still to reach joins its column's list.
    void turnedBlack(int cx, int cy) {
        if (cx < x || (cx == x && cy <= y) || cy < yFirst || cy > yLast) return;
        if (cx >= static_cast<int>(rows.size())) return;
        auto& list = rows[static_cast<size_t>(cx)];
        auto at = std::lower_bound(list.begin(), list.end(), cy);
        if (at == list.end() || *at != cy) list.insert(at, cy);
    }
};

struct Grid {
    const PixelBlock& b;
    uint8_t K, W;
    ColumnCandidates* candidates = nullptr;  // told of every pixel set black, when present

    uint8_t at(int x, int y) const {
        if (x < 0 || x >= b.stride || y < 0 || y >= b.height) return W;
        return b.row(y)[x];
    }
    void set(int x, int y, uint8_t v) const {
        b.row(y)[x] = v;
        if (candidates && v == K) candidates->turnedBlack(x, y);
    }
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

// Walks down each column in turn. Only black pixels start a rule, so instead of reading
// every pixel column by column (a row apart each), the scan visits the rows of each
// column that were black when it began or were turned black ahead of it since, and
// tests each as it stands when reached: the same positions act, in the same order.
void verticalScan(const PixelBlock& block, uint8_t K, uint8_t W, int j) {
    const int S = block.stride, H = block.height;
    if (S < 3 || H - j - 1 < j) return;
    ColumnCandidates cand;
    cand.rows.resize(static_cast<size_t>(S));
    cand.yFirst = j;
    cand.yLast = H - j - 1;
    for (int y = j; y <= H - j - 1; ++y) {
        const uint8_t* line = block.row(y);
        for (const uint8_t* k = line + 1; (k = static_cast<const uint8_t*>(std::memchr(k, K, line + S - 1 - k)));
             ++k)
            cand.rows[static_cast<size_t>(k - line)].push_back(y);
    }
    const Grid g{block, K, W, &cand};
    for (int x = 1; x <= S - 2; ++x) {
        for (size_t i = 0; i < cand.rows[static_cast<size_t>(x)].size(); ++i) {
            const int y = cand.rows[static_cast<size_t>(x)][i];
            cand.x = x;
            cand.y = y;
            const uint8_t* p = block.row(y) + x;
            const int64_t st = S;
            if (*p != g.K || p[st] != g.W || p[-j * st] != g.W) continue;
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
        const uint8_t* line = g.b.row(y);
        for (int x = j; x <= S - j - 1; ++x) {
            // Go straight to the next black pixel of the row as it stands now: rules write
            // ahead in this row only while a position is being handled.
            const void* k = std::memchr(line + x, g.K, static_cast<size_t>(S - j - x));
            if (!k) break;
            x = static_cast<int>(static_cast<const uint8_t*>(k) - line);
            if (line[x - 1] != g.W || line[x + j] != g.W) continue;
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

}  // namespace

OpResult tidyLines(DibImage& image) {
    const auto block = pixelBlock8(image);
    if (!block) return OpResult::refused(kNeedsRows8);
    const int K = lookupColour(image, kBlack), Rd = lookupColour(image, kRed);
    const int Bl = lookupColour(image, kBlue), W = lookupColour(image, kWhite);
    if (auto refused = missingColours({{"black", K}, {"red", Rd}, {"blue", Bl}, {"white", W}})) return *refused;

    classifyPoints(*block, uint8_t(K), uint8_t(Rd), uint8_t(Bl));
    const Grid g{*block, uint8_t(K), uint8_t(W)};
    for (int j = 1; j <= 2; ++j) {
        verticalScan(*block, uint8_t(K), uint8_t(W), j);
        horizontalScan(g, j);
    }
    uint8_t* p = block->data;
    for (int64_t i = 0; i < block->bytes(); ++i) {
        if (p[i] == Rd) p[i] = uint8_t(K);
        else if (p[i] == Bl) p[i] = uint8_t(W);
    }
    image.rebuildDisplay();
    return OpResult::changed();
}

}  // namespace qel
