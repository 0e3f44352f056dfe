#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "core/geometry/geometry.h"
#include "core/ops/runner.h"
#include "support/geometry_test_util.h"
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

TEST(DeskewTest, TurnsByAnAngleKeepingTheSize) {
    std::map<char, Rgb> colours;  // digit k is red 0xk1, green 0xk2, blue 0xk3 (bytes "k3k2k1")
    for (int k = 1; k <= 4; ++k) colours[char('0' + k)] = Rgb{uint8_t(16 * k + 1), uint8_t(16 * k + 2), uint8_t(16 * k + 3)};
    std::vector<Rgb> ramp;
    for (int i = 0; i < 256; ++i) ramp.push_back(Rgb{uint8_t(i), uint8_t(i), uint8_t(i)});
    const std::vector<Rgb> table = {{0, 0, 0}, {255, 255, 255}, {9, 8, 7}};  // white is entry 1
    struct Case { const char* label; std::unique_ptr<DibImage> picture; double degrees; const char* bits; };
    Case cases[] = {
        {"24-bit quarter turn clockwise", test::make24({"12", "34"}, colours), 90, "434241 232221 0000 333231 131211 0000"},
        {"24-bit corners continue the edge", test::make24({"123"}, colours), 90, "232221 232221 232221 000000"},
        {"4-bit nearest, whitest entry", test::makeIndexed(4, {"020"}, table), 90, "12100000"},
        {"8-bit other table nearest", test::makeIndexed(8, {"020"}, table), 90, "01020100"},
        {"1-bit nearest", test::makeIndexed(1, {"011", "011", "011"}, table), 90, "e0000000 e0000000 00000000"},
        // Corners come from the white edge; each side's middle takes 75/256 of the black centre along
        // both axes: 255 - 255 * 75 * 75 / 65536 = 233.
        {"8-bit grey ramp blended", test::makeIndexed(8, {"www", "wbw", "www"}, ramp, {{'w', 255}, {'b', 0}}), 45,
         "ffe9ff00 e900e900 ffe9ff00"},
    };
    for (Case& c : cases) {
        const std::vector<uint8_t> info = c.picture->info;
        ASSERT_EQ(rotateByAngle(*c.picture, c.degrees).status, OpStatus::Changed) << c.label;
        EXPECT_EQ(c.picture->bits, hex(c.bits)) << c.label;
        EXPECT_EQ(c.picture->info, info) << c.label;
    }
}

// Lines of short dashes like lettering, tilted `degrees` anticlockwise, on paper darkening to the left
// the way a scan's light falls off: the paper weighs nothing, or its upright edges would pull the tilt
// towards 0.
std::unique_ptr<DibImage> tiltedPage(double degrees) {
    const double a = degrees * M_PI / 180, w = 160, h = 120;
    return test::greyPicture(160, 120, [&](int x, int y) {
        const double dx = x - (w - 1) / 2, dy = y - (h - 1) / 2;
        const double u = dx * std::cos(a) - dy * std::sin(a) + w / 2, v = dx * std::sin(a) + dy * std::cos(a) + h / 2;
        const double period = 15 + 4 * std::floor(v / 14);  // no two lines alike, as words are not
        const bool dash = u > 20 && u < 140 && v > 18 && v < 102 && std::fmod(v, 14) < 2 && std::fmod(u, period) < 7;
        return dash ? 0 : int(235 - 0.5 * x - 100 * std::exp(-x / 10.0));
    });
}

TEST(DeskewTest, FindsTheTiltWithinAFifthOfADegreeAndTurnsThePageUpright) {
    for (const double degrees : {-9.0, -4.5, -1.2, 0.0, 2.3, 6.8}) {
        auto page = tiltedPage(degrees);
        const PixelBytes before = page->bits;
        PictureState state;
        std::ostringstream out;
        RunRequest request{.image = *page, .state = state, .out = &out};
        const RunResult r = runOperationText(*findOperation("deskew"), "", request);
        EXPECT_NEAR(std::stod(out.str()), degrees, 0.2) << degrees;
        if (degrees == 0) {  // upright: left as it is
            EXPECT_EQ(std::pair(r.result.status, page->bits == before), std::pair(OpStatus::Unchanged, true));
            continue;
        }
        EXPECT_EQ(r.result.status, OpStatus::Changed) << degrees;
        EXPECT_NEAR(findTilt(*page), 0, 0.2) << degrees;
    }
}

}  // namespace
}  // namespace qel
