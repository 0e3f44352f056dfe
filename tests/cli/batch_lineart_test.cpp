// qel-batch options of the line-art filters: enabling rules and the thinned flag.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/lineart/lineart.h"
#include "support/batch_run.h"
#include "support/text_image.h"

namespace qel {
namespace {

TEST(BatchLineart, OptionsFollowTheMenuEnablingRules) {
    test::TempDir dir;
    const std::string art = dir.file("art.bmp"), deep = dir.file("deep.bmp"), out = dir.file("out.bmp");
    ASSERT_TRUE(test::writeBytes(art, test::makeLineArt({"......", ".####.", ".####.", "......"})->fileBytes()));
    ASSERT_TRUE(test::writeBytes(deep, test::make24({"....", ".##.", "...."})->fileBytes()));
    struct Case {
        std::vector<std::string> args;
        int rc;
    } cases[] = {
        {{art, "--thin", "--straighten=3", "--tidy"}, batch::kExitOk},
        {{art, "--thin", "-o", out}, batch::kExitOk},
        {{art, "--tidy2", "--tidy"}, batch::kExitOk},
        {{art, "--straighten=3"}, batch::kExitInput},   // not thinned yet
        {{art, "--tidy"}, batch::kExitInput},
        {{deep, "--thin"}, batch::kExitInput},          // 8-bit only
        {{deep, "--tidy2"}, batch::kExitInput},
        {{art, "--thin", "--straighten=0"}, batch::kExitUsage},
        {{art, "--thin", "--straighten=x"}, batch::kExitUsage},
        {{art, "--thin", "--to-24bit", "--tidy"}, batch::kExitInput},  // conversion clears the flag
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        const auto r = test::runCli(c.args);
        EXPECT_EQ(r.status, c.rc) << line << r.err;
    }
    DibImage result;
    ASSERT_NE(result.loadFile(out), nullptr);
    auto expected = test::makeLineArt({"......", ".####.", ".####.", "......"});
    thin(*expected);
    EXPECT_EQ(result.bits, expected->bits);
}

TEST(BatchLineart, SvgOutputNeedsAThinnedPicture) {
    test::TempDir dir;
    const std::string art = dir.file("art.bmp"), svg = dir.file("out.svg");
    ASSERT_TRUE(test::writeBytes(art, test::makeLineArt({"......", ".####.", "......"})->fileBytes()));
    const std::string arc = dir.file("arc.bmp");  // a quarter circle of radius 10
    ASSERT_TRUE(test::writeBytes(arc, test::makeLineArt({"..........#", "..........#", "..........#", "..........#", ".........#.",
                                                         ".........#.", "........#..", ".......#...", "......#....", "....##.....",
                                                         "####......."})->fileBytes()));
    struct Case {
        std::vector<std::string> args;
        int rc;
        const char* d;  // the path data written, or nullptr for no file
    } cases[] = {
        {{art, "--thin", "-o", svg}, batch::kExitOk, "m1 1 3 0"},
        {{art, "--tidy2", "--svg-width=2", "--svg-tolerance=0", "-o", svg}, batch::kExitOk, "m1 1 3 0"},
        {{art, "--thinned", "-o", svg}, batch::kExitOk, "m1 1 3 0"},
        {{art, "-o", svg}, batch::kExitInput, nullptr},                        // not thinned
        // The conversion clears the flag, which 8 bits again do not bring back.
        {{art, "--thin", "--to-24bit", "--to-256", "-o", svg}, batch::kExitInput, nullptr},
        {{art, "--thin", "--svg-width=2", "-o", dir.file("out.png")}, batch::kExitUsage, nullptr},
        {{art, "--thin", "--svg-tolerance=-1", "-o", svg}, batch::kExitUsage, nullptr},
        {{art, "--thin", "--svg-width=x", "-o", svg}, batch::kExitUsage, nullptr},
        {{arc, "--thinned", "--svg-curves", "-o", svg}, batch::kExitOk, "m10 0c0 "},
        {{arc, "--thinned", "--svg-curves=1", "-o", svg}, batch::kExitUsage, nullptr},
    };
    for (const auto& c : cases) {
        std::remove(svg.c_str());
        const auto r = test::runCli(c.args);
        EXPECT_EQ(r.status, c.rc) << c.args[1] << " " << r.err;
        const auto bytes = test::readBytes(svg);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_EQ(text.empty() ? "" : text.substr(text.find(" d=\"") + 4, 8), c.d ? c.d : "") << c.args[1];
    }
}

}  // namespace
}  // namespace qel
