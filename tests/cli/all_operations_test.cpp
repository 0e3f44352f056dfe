// Every core operation on every kind of picture the readers can produce: odd
// widths, 1 x 1, tables shorter than the depth, indices beyond the table,
// trailing bytes, each depth. Run under the sanitizers this proves no
// operation reads or writes outside the record, whatever the header says.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "core/formats/bmp_file.h"
#include "core/ops/operation.h"
#include "core/ops/runner.h"
#include "support/batch_run.h"
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

// Each listed operation, run as its function is, whatever its rule says (the rule is what the
// callers check), with its declared example value; a record readers stand for a change.
using Run = std::function<OpResult(DibImage&)>;

// The folder the examples' files are in, made once.
const std::string& exampleDir() {
    static const test::TempDir dir;
    static const std::string path = [] {
        test::writeBytes(dir.file("picture.bmp"), test::make24({"#r", "r#"}, {{'r', Rgb{255, 0, 0}}})->fileBytes());
        test::runCli({std::string(QEL_TEST_DATA) + "/../../samples/colours16.bmp", "--save-palette=" + dir.file("palette.pal")});
        return dir.path;
    }();
    return path;
}

std::vector<std::pair<std::string, Run>> operations() {
    std::vector<std::pair<std::string, Run>> runs;
    for (const qel::Operation* op : qel::operations()) {
        std::string example = op->arg.example ? op->arg.example : std::to_string(op->arg.initial);
        if (const auto at = example.find("{dir}"); at != std::string::npos) example.replace(at, 5, exampleDir());
        runs.emplace_back(op->name, [op, example](DibImage& d) {
            std::any value;
            if (std::string why = readValue(*op, example, d, value); !why.empty()) return OpResult::refused(why);
            std::shared_ptr<void> family;
            std::ostringstream out;
            OperationRun run{.image = d, .value = value, .out = &out, .snapshot = [] {}, .familyState = &family, .index = 1};
            return op->run(run);
        });
    }
    runs.emplace_back("rereadAs8Bit", [](DibImage& d) { d.rereadAs8Bit(); return OpResult::changed(); });
    return runs;
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
            // A change ends with the display rebuilt from the record; anything else says why and
            // leaves the record as it was.
            if (result.isChanged() && opName != "rereadAs8Bit") {
                const auto fresh = buildDisplayBitmap(image.info, image.bits);
                const DisplayBitmap* shown = image.display();
                EXPECT_TRUE(fresh && shown && shown->width == fresh->width && shown->pixels == fresh->pixels)
                    << picture.name << " / " << opName << ": the display shows another picture";
            }
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
