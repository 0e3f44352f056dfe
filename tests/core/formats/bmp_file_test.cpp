// Reading and writing classic BMP files, and the safe save.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "core/formats/bmp_file.h"
#include "core/formats/file_io.h"
#include "support/text_image.h"

namespace qel {
namespace {

std::vector<uint8_t> greyTable(int n) {
    std::vector<uint8_t> t;
    t.reserve(size_t(4 * n));
    for (int i = 0; i < n; ++i) t.insert(t.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    return t;
}

// A classic 8-bit 5x3 picture whose pixel bytes include 0x0D, 0x0A and 0x1A.
std::vector<uint8_t> classic8(uint32_t clrUsed = 0) {
    auto h = newHeader(5, 3, 8, clrUsed, 24);
    std::vector<uint8_t> px(24);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7);
    px[0] = 0x0D; px[1] = 0x0A; px[2] = 0x1A;
    return test::bmpFile(h, greyTable(clrUsed ? clrUsed : 256), px);
}

TEST(BmpRead, ClassicFileLoadsExactly) {
    auto file = classic8();
    DibImage img;
    ImageError e;
    ASSERT_NE(img.loadBytes(file.data(), file.size(), &e), nullptr);
    EXPECT_EQ(e, ImageError::None);
    EXPECT_EQ(img.infoSize(), 40 + 1024);
    EXPECT_EQ(img.bitsSize(), 24);
    EXPECT_EQ(img.width, 5);
    EXPECT_EQ(img.height, 3);
    EXPECT_EQ(img.bits[0], 0x0D);
    EXPECT_EQ(img.bits[1], 0x0A);
    EXPECT_EQ(img.bits[2], 0x1A);
    EXPECT_EQ(img.palette.size(), 256u);
    EXPECT_TRUE(std::equal(img.info.begin(), img.info.end(), file.begin() + 14));
}

TEST(BmpRead, ClrUsedTwentyGivesInfoSize120) {
    auto file = classic8(20);
    DibImage img;
    ASSERT_NE(img.loadBytes(file.data(), file.size()), nullptr);
    EXPECT_EQ(img.infoSize(), 120);
    EXPECT_EQ(img.bitsSize(), 24);
}

TEST(BmpRoundTrip, WrongOffsetsAreIgnoredOnLoadAndCorrectedOnSave) {
    auto file = classic8();
    file.push_back(0xAB);  // trailing bytes are kept
    file.push_back(0xCD);
    auto broken = file;
    broken[2] = 0x11; broken[3] = 0x22;  // bfSize wrong
    broken[6] = 9;                       // reserved word
    broken[10] = 0x99;                   // bfOffBits wrong
    test::TempDir dir;
    ASSERT_TRUE(test::writeBytes(dir.file("in.bmp"), broken));
    DibImage img;
    ASSERT_NE(img.loadFile(dir.file("in.bmp")), nullptr);
    EXPECT_EQ(img.bitsSize(), 26);
    EXPECT_EQ(img.bits[24], 0xAB);
    ASSERT_EQ(img.saveFile(dir.file("out.bmp")), ImageError::None);
    auto written = test::readBytes(dir.file("out.bmp"));
    // Everything after the file header is unchanged; bfSize and bfOffBits are computed.
    auto expected = file;
    const uint32_t size = static_cast<uint32_t>(file.size());
    for (int i = 0; i < 4; ++i) expected[2 + i] = uint8_t(size >> (8 * i));
    EXPECT_EQ(written, expected);
    EXPECT_EQ(le32(written.data() + 10), 14u + 40 + 1024);
}

TEST(BmpRoundTrip, EveryDepth) {
    const std::vector<Rgb> table{{0, 0, 0}, {255, 255, 255}, {9, 8, 7}};
    test::TempDir dir;
    for (int bc : {1, 4, 8}) {
        auto img = test::makeIndexed(bc, {"0101", "1010", "0110"}, table);
        ASSERT_EQ(img->saveFile(dir.file("a.bmp")), ImageError::None);
        DibImage back;
        ASSERT_NE(back.loadFile(dir.file("a.bmp")), nullptr) << bc;
        EXPECT_EQ(back.info, img->info);
        EXPECT_EQ(back.bits, img->bits);
    }
    auto rgb = test::make24({"#.#", ".#."});
    ASSERT_EQ(rgb->saveFile(dir.file("b.bmp")), ImageError::None);
    DibImage back;
    ASSERT_NE(back.loadFile(dir.file("b.bmp")), nullptr);
    EXPECT_EQ(back.bits, rgb->bits);
    EXPECT_EQ(back.infoSize(), 40);
}

TEST(BmpRead, RefusesWhatTheLayoutCannotHold) {
    auto good = classic8();
    auto header = [&](auto edit) {
        auto f = good;
        BitmapInfoHeader h;
        std::memcpy(&h, f.data() + 14, 40);
        edit(h);
        std::memcpy(f.data() + 14, &h, 40);
        return f;
    };
    struct Case { const char* name; std::vector<uint8_t> bytes; ImageError error; const char* says; };
    std::vector<Case> cases = {
        {"empty file", {}, ImageError::NotBitmap, "the file is empty"},
        {"not BM", {'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         ImageError::NotBitmap, "not a picture format Qel reads"},
        {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 14),
         ImageError::NotBitmap, "ends within its headers"},
        {"table cut short", std::vector<uint8_t>(good.begin(), good.begin() + 14 + 40 + 100),
         ImageError::NotBitmap, "colour table ends 924 bytes early"},
        {"pixels cut short", std::vector<uint8_t>(good.begin(), good.end() - 1),
         ImageError::NotBitmap, "pixel data ends 1 byte early"},
        {"width 0", header([](BitmapInfoHeader& h) { h.biWidth = 0; }), ImageError::NotBitmap, "biWidth 0"},
        {"width negative", header([](BitmapInfoHeader& h) { h.biWidth = -5; }), ImageError::NotBitmap, "biWidth -5"},
        {"height 0", header([](BitmapInfoHeader& h) { h.biHeight = 0; }), ImageError::NotBitmap, "5 x 0 pixels"},
        {"bit count 7", header([](BitmapInfoHeader& h) { h.biBitCount = 7; }), ImageError::Unsupported, "7-bit pixels"},
        {"compressed", header([](BitmapInfoHeader& h) { h.biCompression = 1; }),
         ImageError::NotBitmap, "RLE8 data ends"},
        {"side of 70000", header([](BitmapInfoHeader& h) { h.biWidth = 70000; }),
         ImageError::TooLarge, "70000 x 3 pixels is beyond"},
        {"2^31 bytes claimed", header([](BitmapInfoHeader& h) { h.biWidth = 40000; h.biHeight = 40000; }),
         ImageError::TooLarge, "40000 x 40000 pixels"},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        // From memory, and from a file (which reads a classic file's rows in place).
        ASSERT_TRUE(test::writeBytes(dir.file("f.bmp"), c.bytes));
        DibImage fromMemory, fromFile;
        ImageError memoryError = ImageError::None, fileError = ImageError::None;
        std::string memoryWhy, fileWhy;
        EXPECT_EQ(fromMemory.loadBytes(c.bytes.data(), c.bytes.size(), &memoryError, &memoryWhy), nullptr) << c.name;
        EXPECT_EQ(fromFile.loadFile(dir.file("f.bmp"), &fileError, &fileWhy), nullptr) << c.name;
        EXPECT_EQ(memoryError, c.error) << c.name;
        EXPECT_EQ(fileError, c.error) << c.name;
        EXPECT_NE(memoryWhy.find(c.says), std::string::npos) << c.name << ": " << memoryWhy;
        EXPECT_NE(fileWhy.find(c.says), std::string::npos) << c.name << ": " << fileWhy;
        for (const DibImage* img : {&fromMemory, &fromFile}) {
            EXPECT_TRUE(img->info.empty()) << c.name;
            EXPECT_TRUE(img->bits.empty()) << c.name;
        }
    }
}

// 65535 pixels is the longest side every reader takes: the classic one from memory and from a file,
// and the one for other layouts (here top-down rows).
TEST(BmpRead, ASideOf65535IsReadAndOneOf65536Refused) {
    struct Case { int32_t w, h; bool topDown; ImageError error; };
    const Case cases[] = {
        {65535, 1, false, ImageError::None}, {1, 65535, false, ImageError::None},
        {65535, 1, true, ImageError::None},  {1, 65535, true, ImageError::None},
        {65536, 1, false, ImageError::TooLarge}, {1, 65536, true, ImageError::TooLarge},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        auto h = newHeader(c.w, c.topDown ? -c.h : c.h, 1, 0, 0);
        const auto file = test::bmpFile(h, greyTable(2), std::vector<uint8_t>(size_t(strideFor(c.w, 1) * c.h), 0x5A));
        ASSERT_TRUE(test::writeBytes(dir.file("side.bmp"), file));
        DibImage fromMemory, fromFile;
        ImageError memoryError = ImageError::NotBitmap, fileError = ImageError::NotBitmap;
        fromMemory.loadBytes(file.data(), file.size(), &memoryError);
        fromFile.loadFile(dir.file("side.bmp"), &fileError);
        const std::string what = std::to_string(c.w) + " x " + std::to_string(c.h) + (c.topDown ? " top-down" : "");
        EXPECT_EQ(memoryError, c.error) << what;
        EXPECT_EQ(fileError, c.error) << what;
        if (c.error == ImageError::None) {
            EXPECT_EQ(fromFile.header().biWidth, c.w) << what;
            EXPECT_EQ(fromMemory.header().biHeight, c.h) << what;
        }
    }
}

TEST(BmpRead, MissingFileIsMissLoadAndMessagesAreTheUsersTexts) {
    DibImage img;
    ImageError e = ImageError::None;
    EXPECT_EQ(img.loadFile("/nonexistent/dir/x.bmp", &e), nullptr);
    EXPECT_EQ(e, ImageError::MissLoad);
    EXPECT_STREQ(messageFor(ImageError::MissLoad).text, "Miss Load!!");
    EXPECT_STREQ(messageFor(ImageError::MissLoad).title, "error");
    EXPECT_STREQ(messageFor(ImageError::NotBitmap).text, "Not Bitmap!!");
    EXPECT_STREQ(messageFor(ImageError::NotBitmap).title, "error");
}

TEST(BmpRead, EmptyMissingAndDirectoryPaths) {
    test::TempDir dir;
    std::vector<uint8_t> info;
    PixelBytes bits;
    ASSERT_TRUE(test::writeBytes(dir.file("empty.bmp"), {}));
    EXPECT_EQ(readBmpFile(dir.file("empty.bmp"), info, bits), ImageError::NotBitmap);
    EXPECT_EQ(readBmpFile(dir.file("none.bmp"), info, bits), ImageError::MissLoad);
    EXPECT_EQ(readBmpFile(dir.path, info, bits), ImageError::MissLoad);
    EXPECT_EQ(readBmpFile("", info, bits), ImageError::MissLoad);
    std::vector<uint8_t> bytes{1};
    EXPECT_TRUE(readFileBytes(dir.file("empty.bmp"), bytes));
    EXPECT_TRUE(bytes.empty());
}

TEST(BmpRead, AFailedLoadEmptiesTheRecord) {
    auto good = classic8();
    DibImage img;
    ASSERT_NE(img.loadBytes(good.data(), good.size()), nullptr);
    std::vector<uint8_t> junk{'B', 'M', 1, 2, 3};
    EXPECT_EQ(img.loadBytes(junk.data(), junk.size()), nullptr);
    EXPECT_FALSE(img.hasPicture());
    EXPECT_TRUE(img.info.empty());
}

// A write that stops half way, as on a full disk.
size_t shortWrite(const void* data, size_t size, std::FILE* f) { return std::fwrite(data, 1, size / 2, f); }

TEST(SafeSave, AShortWriteLeavesTheOldFileWhole) {
    // BMP, and PNG and JPEG, whose bytes are written as the encoder makes them (PNG in several
    // pieces: a picture of three slices).
    auto small = test::make24({"#."});
    auto large = test::make24(test::Rows(600, std::string(700, '#')));
    for (const auto& [name, img] : {std::pair{"keep.bmp", small.get()}, {"keep.png", large.get()}, {"keep.jpg", small.get()}}) {
        test::TempDir dir;
        const std::string target = dir.file(name);
        ASSERT_TRUE(test::writeBytes(target, {1, 2, 3}));
        setRawWriteForTesting(shortWrite);
        EXPECT_EQ(img->saveFile(target), ImageError::WriteFailed) << name;
        setRawWriteForTesting(nullptr);
        EXPECT_EQ(test::readBytes(target), (std::vector<uint8_t>{1, 2, 3})) << name;
        // No temporary file is left behind.
        int files = 0;
        for (auto& entry : std::filesystem::directory_iterator(dir.path)) { (void)entry; ++files; }
        EXPECT_EQ(files, 1) << name;
    }
}

TEST(SafeSave, UnwritablePlacesAreReportedNotIgnored) {
    auto img = test::make24({"#."});
    test::TempDir dir;
    EXPECT_EQ(img->saveFile(dir.file("no/such/dir/x.bmp")), ImageError::WriteFailed);
    EXPECT_EQ(img->saveFile(dir.path), ImageError::WriteFailed);  // a directory
    DibImage empty;
    EXPECT_EQ(empty.saveFile(dir.file("x.bmp")), ImageError::NoPicture);
}

TEST(SafeSave, AReadOnlyDirectoryIsReported) {
    auto img = test::make24({"#."});
    test::TempDir dir;
    const std::string ro = dir.file("ro");
    std::filesystem::create_directory(ro);
    std::filesystem::permissions(ro, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    // Root writes there anyway: a child then mounts the directory over itself read-only, in a mount
    // namespace of its own, which refuses root too.
    const pid_t child = fork();
    if (child == 0) {
        if (test::writeBytes(ro + "/probe", {1}) &&
            (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             mount(ro.c_str(), ro.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
             mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0))
            _exit(77);
        _exit(img->saveFile(ro + "/x.bmp") == ImageError::WriteFailed && !std::filesystem::exists(ro + "/x.bmp") ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "root, and no read-only mount may be made here";
    EXPECT_EQ(status, 0);
}

TEST(SafeSave, ReplacesAnExistingFileKeepingItsPermissions) {
    test::TempDir dir;
    const std::string target = dir.file("p.bmp");
    ASSERT_TRUE(test::writeBytes(target, {1}));
    namespace fs = std::filesystem;
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    auto img = test::make24({"#"});
    ASSERT_EQ(img->saveFile(target), ImageError::None);
    EXPECT_EQ(test::readBytes(target), img->fileBytes());
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace qel

namespace qel {
namespace {

// A file of `size` bytes starting with `head`, the rest a hole that takes no disk space.
bool sparseFile(const std::string& path, const std::vector<uint8_t>& head, uint64_t size) {
    if (!test::writeBytes(path, head)) return false;
    std::error_code ec;
    std::filesystem::resize_file(path, size, ec);
    return !ec;
}

TEST(BmpRead, NonBitmapAndOversizedFilesAreRefusedWithoutReadingThemWhole) {
    test::TempDir dir;
    // A large file that is no BMP: refused on its first bytes.
    ASSERT_TRUE(sparseFile(dir.file("big.bmp"), {'P', 'K'}, (64 << 20) + 1));
    DibImage img;
    ImageError e = ImageError::None;
    EXPECT_EQ(img.loadFile(dir.file("big.bmp"), &e), nullptr);
    EXPECT_EQ(e, ImageError::NotBitmap);
    // A sparse "BM" file beyond any picture within the limits, in a non-classic layout.
    auto h = newHeader(4, -4, 24, 0, 0);  // top-down: not the classic layout
    ASSERT_TRUE(sparseFile(dir.file("huge.bmp"), test::bmpFile(h, {}, std::vector<uint8_t>(48, 0)),
                           kMaxVariantFileBytes + 17));
    EXPECT_EQ(img.loadFile(dir.file("huge.bmp"), &e), nullptr);
    EXPECT_EQ(e, ImageError::TooLarge);
}

TEST(FileRead, AFileAboveTheLimitIsRefusedWithoutBeingRead) {
    test::TempDir dir;
    ASSERT_TRUE(sparseFile(dir.file("big.pl"), {'1', '6', '\n'}, kMaxTextFileBytes + 11));
    std::vector<uint8_t> out;
    EXPECT_FALSE(readFileBytes(dir.file("big.pl"), out, kMaxTextFileBytes));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(readFileBytes(dir.file("big.pl"), out));
    EXPECT_EQ(out.size(), kMaxTextFileBytes + 11);
}

}  // namespace
}  // namespace qel
