// Scan clean-up: Sauvola's adaptive black and white, and despeckling, on tiny pictures.
#include <gtest/gtest.h>

#include <random>

#include "core/image/parallel_rows.h"
#include "core/lineart/scan_cleanup.h"
#include "core/ops/runner.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::Rows;

RunResult run(DibImage& img, const std::string& option) {
    PictureState state;
    state.thinned = true;
    const auto eq = option.find('=');
    RunRequest r{.image = img, .state = state, .optionPrefix = "--"};
    RunResult result = runOperationText(*findOperation(option.substr(0, eq)), eq == std::string::npos ? "" : option.substr(eq + 1), r);
    EXPECT_EQ(state.thinned, result.isRefused()) << option;  // a new black-and-white picture is not thinned
    return result;
}

// Vertical strokes under light falling from dark (left) to bright (right): a stroke of grey 20 on
// 60 and one of 150 on 240. Any single threshold that keeps the bright stroke blackens the dark
// background; the local threshold keeps both strokes and nothing else.
TEST(ScanCleanupTest, AdaptiveBlackWhiteKeepsStrokesUnderUnevenLight) {
    const uint8_t greys[] = {60, 20, 60, 100, 140, 180, 240, 150, 240};
    std::map<char, Rgb> colours;
    std::vector<Rgb> table;
    std::string row;
    for (uint8_t g : greys) {
        const char c = char('0' + table.size());
        colours[c] = g == 20 ? Rgb{0, 60, 0} : Rgb{g, g, g};  // the dark stroke is as green as its background
        table.push_back(colours[c]);
        row += c;
    }
    const Rows in{row, row, row}, out{".#.....#.", ".#.....#.", ".#.....#."};
    for (int depth : {24, 8, 4}) {
        auto img = depth == 24 ? test::make24(in, colours) : test::makeIndexed(depth, in, table);
        ASSERT_EQ(run(*img, "adaptive-bw=3,0.2").stage, RunStage::Ran) << depth;
        EXPECT_EQ(test::lineArtRows(*img), out) << depth;
        // The device table, padding white: the form thinning reads back unchanged.
        EXPECT_EQ(std::tuple(img->bitCount(), img->tableSize(), img->tableColour(215), img->bits[9]),
                  std::tuple(8, 256, Rgb{255, 255, 255}, uint8_t(215))) << depth;
    }
    auto img = test::make24(in, colours);
    EXPECT_EQ(run(*img, "adaptive-bw=4").result.reason, "--adaptive-bw: the window must be odd, not 4");
}

// The same bytes on one thread (one sweep down the picture) or several (bands of rows, each
// starting its own sums), and for a picture cut anywhere: a crop's rows away from its cut edges
// come out as the whole picture's. Large enough to be shared between threads.
TEST(ScanCleanupTest, AdaptiveBlackWhiteIsTheSameOnAnyThreadsAndAnyCut) {
    std::mt19937 random(7);
    Rows rows(300, std::string(400, '0'));
    std::map<char, Rgb> colours;
    // Bright greys: a wide window's sum of squares passes 2^31.
    for (int g = 0; g < 10; ++g) colours[char('0' + g)] = Rgb{uint8_t(120 + 15 * g), uint8_t(120 + 15 * g), uint8_t(120 + 15 * g)};
    for (auto& r : rows)
        for (char& c : r) c = char('0' + random() % 10);
    auto runWith = [&](int threads, const Rows& in, const std::string& option = "adaptive-bw=5,0.3") {
        const int before = rowThreadLimit();
        rowThreadLimit() = threads;
        auto img = test::make24(in, colours);
        run(*img, option);
        rowThreadLimit() = before;
        return test::lineArtRows(*img);
    };
    const Rows one = runWith(1, rows);
    EXPECT_EQ(runWith(2, rows), one);
    EXPECT_EQ(runWith(8, rows), one);
    const Rows crop = runWith(2, Rows(rows.begin() + 100, rows.end()));
    EXPECT_EQ(Rows(crop.begin() + 2, crop.end()), Rows(one.begin() + 102, one.end()));
    // Turned a quarter, the sums along rows are taken down columns instead: the same answer, for
    // windows on either side of the widest summed four pixels at a time.
    const auto turn = [](const Rows& in) {
        Rows out(in[0].size(), std::string(in.size(), ' '));
        for (size_t y = 0; y < in.size(); ++y)
            for (size_t x = 0; x < in[y].size(); ++x) out[x][y] = in[y][x];
        return out;
    };
    for (const char* option : {"adaptive-bw=5,0.3", "adaptive-bw=31,0.5", "adaptive-bw=255,0.2", "adaptive-bw=257,0.2"})
        EXPECT_EQ(turn(runWith(2, turn(rows), option)), runWith(2, rows, option)) << option;
}

TEST(ScanCleanupTest, DespeckleRemovesSmallSpecksAndFillsSmallEnclosedHoles) {
    struct Case { const char* what; Rows in; int n; Rows out; };
    const Case cases[] = {
        {"a 3-pixel speck goes, a 4-pixel stroke stays",
         {"........", ".##.....", ".#..####", "........"}, 4,
         {"........", "........", "....####", "........"}},
        {"a diagonal is one 8-connected component",
         {"#...", ".#..", "..#.", "...#"}, 4, {"#...", ".#..", "..#.", "...#"}},
        {"an enclosed hole is filled; white at the edge stays",
         {"#.#..", "###..", "#.#..", "###.."}, 4, {"#.#..", "###..", "###..", "###.."}},
        {"diagonal white pixels are separate holes (4-connected)",
         {"#####", "#.###", "##.##", "#####"}, 2, {"#####", "#####", "#####", "#####"}},
        {"a ring's hole merges with the outside when the ring goes",
         {"......", ".###..", ".#.#..", ".###..", "......"}, 9,
         {"......", "......", "......", "......", "......"}},
        {"N = 1 keeps everything", {"#.", ".."}, 1, {"#.", ".."}},
    };
    for (const Case& c : cases) {
        auto img = test::makeLineArt(c.in);
        ASSERT_EQ(run(*img, "despeckle=" + std::to_string(c.n)).stage, RunStage::Ran) << c.what;
        EXPECT_EQ(test::lineArtRows(*img), c.out) << c.what;
    }
    // Black and white by colour, whatever the indices: a table of white then black.
    auto img = test::makeIndexed(8, {"1000", "0001"}, {{255, 255, 255}, {0, 0, 0}});
    ASSERT_EQ(run(*img, "despeckle=2").stage, RunStage::Ran);
    EXPECT_EQ(test::lineArtRows(*img), Rows({"....", "...."}));
}

}  // namespace
}  // namespace qel
