// Every core operation on every kind of picture the readers can produce: odd
// widths, 1 x 1, tables shorter than the depth, indices beyond the table,
// trailing bytes, each depth. Run under the sanitizers this proves no
// operation reads or writes outside the record, whatever the header says.
#include <gtest/gtest.h>

#include <functional>

#include "core/colour/conversions.h"
#include "core/colour/palette_ops.h"
#include "core/colour/quantize.h"
#include "core/colour/reduction.h"
#include "core/colour/working_palette.h"
#include "core/expr/transform.h"
#include "core/geometry/geometry.h"
#include "core/geometry/screen_grab.h"
#include "core/formats/bmp_file.h"
#include "core/lineart/lineart.h"
#include "support/text_image.h"

namespace qel {
namespace {

struct Picture {
    std::string name;
    std::vector<uint8_t> file;  // a BMP file the reader accepts
};

std::vector<uint8_t> pixelBytes(int64_t n, uint32_t seed) {
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

std::vector<uint8_t> table(int entries, uint32_t seed) {
    auto t = pixelBytes(4 * entries, seed);
    for (int i = 0; i < entries; ++i) t[4 * i + 3] = 0;
    return t;
}

std::vector<Picture> pictures() {
    std::vector<Picture> out;
    for (int bc : {1, 4, 8, 24}) {
        for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {5, 7}, {17, 3}, {2, 9}}) {
            const int64_t size = strideFor(w, bc) * h;
            for (int tableCase = 0; tableCase < 3; ++tableCase) {
                // 0: the full table, 1: a table of 2 entries (indices beyond it), 2: full plus trailing bytes
                const int full = bc == 24 ? 0 : (1 << bc);
                const int entries = tableCase == 1 ? 2 : full;
                if (bc == 24 && tableCase == 1) continue;
                auto hdr = newHeader(w, h, static_cast<uint16_t>(bc), tableCase == 1 ? 2u : 0u,
                                     static_cast<uint32_t>(size));
                auto px = pixelBytes(size + (tableCase == 2 ? 7 : 0), w * 31u + h * 7u + bc);
                out.push_back({std::to_string(bc) + "-bit " + std::to_string(w) + "x" + std::to_string(h) +
                                   (tableCase == 1 ? " short table" : tableCase == 2 ? " trailing bytes" : ""),
                               test::bmpFile(hdr, table(entries, bc * 13u + w), px)});
            }
        }
    }
    // Line art on the device table and a 24-bit picture holding pure black, white and red.
    out.push_back({"line art", test::makeLineArt({"#..#.", ".##..", "..#.#", "#...#"})->fileBytes()});
    out.push_back({"black white red", test::make24({"#r.", "r#.", "..r"}, {{'r', Rgb{255, 0, 0}}})->fileBytes()});
    return out;
}

// Each gives the result of its last call; the record readers stand for a change.
using Operation = std::function<OpResult(DibImage&)>;

std::vector<std::pair<std::string, Operation>> operations() {
    return {
        {"toIndexed 256", [](DibImage& d) { return toIndexed(d, 256); }},
        {"toIndexed 16", [](DibImage& d) { return toIndexed(d, 16); }},
        {"toGrey", [](DibImage& d) { return toGrey(d); }},
        {"toBlackWhite", [](DibImage& d) { return toBlackWhite(d, 128); }},
        {"countColours", [](DibImage& d) { countColours(d); return OpResult::changed(); }},
        {"reduceColours", [](DibImage& d) { return reduceColours(d); }},
        {"quantizeColours", [](DibImage& d) { return quantizeColours(d, {.colours = 2}); }},
        {"quantizeColours dithered", [](DibImage& d) { return quantizeColours(d, {.colours = 3, .dither = true}); }},
        {"palette requests", [](DibImage& d) {
             WorkingPalette pal;
             loadPaletteFromImage(pal, d);
             for (int32_t request : {1001, 1002, 1003, 1004, 1005}) {
                 pal.precision = 40;
                 runPaletteRequest(d, pal, request, [] {});
             }
             return fitToPalette(d, pal);
         }},
        {"thin", [](DibImage& d) { return thin(d); }},
        {"straighten", [](DibImage& d) { return straighten(d, 2); }},
        {"tidyLines", [](DibImage& d) { return tidyLines(d); }},
        {"tidyLines2", [](DibImage& d) { return tidyLines2(d); }},
        {"transform", [](DibImage& d) {
             TransformSettings s;
             s.formulaX = "x+1.5*sin(y*40)";
             s.formulaY = "y-1";
             s.formulaZ = "z+50";
             transformByFormula(d, s);
             s.inverseTransform = 0;
             return transformByFormula(d, s);
         }},
        {"scale", [](DibImage& d) {
             scaleByCommand(d, 3, 4, true);
             scaleByCommand(d, 7, 2, true);
             return scaleByCommand(d, 5, 5, false);
         }},
        {"mix", [](DibImage& d) {
             auto other = test::make24({"#r", "r#"}, {{'r', Rgb{255, 0, 0}}})->fileBytes();
             return mixBytes(d, other.data(), other.size(), 0, 0, 5, 5, 0, 0, 0.5f, packColourRef(205, 205, 205));
         }},
        {"fractal", [](DibImage& d) { return drawFractal(d, kFractalStepX, kFractalStepY, kFractalConstant, 20); }},
        {"rereadAs8Bit", [](DibImage& d) { d.rereadAs8Bit(); return OpResult::changed(); }},
    };
}

TEST(AllOperations, AreSafeOnEveryPictureTheReaderAccepts) {
    const auto ops = operations();
    for (const auto& picture : pictures()) {
        for (const auto& [opName, op] : ops) {
            DibImage image;
            ASSERT_NE(image.loadBytes(picture.file.data(), picture.file.size()), nullptr) << picture.name;
            const auto info = image.info;
        const auto bits = image.bits;
            const OpResult result = op(image);
            // Anything but a change says why and leaves the record as it was.
            if (!result.isChanged()) {
                EXPECT_FALSE(result.reason.empty()) << picture.name << " / " << opName;
                EXPECT_TRUE(image.info == info && image.bits == bits) << picture.name << " / " << opName;
            }
            // Whatever happened, the record still shows itself and saves a file that reads back.
            if (!image.info.empty()) {
                EXPECT_NE(image.rebuildDisplay(), nullptr) << picture.name << " / " << opName;
                auto bytes = image.fileBytes();
                DibImage back;
                EXPECT_NE(back.loadBytes(bytes.data(), bytes.size()), nullptr) << picture.name << " / " << opName;
            }
        }
    }
}

TEST(AllOperations, LeaveAnEmptyRecordEmpty) {
    for (const auto& [opName, op] : operations()) {
        DibImage image;
        op(image);
        EXPECT_TRUE(image.info.empty()) << opName;
        EXPECT_EQ(image.displayBitmap, nullptr) << opName;
    }
}

}  // namespace
}  // namespace qel
