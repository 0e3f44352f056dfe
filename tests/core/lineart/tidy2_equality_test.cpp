// Line tidy 2 gives exactly the bytes of its plain version (the rule groups tried at
// every position, where the filter tries them only where one would act) on random
// drawings with thick and thin strokes. The rules themselves are tested in tidy_test.
#include <gtest/gtest.h>

#include <random>

#include "core/lineart/lineart.h"
#include "core/lineart/lineart_detail.h"
#include "support/text_image.h"

namespace qel {
namespace tidy2_reference {

using namespace lineart_detail;

const DisplayBitmap* referenceTidyLines2(DibImage& image) {
    if (image.bitCount() != 8) return image.displayBitmap.get();
    if (!image.rereadAs8Bit()) return image.displayBitmap.get();
    const auto block = pixelBlock8(image);
    const int B = lookupColour(image, kBlack), W = lookupColour(image, kWhite);
    if (!block || B < 0 || W < 0) return image.displayBitmap.get();

    for (int y = 4; y <= block->height - 5; ++y)
        for (int x = 4; x <= block->stride - 5; ++x) tidy2GroupsAt(*block, uint8_t(B), uint8_t(W), x, y);
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
        // In some drawings a few pixels of another colour, which no test matches.
        if (round % 4 == 3)
            for (int k = 0; k < w * h / 40; ++k) rows[rng() % h][rng() % w] = 'g';
        auto img = test::makeLineArt(rows, {{'g', 100}});
        auto ref = test::makeLineArt(rows, {{'g', 100}});
        tidyLines2(*img);
        tidy2_reference::referenceTidyLines2(*ref);
        ASSERT_EQ(img->bits, ref->bits) << "round " << round;
    }
}

}  // namespace
}  // namespace qel
