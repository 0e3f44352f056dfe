// qel-batch --calc and --transform.
#include <gtest/gtest.h>

#include "support/batch_run.h"
#include "support/text_image.h"

namespace qel {
namespace {

const auto run = test::runCli;

TEST(BatchExpr, CalcPrintsTheCalculatorsAnswer) {
    const std::pair<const char*, const char*> cases[] = {
        {"x*y", "8.539733\n"}, {"sin(x)", "0.054804\n"}, {"2*-3", "-6.000000\n"}, {"2x", "数式が不正です。\n"},
    };
    for (const auto& [formula, printed] : cases) {
        auto r = run({"--new=1x1", std::string("--calc=") + formula});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, printed) << formula;
    }
}

TEST(BatchExpr, TransformShiftsAndRecoloursTheWrittenPicture) {
    test::TempDir dir;
    auto in = test::make24({"ab..", "ab.."}, {{'a', {10, 20, 30}}, {'b', {40, 50, 60}}});
    ASSERT_EQ(in->saveFile(dir.file("in.bmp")), ImageError::None);

    auto r = run({dir.file("in.bmp"), "--transform=x+1;y;0", "-o", dir.file("left.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    DibImage left;
    ASSERT_NE(left.loadFile(dir.file("left.bmp")), nullptr);
    EXPECT_EQ(test::colourRows(left, {{'b', {40, 50, 60}}}), (test::Rows{"b..#", "b..#"}));

    r = run({dir.file("in.bmp"), "--transform=x + 1; y ;10;1,0.5,0;forward", "-o", dir.file("right.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    DibImage right;
    ASSERT_NE(right.loadFile(dir.file("right.bmp")), nullptr);
    EXPECT_EQ(right.colourAt(1, 0), (Rgb{20, 25, 30}));
    EXPECT_EQ(right.colourAt(2, 1), (Rgb{50, 55, 60}));
    EXPECT_EQ(right.colourAt(0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(right.colourAt(3, 0), (Rgb{255, 255, 255}));
}

TEST(BatchExpr, TransformRefusesBadArgumentsAndWritesNothing) {
    test::TempDir dir;
    auto in = test::make24({"..", ".."});
    ASSERT_EQ(in->saveFile(dir.file("in.bmp")), ImageError::None);
    const std::pair<const char*, const char*> cases[] = {
        {"--transform=x+;y;0", "x'=x+"},
        {"--transform=x;2x;0", "y'=2x"},
        {"--transform=x;y;", "z'="},
        {"--transform=x;y", "XF;YF;ZF"},
        {"--transform=x;y;0;1,1", "WR,WG,WB"},
        {"--transform=x;y;0;1,abc,1", "green weight abc"},
        {"--transform=x;y;0;1,1,300", "blue weight 300"},
        {"--transform=x;y;0;1,1,1;sideways", "sideways"},
    };
    for (const auto& [arg, named] : cases) {
        auto r = run({dir.file("in.bmp"), arg, "-o", dir.file("out.bmp")});
        EXPECT_EQ(r.status, 1) << arg;
        EXPECT_NE(r.err.find(named), std::string::npos) << arg << ": " << r.err;
        EXPECT_TRUE(test::readBytes(dir.file("out.bmp")).empty()) << arg;
    }
    auto grey = test::makeIndexed(8, {"01"}, {{0, 0, 0}, {255, 255, 255}});
    ASSERT_EQ(grey->saveFile(dir.file("grey.bmp")), ImageError::None);
    auto r = run({dir.file("grey.bmp"), "--transform=x;y;0"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("24-bit"), std::string::npos);
}

}  // namespace
}  // namespace qel
