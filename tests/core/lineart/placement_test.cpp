// Straightening and both line tidies act on a drawing alone, not on where it lies: the
// same drawing placed at other columns (across the 64-column words of the bit planes)
// and rows of a larger picture comes out the same, moved. The exact strokes are
// tested on small drawings in straighten_test and tidy_test.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "core/lineart/lineart.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::Rows;

// Random strokes one to three pixels thick, and specks.
Rows randomDrawing(std::mt19937& rng, int w, int h) {
    Rows rows(h, std::string(w, '.'));
    for (int k = 0; k < 1 + int(rng() % 10); ++k) {
        int x = rng() % w, y = rng() % h;
        const int dx = int(rng() % 3) - 1, dy = int(rng() % 3) - 1, len = rng() % 40, thick = 1 + rng() % 3;
        for (int i = 0; i < len && x >= 0 && x < w && y >= 0 && y < h; ++i) {
            for (int t = 0; t < thick && x + t < w; ++t) rows[y][x + t] = '#';
            if (rng() % 3 == 0) x += dx; else y += dy;
        }
    }
    for (int k = 0; k < w * h / 40; ++k) rows[rng() % h][rng() % w] = '#';
    return rows;
}

// The w x h rectangle of `rows` at the top left.
Rows topLeft(const Rows& rows, int w, int h) {
    Rows part;
    for (int j = 0; j < h; ++j) part.push_back(rows[j].substr(0, w));
    return part;
}

// `part` copied into a white w x h drawing at (x, y).
Rows placed(const Rows& part, int x, int y, int w, int h) {
    Rows rows(h, std::string(w, '.'));
    for (size_t j = 0; j < part.size(); ++j) rows[y + j].replace(x, part[j].size(), part[j]);
    return rows;
}

TEST(LineFilters, ADrawingComesOutTheSameWhereverItLies) {
    int straightenLength = 1;
    const std::pair<const char*, std::function<void(DibImage&)>> filters[] = {
        {"straighten", [&](DibImage& d) { straighten(d, straightenLength); }},
        {"tidy", [](DibImage& d) { tidyLines(d); }},
        {"tidy2", [](DibImage& d) { tidyLines2(d); }},
    };
    constexpr int kMargin = 6;  // white around the drawing on every side
    std::mt19937 rng(61);
    for (int round = 0; round < 60; ++round) {
        const int w = 3 + rng() % 80, h = 3 + rng() % 40;
        const int shiftX = 1 + rng() % 140, shiftY = rng() % 9;
        const int canvasW = (w + 2 * kMargin + 140 + 3) & ~3, canvasH = h + 2 * kMargin + 8;  // no row padding
        // Thinned once, at the first place, so that only the filter itself meets the second place.
        auto first = test::makeLineArt(placed(randomDrawing(rng, w, h), kMargin, kMargin, canvasW, canvasH));
        if (round % 3 != 2) thin(*first);
        const Rows start = test::lineArtRows(*first);
        const int partW = w + 2 * kMargin, partH = h + 2 * kMargin;
        straightenLength = 1 + rng() % 12;
        for (const auto& [name, filter] : filters) {
            auto here = test::makeLineArt(start);
            auto there = test::makeLineArt(placed(topLeft(start, partW, partH), shiftX, shiftY, canvasW, canvasH));
            filter(*here);
            filter(*there);
            const Rows got = test::lineArtRows(*here);
            const Rows moved = placed(topLeft(got, partW, partH), shiftX, shiftY, canvasW, canvasH);
            ASSERT_EQ(test::lineArtRows(*there), moved) << name << ", round " << round << ", moved by " << shiftX
                                                        << "," << shiftY;
        }
    }
}

}  // namespace
}  // namespace qel
