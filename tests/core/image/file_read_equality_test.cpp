// The file readers that read straight into their buffers give exactly what the
// in-memory reader gives on the same bytes, on random and damaged files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "core/image/bmp_file.h"
#include "core/image/file_io.h"
#include "support/text_image.h"

namespace qel {
namespace {

// A random classic file: any depth, table length, padding, trailing bytes; sometimes cut short.
std::vector<uint8_t> randomClassicFile(std::mt19937& rng) {
    const int depths[] = {1, 4, 8, 24};
    const int depth = depths[rng() % 4];
    const int w = 1 + rng() % 37, h = 1 + rng() % 9;
    const uint32_t clrUsed = depth == 24 ? 0 : (rng() % 3 == 0 ? 1 + rng() % 300 : 0);
    auto hd = newHeader(w, h, uint16_t(depth), clrUsed, 0);
    std::vector<uint8_t> table(4 * static_cast<size_t>(tableEntries(hd)));
    for (auto& b : table) b = uint8_t(rng());
    std::vector<uint8_t> px(static_cast<size_t>(strideFor(w, depth) * h) + rng() % 5);
    for (auto& b : px) b = uint8_t(rng());
    auto file = test::bmpFile(hd, table, px);
    if (rng() % 5 == 0) file.resize(rng() % file.size());
    return file;
}

void expectSameAsInMemory(const std::vector<uint8_t>& file, const std::string& path, const std::string& what) {
    ASSERT_TRUE(test::writeBytes(path, file));
    std::vector<uint8_t> info, bits, refInfo, refBits;
    const ImageError got = readBmpFile(path, info, bits);
    const ImageError want = readBmp(file.data(), file.size(), refInfo, refBits);
    EXPECT_EQ(got, want) << what;
    EXPECT_EQ(info, refInfo) << what;
    EXPECT_EQ(bits, refBits) << what;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readFileBytes(path, bytes)) << what;
    EXPECT_EQ(bytes, file) << what;
}

TEST(FileReadEquality, RandomClassicFilesReadAsFromMemory) {
    test::TempDir dir;
    std::mt19937 rng(12);
    for (int i = 0; i < 300; ++i) {
        auto file = randomClassicFile(rng);
        if (i % 7 == 0 && file.size() > 20) file[14 + rng() % 20] ^= uint8_t(1 + rng() % 255);  // damaged header
        expectSameAsInMemory(file, dir.file("r.bmp"), "file " + std::to_string(i));
    }
}

TEST(FileReadEquality, EveryVariantSampleReadsAsFromMemory) {
    test::TempDir dir;
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(QEL_TEST_DATA) + "/bmpsuite/g")) {
        expectSameAsInMemory(test::readBytes(entry.path().string()), dir.file("v.bmp"), entry.path().filename().string());
        ++seen;
    }
    EXPECT_GT(seen, 10);
}

TEST(FileReadEquality, EmptyMissingAndDirectoryPathsAreMissLoad) {
    test::TempDir dir;
    std::vector<uint8_t> info, bits;
    std::ofstream(dir.file("empty.bmp"), std::ios::binary).close();
    EXPECT_EQ(readBmpFile(dir.file("empty.bmp"), info, bits), ImageError::NotBitmap);
    EXPECT_EQ(readBmpFile(dir.file("none.bmp"), info, bits), ImageError::MissLoad);
    EXPECT_EQ(readBmpFile(dir.path, info, bits), ImageError::MissLoad);
    EXPECT_EQ(readBmpFile("", info, bits), ImageError::MissLoad);
    std::vector<uint8_t> bytes{1};
    EXPECT_TRUE(readFileBytes(dir.file("empty.bmp"), bytes));
    EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace qel
