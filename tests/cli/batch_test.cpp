// qel-batch: command line, exit statuses, the record's side effects.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <tuple>

#include "cli/batch.h"
#include "core/formats/bmp_file.h"
#include "support/batch_run.h"
#include "support/text_image.h"

namespace qel::batch {
namespace {

const auto run = test::runCli;

TEST(Batch, RoundTripWritesTheSameFile) {
    test::TempDir dir;
    auto img = test::makeIndexed(8, {"0123", "3210"}, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}});
    ASSERT_EQ(img->saveFile(dir.file("in.bmp")), ImageError::None);
    auto r = run({dir.file("in.bmp"), "-o", dir.file("out.bmp")});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(test::readBytes(dir.file("in.bmp")), test::readBytes(dir.file("out.bmp")));
}

TEST(Batch, InfoPrintsTheInformationText) {
    auto r = run({"--new=3x2", "--info"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_EQ(r.out, "縦：2\n横：3\nサイズ：24\n色：16777216\n");
}

TEST(Batch, BadInputsExitWithTheirStatusAndOneClearLine) {
    test::TempDir dir;
    auto img = test::make24({"#.", ".#"});
    auto bytes = img->fileBytes();
    bytes.resize(bytes.size() - 3);
    ASSERT_TRUE(test::writeBytes(dir.file("cut.bmp"), bytes));
    ASSERT_TRUE(test::writeBytes(dir.file("art.bmp"), test::makeLineArt({"....", ".##.", "...."})->fileBytes()));
    for (auto [name, text] : {std::pair{"notes.pdf", std::string("%PDF-1.7\n")},
                              {"photo.heic", std::string("\0\0\0\x18" "ftypheic", 12)},
                              {"tag.webp", std::string("RIFF\x1a\0\0\0WEBQVP8L", 16)}})
        ASSERT_TRUE(test::writeBytes(dir.file(name), {text.begin(), text.end()}));
    ASSERT_TRUE(test::writeBytes(dir.file("cut.gif"), {'G', 'I', 'F', '8', '9', 'a', 4, 0, 3, 0, 0x80, 0, 0}));
    for (const char* name : {"cut.png", "cut.jpg", "cut.tif", "cut.webp"}) {
        ASSERT_EQ(img->saveFile(dir.file(name)), ImageError::None);
        const auto b = test::readBytes(dir.file(name));
        ASSERT_TRUE(test::writeBytes(dir.file(name), {b.begin(), b.begin() + b.size() / 2}));
    }
    struct Case { std::vector<std::string> args; int status; const char* mentions; };
    const Case cases[] = {
        {{dir.file("cut.bmp")}, kExitInput, "cut.bmp: pixel data ends 3 bytes early (Not Bitmap!!)"},
        // Grey turns the marking colours of the filter grey: refused, not reported as done.
        {{dir.file("art.bmp"), "--thin", "--grey", "--tidy", "-o", dir.file("tidy.bmp")}, kExitInput,
         "--tidy: the colour table lacks red, blue"},
        {{dir.file("missing.bmp")}, kExitInput, "missing.bmp: cannot be opened: No such file or directory"},
        {{dir.file("notes.pdf")}, kExitInput, "notes.pdf: the content is not a picture format Qel reads (BMP, PNG, JPEG, TIFF, WebP, GIF)\n"},
        {{dir.file("photo.heic")}, kExitInput, "photo.heic: the content is not a picture format Qel reads"},
        {{dir.file("tag.webp")}, kExitInput, "tag.webp: the content is not a picture format Qel reads"},
        {{dir.file("cut.png")}, kExitInput, "cut.png: PNG file damaged"},
        {{dir.file("cut.jpg")}, kExitInput, "cut.jpg: JPEG file damaged"},
        {{dir.file("cut.tif")}, kExitInput, "cut.tif: TIFF file damaged"},
        {{dir.file("cut.webp")}, kExitInput, "cut.webp: WebP file damaged"},
        {{dir.file("cut.gif")}, kExitInput, "cut.gif: GIF file damaged"},
        {{}, kExitUsage, "no input"},
        {{"--new=3x2", "--bogus"}, kExitUsage, "unknown option --bogus"},
        {{"--new=0x2"}, kExitInput, "out of range"},
        {{"--new=3by2"}, kExitUsage, "WIDTHxHEIGHT"},
        {{"--new=3x2", "-o"}, kExitUsage, "-o needs"},
        {{"--new=3x2", "--to-24bit"}, kExitInput, "24-bit"},  // disabled by the menu for 24-bit pictures
        {{"--new=3x2", "-o", dir.file("no/dir/out.bmp")}, kExitOutput, "cannot be written"},
    };
    for (const auto& c : cases) {
        auto r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
        // The window program's "Not Bitmap!!" is left to files of the BMP reader.
        EXPECT_TRUE(r.err.find("Not Bitmap!!") == std::string::npos || r.err.find(".bmp: ") != std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("tidy.bmp")));
}

// A file system that takes fewer bytes than the file has (a size limit, a full disk) fails the last
// write, made when the file is finished: reported, and no file is left.
TEST(Batch, AFileTheSystemCutsShortIsReportedAndLeftOut) {
    test::TempDir dir;
    ASSERT_EQ(test::make24({"#.#", ".#."})->saveFile(dir.file("in.png")), ImageError::None);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = signal(SIGXFSZ, SIG_IGN);  // writes fail with EFBIG instead
    for (const std::vector<std::string>& args : {std::vector<std::string>{dir.file("in.png"), "-o", dir.file("a.png")},
                                                {dir.file("in.png"), "-o", dir.file("a.jpg")},
                                                {dir.file("in.png"), "--grey", "-o", dir.file("a.png")}}) {
        const rlimit low{16, old.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
        const auto r = run(args);
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(r.status, kExitOutput) << args.back();
        EXPECT_NE(r.err.find("cannot be written"), std::string::npos) << r.err;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1) << args.back();
    }
    signal(SIGXFSZ, oldSignal);
}

TEST(Batch, WithoutOutputNothingIsWritten) {
    test::TempDir dir;
    auto img = test::make24({"#."});
    ASSERT_EQ(img->saveFile(dir.file("in.bmp")), ImageError::None);
    auto before = test::readBytes(dir.file("in.bmp"));
    auto r = run({dir.file("in.bmp"), "--info"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_EQ(test::readBytes(dir.file("in.bmp")), before);
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path)) { (void)e; ++files; }
    EXPECT_EQ(files, 1);
}

TEST(Batch, OperationsConvertAndSetTheSnapshotSize) {
    test::TempDir dir;
    auto img = test::makeIndexed(4, {"01", "10"}, {{255, 0, 0}, {0, 0, 255}});
    auto h = img->header();
    h.biSizeImage = 0;  // allowed for uncompressed files; the snapshot before an operation sets it
    img->setHeader(h);
    ASSERT_EQ(img->saveFile(dir.file("in.bmp")), ImageError::None);
    for (const auto& [option, depth, sizeImage, colour] : {std::tuple{"--to-24bit", 24, 16u, Rgb{255, 0, 0}},
                                                           {"--grey", 4, 8u, Rgb{85, 85, 85}}}) {
        auto r = run({dir.file("in.bmp"), option, "-o", dir.file("out.bmp")});
        ASSERT_EQ(r.status, kExitOk) << r.err;
        DibImage out;
        ASSERT_NE(out.loadFile(dir.file("out.bmp")), nullptr);
        EXPECT_EQ(out.bitCount(), depth) << option;
        EXPECT_EQ(out.header().biSizeImage, sizeImage) << option;
        EXPECT_EQ((out.colourAt(0, 0)), colour) << option;
    }
}

TEST(Batch, ConvertsAVariantToAClassicFileAndNamesRefusals) {
    test::TempDir dir;
    const std::string suite = std::string(QEL_TEST_DATA) + "/bmpsuite";
    auto r = run({suite + "/g/pal8v5.bmp", "-o", dir.file("out.bmp")});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const auto written = test::readBytes(dir.file("out.bmp"));
    ASSERT_GE(written.size(), 54u);
    EXPECT_EQ(le32(written.data() + 14), 40u);
    EXPECT_EQ(le32(written.data() + 10), 14u + 40 + 4 * 252);
    DibImage back, want;
    ASSERT_NE(back.loadBytes(written.data(), written.size()), nullptr);
    ASSERT_NE(want.loadFile(suite + "/ref/pal8.bmp"), nullptr);
    EXPECT_TRUE(back.displayBitmap->pixels == want.displayBitmap->pixels);

    auto jpeg = newHeader(2, 2, 0, 0, 0);
    jpeg.biCompression = 4;
    ASSERT_TRUE(test::writeBytes(dir.file("jpeg.bmp"), test::bmpFile(jpeg, {}, {0xFF, 0xD8, 0xFF})));
    auto wide = newHeader(70000, 1, 24, 0, 0);
    wide.biHeight = -1;
    ASSERT_TRUE(test::writeBytes(dir.file("wide.bmp"), test::bmpFile(wide, {}, {0, 0, 0, 0})));
    struct Case { const char* name; const char* says; };
    for (const auto& c : {Case{"jpeg.bmp", "JPEG file damaged"}, Case{"wide.bmp", "too large"}}) {
        r = run({dir.file(c.name), "-o", dir.file("x.bmp")});
        EXPECT_EQ(r.status, kExitInput) << c.name;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

TEST(Batch, ReadsAnyFormatByContentAndWritesByExtension) {
    test::TempDir dir;
    auto img = test::makeIndexed(8, {"0110", "1001"}, {{255, 0, 0}, {0, 0, 255}}, {}, true);
    // A PNG file with a misleading name is read as PNG.
    ASSERT_EQ(img->saveFile(dir.file("png-inside.bmp"), {ImageFormat::Png, 0}), ImageError::None);
    auto info = run({dir.file("png-inside.bmp"), "--info", "-o", dir.file("out.bmp")});
    ASSERT_EQ(info.status, kExitOk) << info.err;
    EXPECT_EQ(info.out, "縦：2\n横：4\nサイズ：8\n色：256\n形式：PNG\n");
    for (const char* name : {"out.png", "out.jpg", "out.tif", "out.webp", "back.bmp"}) {
        auto r = run({dir.file(std::string(name) == "back.bmp" ? "out.png" : "out.bmp"), "--quality=80", "-o", dir.file(name)});
        ASSERT_EQ(r.status, kExitOk) << name << ": " << r.err;
        DibImage out;
        ASSERT_NE(out.loadFile(dir.file(name)), nullptr) << name;
        EXPECT_EQ(out.width, 4) << name;
        if (name != std::string("out.jpg") && name != std::string("out.webp")) {  // lossy at --quality
            EXPECT_EQ(out.colourAt(1, 0), (Rgb{0, 0, 255})) << name;
        }
    }
    DibImage back;
    ASSERT_NE(back.loadFile(dir.file("back.bmp")), nullptr);
    EXPECT_EQ(back.bits, img->bits);
    EXPECT_EQ(back.info, img->info);

    auto cut = test::readBytes(dir.file("out.png"));
    cut.resize(cut.size() / 2);
    ASSERT_TRUE(test::writeBytes(dir.file("cut.png"), cut));
    struct Case { std::vector<std::string> args; int status; const char* mentions; };
    const Case cases[] = {
        {{dir.file("out.bmp"), "-o", dir.file("x.gif")}, kExitUsage, "read only"},
        {{dir.file("out.bmp"), "-o", dir.file("x.txt")}, kExitUsage, "unknown file type"},
        {{dir.file("out.bmp"), "--quality=0", "-o", dir.file("x.jpg")}, kExitUsage, "1 to 100"},
        {{dir.file("out.bmp"), "--png-effort=0", "-o", dir.file("x.png")}, kExitUsage, "--png-effort needs a number from 1"},
        {{dir.file("out.bmp"), "--png-effort=10", "-o", dir.file("x.png")}, kExitUsage, "--png-effort needs a number from 1"},
        {{dir.file("out.bmp"), "--png-effort=x", "-o", dir.file("x.png")}, kExitUsage, "--png-effort needs a number from 1"},
        {{dir.file("out.bmp"), "--png-effort", "-o", dir.file("x.png")}, kExitUsage, "--png-effort needs a number from 1"},
        {{dir.file("out.bmp"), "--png-effort=3", "-o", dir.file("x.bmp")}, kExitUsage, "--png-effort applies to a PNG output"},
        {{dir.file("out.bmp"), "--png-effort=3"}, kExitUsage, "--png-effort applies to a PNG output"},
        {{dir.file("out.bmp"), "--png-effort=3", "--format=tif", "--out-dir", dir.file("o")}, kExitUsage, "not --format tif"},
        {{dir.file("out.bmp"), "--png-effort=3", "--out-dir", dir.file("o")}, kExitOk, ""},  // BMP outputs: no effort
        {{dir.file("cut.png"), "-o", dir.file("x.bmp")}, kExitInput, "PNG file damaged or truncated"},
    };
    for (const auto& c : cases) {
        auto r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
        // The window program's "Not Bitmap!!" is left to files of the BMP reader.
        EXPECT_TRUE(r.err.find("Not Bitmap!!") == std::string::npos || r.err.find(".bmp: ") != std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.bmp")));
}

TEST(Batch, CalculatorNeedsNoPicture) {
    auto r = run({"--calc=1+2"});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.out, "3.000000\n");
    EXPECT_EQ(run({"--calc=1+2", "--info"}).status, kExitUsage);
}

// The operations it lists: documentation_test.cpp.
TEST(Batch, HelpAndVersion) {
    EXPECT_EQ(run({"--help"}).status, kExitOk);
    EXPECT_EQ(run({"--version"}).out, "qel-batch 0.20\n");
}

}  // namespace
}  // namespace qel::batch
