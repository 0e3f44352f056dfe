// A record that defers its display raster (the batch tool's) rereads a picture at
// 8 bits exactly as a shown record does.
#include <gtest/gtest.h>

#include <random>

#include "core/image/dib_image.h"

namespace qel {
namespace {

// Random blocks of any depth: tables full, short, longer than the depth needs or absent.
std::pair<std::vector<uint8_t>, PixelBytes> randomBlocks(std::mt19937& rng) {
    const int depths[] = {1, 4, 8, 24};
    const int depth = depths[rng() % 4];
    const int w = 1 + rng() % 70, h = 1 + rng() % 20;
    const int entries = depth == 24 ? int(rng() % 3) : int(rng() % 300);
    auto info = makeInfoBlock(newHeader(w, h, uint16_t(depth), uint32_t(entries), 0), entries);
    for (size_t i = kHeaderSize; i < info.size(); ++i) info[i] = rng() % 3 ? uint8_t(rng()) : uint8_t(51 * (rng() % 6));
    PixelBytes bits(static_cast<size_t>(strideFor(w, depth) * h) + rng() % 3);
    for (auto& b : bits) b = rng() % 4 ? uint8_t(rng()) : uint8_t(rng() % 2 * 255);
    return {info, bits};
}

TEST(DeferredDisplay, DeferredRecordRereadsAs8BitLikeAShownOne) {
    std::mt19937 rng(9);
    for (int i = 0; i < 100; ++i) {
        auto [info, bits] = randomBlocks(rng);
        DibImage shown, deferred;
        deferred.deferDisplay = true;
        ASSERT_NE(shown.replace(info, bits), nullptr);
        ASSERT_NE(deferred.replace(info, bits), nullptr);
        ASSERT_NE(shown.rereadAs8Bit(), nullptr);
        ASSERT_NE(deferred.rereadAs8Bit(), nullptr);
        EXPECT_EQ(deferred.info, shown.info) << "picture " << i;
        EXPECT_EQ(deferred.bits, shown.bits) << "picture " << i;
        ASSERT_NE(deferred.display(), nullptr);
        EXPECT_EQ(deferred.display()->pixels, shown.displayBitmap->pixels) << "picture " << i;
    }
    // Blocks cut short after the last rebuild are refused as before.
    auto [info, bits] = randomBlocks(rng);
    DibImage deferred;
    deferred.deferDisplay = true;
    ASSERT_NE(deferred.replace(info, bits), nullptr);
    deferred.bits.erase(deferred.bits.begin() + 1, deferred.bits.end());
    EXPECT_EQ(deferred.rereadAs8Bit(), nullptr);
}

}  // namespace
}  // namespace qel
