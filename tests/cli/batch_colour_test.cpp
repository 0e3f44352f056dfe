// qel-batch options of the depth conversions, black and white, colour count and reduction.
#include <gtest/gtest.h>

#include "support/batch_run.h"
#include "support/text_image.h"

namespace qel {
namespace {

const auto run = test::runCli;

TEST(BatchConversions, EachOptionWritesItsDepth) {
    test::TempDir dir;
    auto img = test::make24({"rgb", "bgr"}, {{'r', {255, 0, 0}}, {'g', {0, 255, 0}}, {'b', {0, 0, 255}}});
    ASSERT_EQ(img->saveFile(dir.file("in.bmp")), ImageError::None);
    struct Case { std::vector<std::string> ops; int depth; int width; };
    const Case cases[] = {
        {{"--to-256"}, 8, 3},
        {{"--to-16"}, 4, 4},
        {{"--to-256", "--to-16"}, 4, 4},
        {{"--grey"}, 24, 3},
        {{"--to-256", "--black-white=128"}, 8, 3},
        {{"--adaptive-bw"}, 8, 3},  // the value may be left out
        {{"--reduce-256"}, 24, 3},
        {{"--quantize=2"}, 8, 3},
        {{"--quantize=256;dither"}, 8, 3},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{dir.file("in.bmp")};
        args.insert(args.end(), c.ops.begin(), c.ops.end());
        args.insert(args.end(), {"-o", dir.file("out.bmp")});
        auto r = run(args);
        ASSERT_EQ(r.status, batch::kExitOk) << r.err;
        DibImage out;
        ASSERT_NE(out.loadFile(dir.file("out.bmp")), nullptr);
        EXPECT_EQ(out.bitCount(), c.depth) << c.ops[0];
        EXPECT_EQ(out.header().biWidth, c.width) << c.ops[0];
        EXPECT_EQ(out.header().biSizeImage, uint32_t(out.bitsSize())) << c.ops[0];
    }
}

TEST(BatchConversions, RefusesWhatTheMenuWouldNotOffer) {
    test::TempDir dir;
    auto four = test::makeIndexed(4, {"01"}, {{1, 1, 1}});
    ASSERT_EQ(four->saveFile(dir.file("four.bmp")), ImageError::None);
    struct Case { std::vector<std::string> args; int status; const char* mentions; };
    const Case cases[] = {
        {{"--new=2x2", "--black-white=128"}, batch::kExitInput, "24-bit"},
        {{dir.file("four.bmp"), "--to-16"}, batch::kExitInput, "4-bit"},
        {{dir.file("four.bmp"), "--to-256"}, batch::kExitInput, "4-bit"},
        {{dir.file("four.bmp"), "--reduce-256"}, batch::kExitInput, "4-bit"},
        {{dir.file("four.bmp"), "--black-white=256"}, batch::kExitUsage, "0 to 255"},
        {{dir.file("four.bmp"), "--black-white=-1"}, batch::kExitUsage, "0 to 255"},
        {{dir.file("four.bmp"), "--black-white=12x"}, batch::kExitUsage, "integer"},
        {{dir.file("four.bmp"), "--black-white="}, batch::kExitUsage, "integer"},
        {{dir.file("four.bmp"), "--black-white"}, batch::kExitUsage, "needs a value"},
        {{dir.file("four.bmp"), "--quantize=16"}, batch::kExitInput, "4-bit"},
        {{"--new=2x2", "--quantize=1"}, batch::kExitUsage, "from 2 to 256"},
        {{"--new=2x2", "--quantize=257;dither"}, batch::kExitUsage, "from 2 to 256"},
        {{"--new=2x2", "--quantize=16;nearest"}, batch::kExitUsage, "N or N;dither"},
    };
    for (const auto& c : cases) {
        auto r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[1] << ": " << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    }
}

TEST(BatchCountColours, PrintsTheNumberOnItsOwnLine) {
    test::TempDir dir;
    auto mono = test::makeIndexed(1, {"01"}, {{0, 0, 0}, {255, 255, 255}});
    ASSERT_EQ(mono->saveFile(dir.file("mono.bmp")), ImageError::None);
    auto two = test::make24({"rb"}, {{'r', {255, 0, 0}}, {'b', {0, 0, 255}}});
    ASSERT_EQ(two->saveFile(dir.file("two.bmp")), ImageError::None);
    struct Case { std::vector<std::string> args; const char* out; };
    const Case cases[] = {
        {{"--new=3x2", "--count-colours"}, "1\n"},
        {{dir.file("mono.bmp"), "--count-colours"}, "2\n"},
        {{dir.file("two.bmp"), "--count-colours", "--reduce-256", "--count-colours"}, "2\n2\n"},
        {{"--new=3x2", "--deskew", "--count-colours"}, "0.00\n1\n"},  // deskew prints the tilt found
    };
    for (const auto& c : cases) {
        const auto r = run(c.args);
        EXPECT_EQ(r.status, batch::kExitOk) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

}  // namespace
}  // namespace qel
