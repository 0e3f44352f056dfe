// A restore (undo, redo) that runs out of memory throws with the record as it was. While a test sets
// a threshold, every allocation above it fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "support/text_image.h"

namespace {
size_t g_failAbove = SIZE_MAX;
}

void* operator new(std::size_t n) {
    if (n > g_failAbove) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace qel::test {

TEST(RestoreFrom, RunningOutOfMemoryLeavesTheRecordAsItWas) {
    // 5 x 4 at 24 bits: a 64-byte pixel block and an 80-byte display raster, both larger than the record's.
    const auto stored = make24({"#.#.#", ".#.#.", "##...", "..###"});
    stored->stampSizeImage();
    for (size_t failAbove : {size_t(60), size_t(70)}) {  // the pixel block fails, then the raster
        auto img = makeIndexed(8, {"012", "210"}, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
        const auto info = img->info;
        const auto bits = img->bits;
        const auto shown = img->displayBitmap->pixels;
        g_failAbove = failAbove;
        EXPECT_THROW(img->restoreFrom(stored->info, stored->bits), std::bad_alloc);
        g_failAbove = SIZE_MAX;
        EXPECT_EQ(img->info, info);
        EXPECT_EQ(img->bits, bits);
        EXPECT_EQ(img->displayBitmap->pixels, shown);
    }
}

}  // namespace qel::test
