#include <gtest/gtest.h>

#include "core/geometry/geometry.h"
#include "core/ops/runner.h"
#include "support/text_image.h"

namespace qel {
namespace {

// Pixel bytes written as hex, stored rows bottom first; spaces only for reading.
PixelBytes hex(std::string_view text) {
    PixelBytes out;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != ' ') out.push_back(uint8_t(std::stoi(std::string(text.substr(i++, 2)), nullptr, 16)));
    return out;
}

// Indexed pictures by the digits; at 24 bits digit k is red 0xk1, green 0xk2, blue 0xk3 (bytes "k3k2k1").
std::unique_ptr<DibImage> picture(int depth, const test::Rows& rows) {
    std::map<char, Rgb> colours;
    for (int k = 1; k <= 6; ++k) colours[char('0' + k)] = Rgb{uint8_t(16 * k + 1), uint8_t(16 * k + 2), uint8_t(16 * k + 3)};
    auto img = depth == 24 ? test::make24(rows, colours) : test::makeIndexed(depth, rows, {{0, 0, 0}, {255, 255, 255}, {9, 8, 7}});
    auto h = img->header();
    h.biXPelsPerMeter = 1000, h.biYPelsPerMeter = 2000;
    img->setHeader(h);
    return img;
}

RunResult run(DibImage& img, std::string option, PictureState& state) {
    const auto eq = option.find('=');
    RunRequest r{.image = img, .state = state, .optionPrefix = "--"};
    return runOperationText(*findOperation(option.substr(0, eq)), eq == std::string::npos ? "" : option.substr(eq + 1), r);
}

TEST(OrientationTest, MovesEveryPixelExactlyAndKeepsTheTable) {
    struct Case { int depth; const char* option; int w, h; bool turned; const char* bits; };
    const Case cases[] = {  // 1-bit "110" over "100"; the others "123" over "456"
        {1, "rotate-90", 2, 3, true, "00000000 40000000 c0000000"},
        {1, "rotate-180", 3, 2, false, "60000000 20000000"},
        {1, "rotate-270", 2, 3, true, "c0000000 80000000 00000000"},
        {1, "flip-horizontal", 3, 2, false, "20000000 60000000"},
        {1, "flip-vertical", 3, 2, false, "c0000000 80000000"},
        {1, "crop=1,0,2,2", 2, 2, false, "00000000 80000000"},
        {4, "rotate-90", 2, 3, true, "63000000 52000000 41000000"},
        {4, "rotate-180", 3, 2, false, "32100000 65400000"},
        {4, "rotate-270", 2, 3, true, "14000000 25000000 36000000"},
        {4, "flip-horizontal", 3, 2, false, "65400000 32100000"},
        {4, "flip-vertical", 3, 2, false, "12300000 45600000"},
        {4, "crop=1,0,2,2", 2, 2, false, "56000000 23000000"},
        {8, "rotate-90", 2, 3, true, "06030000 05020000 04010000"},
        {8, "rotate-180", 3, 2, false, "03020100 06050400"},
        {8, "rotate-270", 2, 3, true, "01040000 02050000 03060000"},
        {8, "flip-horizontal", 3, 2, false, "06050400 03020100"},
        {8, "flip-vertical", 3, 2, false, "01020300 04050600"},
        {8, "crop=1,0,2,2", 2, 2, false, "05060000 02030000"},
        {24, "rotate-90", 2, 3, true, "636261 333231 0000 535251 232221 0000 434241 131211 0000"},
        {24, "rotate-180", 3, 2, false, "333231 232221 131211 000000 636261 535251 434241 000000"},
        {24, "rotate-270", 2, 3, true, "131211 434241 0000 232221 535251 0000 333231 636261 0000"},
        {24, "flip-horizontal", 3, 2, false, "636261 535251 434241 000000 333231 232221 131211 000000"},
        {24, "flip-vertical", 3, 2, false, "131211 232221 333231 000000 434241 535251 636261 000000"},
        {24, "crop=1,0,2,2", 2, 2, false, "535251 636261 0000 232221 333231 0000"},
        {-1, "flip-horizontal", 9, 1, false, "81800000"},  // 1-bit "110000001": rows of two bytes
        {-1, "crop=1,0,8,1", 8, 1, false, "81000000"},
    };
    for (const Case& c : cases) {
        auto img = c.depth < 0 ? picture(1, {"110000001"}) : picture(c.depth, c.depth == 1 ? test::Rows{"110", "100"} : test::Rows{"123", "456"});
        const std::vector<uint8_t> table(img->info.begin() + kHeaderSize, img->info.end());
        PictureState state;  // thinned: the flag stays
        state.thinned = true;
        ASSERT_EQ(run(*img, c.option, state).stage, RunStage::Ran) << c.option;
        const auto h = img->header();
        const std::string label = std::to_string(c.depth) + " " + c.option;
        EXPECT_EQ(img->bits, hex(c.bits)) << label;
        EXPECT_EQ(std::vector<uint8_t>(img->info.begin() + kHeaderSize, img->info.end()), table) << label;
        EXPECT_EQ(std::tuple(h.biWidth, h.biHeight, h.biSizeImage, h.biXPelsPerMeter, h.biYPelsPerMeter, state.thinned),
                  std::tuple(c.w, c.h, uint32_t(img->bits.size()), c.turned ? 2000 : 1000, c.turned ? 1000 : 2000, true)) << label;
    }
}

TEST(OrientationTest, TurnsAndFlipsThatCancelGiveBackTheBytes) {
    const std::vector<std::vector<std::string>> rounds = {
        std::vector<std::string>(4, "rotate-90"), std::vector<std::string>(4, "rotate-270"), {"rotate-90", "rotate-270"},
        {"rotate-90", "rotate-90", "rotate-180"}, {"flip-horizontal", "flip-vertical", "rotate-180"},
        {"flip-horizontal", "flip-horizontal"}, {"flip-vertical", "flip-vertical"}};
    // 21 x 9: quarter turns move rows four at a time and some alone, mirrored rows go sixteen pixels
    // at a time and then one by one, and the rows' last pixels move on their own.
    const test::Rows rows = {"123456012345601234560", "654321065432106543210", "001122334455600112233",
                             "135024613502461350246", "665544332211066554433", "000000000000100000001",
                             "123456123456012345612", "222223333344422222333", "543210654321054321065"};
    for (int depth : {1, 4, 8, 24})
        for (const auto& ops : rounds) {
            auto img = picture(depth, rows), same = picture(depth, rows);
            PictureState state;
            for (const auto& op : ops) ASSERT_EQ(run(*img, op, state).stage, RunStage::Ran) << op;
            EXPECT_EQ(img->info, same->info) << depth << " " << ops[0];
            EXPECT_EQ(img->bits, same->bits) << depth << " " << ops[0];
        }
}

TEST(OrientationTest, CropRefusesARectangleOutsideThePictureNamingItsNumbers) {
    struct Case { const char* value; RunStage stage; const char* reason; };
    const Case cases[] = {
        {"1,0,3,2", RunStage::Operation, "--crop: the rectangle 1,0,3,2 does not lie inside the 3 x 2 picture"},
        {"0,0,0,1", RunStage::Value, "--crop needs W from 1 to 65535: 0,0,0,1"},
        {"0,0,1", RunStage::Value, "--crop needs X,Y,W,H, four whole numbers: 0,0,1"},
    };
    for (const Case& c : cases) {
        auto img = picture(8, {"123", "456"});
        const auto bits = img->bits;
        PictureState state;
        const RunResult r = run(*img, std::string("crop=") + c.value, state);
        EXPECT_EQ(std::pair(r.stage, r.result.reason), std::pair(c.stage, std::string(c.reason)));
        EXPECT_EQ(img->bits, bits) << c.value;
    }
    auto img = picture(8, {"123", "456"});  // a dialog's record goes to the function as it is
    EXPECT_EQ(crop(*img, {.x = 2, .y = 0, .width = 2, .height = 1}).reason,
              "the rectangle 2,0,2,1 does not lie inside the 3 x 2 picture");
}

}  // namespace
}  // namespace qel
