// qel-batch options of the geometry family, run end to end on files.
#include <gtest/gtest.h>

#include "core/geometry/geometry.h"
#include "support/batch_run.h"
#include "support/geometry_test_util.h"
#include "support/text_image.h"

namespace qel {
namespace {

const auto run = test::runCli;

std::unique_ptr<DibImage> load(const std::string& path) {
    auto img = std::make_unique<DibImage>();
    EXPECT_NE(img->loadFile(path), nullptr) << path;
    return img;
}

Rgb ramp(int x, int y) { return Rgb{uint8_t(17 * x), uint8_t(29 * y), uint8_t(x * y)}; }

TEST(BatchGeometryTest, ScaleTakesTheCommandsRouteOrNearest) {
    test::TempDir dir;
    auto src = test::pictureOf(9, 7, ramp);
    ASSERT_EQ(src->saveFile(dir.file("in.bmp")), ImageError::None);
    struct Case { const char* option; bool interpolate; int w, h; };
    const Case cases[] = {{"--scale=4x3", true, 4, 3}, {"--scale=12x3", true, 12, 3}, {"--scale=4x3;nearest", false, 4, 3}};
    for (const auto& c : cases) {
        auto r = run({dir.file("in.bmp"), c.option, "-o", dir.file("out.bmp")});
        ASSERT_EQ(r.status, batch::kExitOk) << c.option << r.err;
        auto expected = test::pictureOf(9, 7, ramp);
        ASSERT_EQ(scaleByCommand(*expected, c.w, c.h, c.interpolate).status, OpStatus::Changed);
        auto got = load(dir.file("out.bmp"));
        EXPECT_EQ(got->bits, expected->bits) << c.option;
        EXPECT_EQ(got->header().biWidth, c.w) << c.option;
    }
}

TEST(BatchGeometryTest, MixUsesTheDialogsDefaultsAndOptionalFields) {
    test::TempDir dir;
    ASSERT_EQ(test::greyPicture(3, 2, [](int, int) { return 0; })->saveFile(dir.file("in.bmp")), ImageError::None);
    ASSERT_EQ(test::greyPicture(2, 2, [](int x, int) { return x ? 205 : 255; })->saveFile(dir.file("m.bmp")), ImageError::None);
    struct Case { std::string suffix; std::vector<std::vector<int>> rows; };
    const Case cases[] = {
        {"", {{127, 0, 0}, {127, 0, 0}}},  // ratio 0.5, grey 205 transparent
        {";1", {{255, 0, 0}, {255, 0, 0}}},
        {";1;1,1,5,5", {{0, 0, 0}, {0, 255, 0}}},
        {";1;0,0,5,5;1,0", {{0, 0, 0}, {0, 0, 0}}},  // only transparent pixels copied
        {";1;0,0,5,5;0,0;0,0,0", {{255, 205, 0}, {255, 205, 0}}},
    };
    for (const auto& c : cases) {
        auto r = run({dir.file("in.bmp"), "--mix=" + dir.file("m.bmp") + c.suffix, "-o", dir.file("out.bmp")});
        ASSERT_EQ(r.status, batch::kExitOk) << c.suffix << r.err;
        EXPECT_EQ(test::greyRows(*load(dir.file("out.bmp"))), c.rows) << c.suffix;
    }
    // The default rectangle is the whole picture, wide or tall, when the file covers it.
    ASSERT_EQ(test::greyPicture(3, 3, [](int, int) { return 99; })->saveFile(dir.file("m3.bmp")), ImageError::None);
    for (auto [w, h] : {std::pair{3, 2}, std::pair{2, 3}}) {
        ASSERT_EQ(test::greyPicture(w, h, [](int, int) { return 0; })->saveFile(dir.file("p.bmp")), ImageError::None);
        ASSERT_EQ(run({dir.file("p.bmp"), "--mix=" + dir.file("m3.bmp") + ";1", "-o", dir.file("out.bmp")}).status, 0);
        EXPECT_EQ(test::greyRows(*load(dir.file("out.bmp"))), std::vector(h, std::vector(w, 99))) << w << " x " << h;
    }
}

TEST(BatchGeometryTest, RefusalsExitWithUsageOrInputStatus) {
    test::TempDir dir;
    ASSERT_EQ(test::greyPicture(3, 2, [](int, int) { return 0; })->saveFile(dir.file("in.bmp")), ImageError::None);
    auto indexed = test::makeIndexed(8, {"01"}, {Rgb{0, 0, 0}, Rgb{255, 255, 255}});
    ASSERT_EQ(indexed->saveFile(dir.file("i8.bmp")), ImageError::None);
    ASSERT_TRUE(test::writeBytes(dir.file("text.bmp"), std::vector<uint8_t>{'t', 'e', 'x', 't'}));
    auto cut = test::readBytes(dir.file("in.bmp"));
    cut.resize(cut.size() - 2);
    ASSERT_TRUE(test::writeBytes(dir.file("cut.bmp"), cut));
    struct Case { std::vector<std::string> args; int status; const char* mentions; };
    const Case cases[] = {
        {{dir.file("in.bmp"), "--scale=0x5"}, batch::kExitUsage, "1 to 30000"},
        {{dir.file("in.bmp"), "--scale=30001x5"}, batch::kExitUsage, "1 to 30000"},
        {{dir.file("in.bmp"), "--scale=5"}, batch::kExitUsage, "WIDTHxHEIGHT"},
        {{dir.file("in.bmp"), "--scale=5x5;fast"}, batch::kExitUsage, "WIDTHxHEIGHT"},
        {{dir.file("in.bmp"), "--scale=30000x30000"}, batch::kExitInput, "larger than a picture"},
        {{dir.file("i8.bmp"), "--scale=5x5"}, batch::kExitInput, "24-bit"},
        {{dir.file("i8.bmp"), "--fractal"}, batch::kExitInput, "24-bit"},
        {{dir.file("in.bmp"), "--crop=2,1,2,1"}, batch::kExitInput, "--crop: the rectangle 2,1,2,1 does not lie inside the 3 x 2 picture"},
        {{dir.file("in.bmp"), "--mix=" + dir.file("in.bmp") + ";1.5"}, batch::kExitUsage, "ratio from 0 to 1"},
        {{dir.file("in.bmp"), "--mix=" + dir.file("in.bmp") + ";0.5;1,2,3"}, batch::kExitUsage, "X,Y,W,H"},
        {{dir.file("in.bmp"), "--mix=" + dir.file("in.bmp") + ";0.5;0,0,1,1;0,0;0,0,256"}, batch::kExitUsage, "R,G,B"},
        {{dir.file("in.bmp"), "--mix=" + dir.file("missing.bmp")}, batch::kExitInput, "missing.bmp: No such file or directory"},
        {{dir.file("in.bmp"), "--mix=" + dir.file("text.bmp")}, batch::kExitInput, "text.bmp: the content is not a picture format"},
        {{dir.file("in.bmp"), "--mix=" + dir.file("cut.bmp")}, batch::kExitInput, "pixel data ends 2 bytes early"},
    };
    for (const auto& c : cases) {
        auto r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << ": " << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    }
}

TEST(BatchGeometryTest, FractalOverwritesEveryPixel) {
    test::TempDir dir;
    auto r = run({"--new=7x3", "--fractal", "-o", dir.file("f.bmp")});
    ASSERT_EQ(r.status, batch::kExitOk) << r.err;
    auto img = load(dir.file("f.bmp"));
    for (int x = 0; x < 7; ++x) EXPECT_EQ(img->colourAt(x, 0), (Rgb{0, 0, 0}));
}

}  // namespace
}  // namespace qel
