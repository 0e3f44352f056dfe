// qel-batch options of the line-art filters: enabling rules and the thinned flag.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/batch.h"
#include "core/lineart/lineart.h"
#include "support/text_image.h"

namespace qel {
namespace {

int run(const std::vector<std::string>& args, std::string* err = nullptr) {
    std::ostringstream out, e;
    const int rc = batch::runBatch(args, out, e);
    if (err) *err = e.str();
    return rc;
}

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
        std::string err, line;
        for (const auto& a : c.args) line += a + " ";
        EXPECT_EQ(run(c.args, &err), c.rc) << line << err;
    }
    DibImage result;
    ASSERT_NE(result.loadFile(out), nullptr);
    auto expected = test::makeLineArt({"......", ".####.", ".####.", "......"});
    thin(*expected);
    EXPECT_EQ(result.bits, expected->bits);
}

}  // namespace
}  // namespace qel
