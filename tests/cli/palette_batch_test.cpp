// qel-batch palette options: the working palette kept between options, its
// reload after other changes, the requests and palette files.
#include <gtest/gtest.h>

#include <sstream>

#include "core/colour/palette_file.h"
#include "support/batch_run.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::makeIndexed;
using test::TempDir;

const auto run = test::runCli;

std::unique_ptr<DibImage> load(const std::string& path) {
    auto img = std::make_unique<DibImage>();
    EXPECT_NE(img->loadFile(path), nullptr) << path;
    return img;
}

// An 8-bit picture of 8 table entries (biClrUsed 8), each index once.
std::unique_ptr<DibImage> eightColours() {
    return makeIndexed(8, {"01234567"},
                       {Rgb{200, 0, 0}, Rgb{100, 100, 100}, Rgb{0, 0, 10}, Rgb{102, 101, 100}, Rgb{50, 50, 50},
                        Rgb{0, 255, 0}, Rgb{1, 1, 1}, Rgb{100, 100, 100}},
                       {}, true);
}

std::string writeInput(const TempDir& dir, const DibImage& img) {
    const std::string path = dir.file("in.bmp");
    EXPECT_EQ(img.saveFile(path), ImageError::None);
    return path;
}

TEST(PaletteBatch, SortKeepsThePictureAndSortsTheTable) {
    TempDir dir;
    auto img = eightColours();
    const std::string in = writeInput(dir, *img);
    ASSERT_EQ(run({in, "--sort-palette", "-o", dir.file("out.bmp")}).status, 0);
    auto out = load(dir.file("out.bmp"));
    EXPECT_EQ(out->displayBitmap->pixels, img->displayBitmap->pixels);
    EXPECT_EQ(out->tableColour(0), (Rgb{1, 1, 1}));
    EXPECT_EQ(out->tableColour(7), (Rgb{102, 101, 100}));
    EXPECT_EQ(out->header().biSizeImage, img->header().biSizeImage);  // no snapshot
}

TEST(PaletteBatch, MergeThenOrganiseCollapsesNearColours) {
    TempDir dir;
    const std::string in = writeInput(dir, *eightColours());
    ASSERT_EQ(run({in, "--merge-near=5", "--organise", "-o", dir.file("out.bmp")}).status, 0);
    auto out = load(dir.file("out.bmp"));
    // Entries 3 and 7 join entry 1; the rest move up; two empty entries at the end.
    EXPECT_EQ(test::indexRows(*out), (test::Rows{"01213451"}));
    EXPECT_EQ(out->tableColour(5), (Rgb{1, 1, 1}));
    EXPECT_EQ(out->tableColour(6), (Rgb{205, 205, 205}));
    EXPECT_EQ(out->tableColour(7), (Rgb{205, 205, 205}));
}

TEST(PaletteBatch, PaletteFileAppliesWithinN) {
    TempDir dir;
    WorkingPalette file;
    for (int i = 0; i < 256; ++i) file.setEntry(i, {i, 0, 255 - i});
    file.count = 256;
    ASSERT_EQ(savePaletteFile(dir.file("p.pl"), file), PaletteFileError::None);
    auto img = eightColours();
    const std::string in = writeInput(dir, *img);
    ASSERT_EQ(run({in, "--palette=" + dir.file("p.pl"), "--set-palette", "--save-palette=" + dir.file("back.pl"), "-o",
                   dir.file("out.bmp")})
                  .status,
              0);
    auto out = load(dir.file("out.bmp"));
    ASSERT_EQ(out->tableSize(), 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out->tableColour(i), (Rgb{uint8_t(i), 0, uint8_t(255 - i)}));
    EXPECT_EQ(out->header().biSizeImage, static_cast<uint32_t>(out->bitsSize()));  // snapshot taken
    const auto back = parsePaletteText(std::string(reinterpret_cast<const char*>(test::readBytes(dir.file("back.pl")).data()),
                                                   test::readBytes(dir.file("back.pl")).size()));
    EXPECT_EQ(back.count, 8);
    EXPECT_EQ(back.values[3 * 200], 200);
}

TEST(PaletteBatch, ApproximateAndFitUseTheWorkingPalette) {
    TempDir dir;
    WorkingPalette file;
    for (int i = 0; i < 256; ++i) file.setEntry(i, {0, 0, 0});
    file.setEntry(1, {255, 255, 255});
    file.count = 2;
    ASSERT_EQ(savePaletteFile(dir.file("bw.pl"), file), PaletteFileError::None);
    const std::string in = writeInput(dir, *eightColours());
    // Count 2 limits N: only table entries 0 and 1 are considered.
    ASSERT_EQ(run({in, "--palette=" + dir.file("bw.pl"), "--approximate=0", "-o", dir.file("a.bmp")}).status, 0);
    auto a = load(dir.file("a.bmp"));
    EXPECT_EQ(a->tableColour(0), (Rgb{0, 0, 0}));
    EXPECT_EQ(a->tableColour(1), (Rgb{0, 0, 0}));
    EXPECT_EQ(a->tableColour(2), (Rgb{0, 0, 10}));
    // Fit takes N from the picture again: all eight entries go black or white.
    ASSERT_EQ(run({in, "--palette=" + dir.file("bw.pl"), "--fit-palette", "-o", dir.file("f.bmp")}).status, 0);
    auto f = load(dir.file("f.bmp"));
    EXPECT_EQ(f->tableColour(0), (Rgb{0, 0, 0}));
    EXPECT_EQ(f->tableColour(5), (Rgb{0, 0, 0}));
    EXPECT_EQ(f->tableColour(2), (Rgb{0, 0, 0}));
}

TEST(PaletteBatch, RefusalsAndFailures) {
    TempDir dir;
    const std::string in8 = writeInput(dir, *eightColours());
    const std::string in24 = dir.file("rgb.bmp");
    ASSERT_EQ(test::make24({"#."})->saveFile(in24), ImageError::None);
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{in8, "--approximate=-1"}, batch::kExitUsage},
        {{in8, "--approximate=50001"}, batch::kExitUsage},
        {{in8, "--approximate=1x"}, batch::kExitUsage},
        {{in8, "--approximate=50000"}, batch::kExitOk},
        {{in8, "--merge-near=10000001"}, batch::kExitUsage},
        {{in8, "--merge-near=10000000"}, batch::kExitOk},
        {{in24, "--set-palette"}, batch::kExitInput},
        {{in24, "--save-palette=" + dir.file("x.pl")}, batch::kExitInput},
        {{in8, "--palette=" + dir.file("missing.pl")}, batch::kExitInput},
        {{in8, "--save-palette=" + dir.file("no/dir/x.pl")}, batch::kExitOutput},
    };
    for (const auto& c : cases) {
        const auto r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[1] << ": " << r.err;
    }
}

const Operation& op(const std::string& name) {
    if (const Operation* o = findOperation(name.substr(2))) return *o;
    throw std::runtime_error("no option " + name);
}

TEST(PaletteBatch, WorkingPaletteReloadsAtTheFirstPaletteOptionAfterAnyOther) {
    std::ostringstream out;
    auto fresh = [&] {
        auto ctx = std::make_unique<batch::Context>();
        ctx->out = &out;
        auto img = eightColours();
        ctx->image.replace(img->info, img->bits);
        return ctx;
    };
    // Runs one option the way the command line does.
    auto step = [&](batch::Context& ctx, const std::string& name, const std::string& value) {
        return batch::runOption(ctx, op(name), value);
    };
    // Merge and organise in one go: the merge survives (entries 3 and 7 join entry 1).
    auto ctx = fresh();
    ASSERT_FALSE(step(*ctx, "--merge-near", "5"));
    ASSERT_FALSE(step(*ctx, "--organise", ""));
    EXPECT_EQ(ctx->image.tableColour(6), (Rgb{205, 205, 205}));

    // Any other option in between, even one that changes nothing: the palette is taken from the picture again.
    ctx = fresh();
    ASSERT_FALSE(step(*ctx, "--merge-near", "5"));
    ASSERT_FALSE(step(*ctx, "--info", ""));
    ASSERT_FALSE(step(*ctx, "--organise", ""));
    EXPECT_EQ(ctx->image.tableColour(3), (Rgb{102, 101, 100}));
    EXPECT_EQ(ctx->image.tableColour(7), (Rgb{205, 205, 205}));  // only the exact duplicate 7 merged
}

}  // namespace
}  // namespace qel
