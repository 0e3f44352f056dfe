// Thinning: small drawings with exact results, and a literal pass-by-pass
// reference compared with the filter on random drawings.
#include <gtest/gtest.h>

#include <random>

#include "core/lineart/lineart.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::Rows;

// The filter written out step by step: marks hold the pass number in a plane of
// their own, every pass visits every pixel. Returns the rows ('#' black, '.'
// white) and the number of passes run.
struct Reference {
    Rows rows;
    int passes = 0;
};
Reference referenceThin(const Rows& in) {
    const int h = static_cast<int>(in.size()), w = static_cast<int>(in[0].size());
    constexpr int kBg = 0, kBk = 1;  // marks are pass numbers from 100 up
    std::vector<std::vector<int>> p(h, std::vector<int>(w, kBg));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p[y][x] = in[y][x] == '#' ? kBk : kBg;
    const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1}, dy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
    auto conn = [](std::array<int, 9> s) {
        int n = 0;
        for (int k = 0; k < 8; k += 2)
            if (!s[k] && (s[k + 1] || s[k + 2])) ++n;
        return n;
    };
    Reference r;
    for (int mark = 100;; ++mark) {
        ++r.passes;
        int deleted = 0;
        for (int y = 1; y < h - 1; ++y)
            for (int x = 1; x < w - 1; ++x) {
                if (p[y][x] != kBk) continue;
                std::array<int, 9> a{}, c{};
                for (int k = 0; k < 8; ++k) {
                    const int v = p[y + dy[k]][x + dx[k]];
                    a[k] = v == kBk || v == mark;
                    c[k] = v == kBk;
                }
                a[8] = a[0];
                c[8] = c[0];
                if (a[0] && a[2] && a[4] && a[6]) continue;
                int na = 0, nc = 0;
                for (int k = 0; k < 8; ++k) na += a[k], nc += c[k];
                if (na < 2 || nc < 1) continue;
                if (conn(a) != 1) continue;
                if (p[y - 1][x] == mark) {
                    auto t = a;
                    t[2] = 0;
                    if (conn(t) != 1) continue;
                }
                if (p[y][x - 1] == mark) {
                    auto t = a;
                    t[4] = 0;
                    if (conn(t) != 1) continue;
                }
                p[y][x] = mark;
                ++deleted;
            }
        if (!deleted) break;
    }
    for (int y = 0; y < h; ++y) {
        std::string s;
        for (int x = 0; x < w; ++x) s += p[y][x] == kBk ? '#' : '.';
        r.rows.push_back(s);
    }
    return r;
}

Rows thinned(const Rows& in, const std::map<char, int>& indices = {}) {
    auto img = test::makeLineArt(in, indices);
    thin(*img);
    return test::lineArtRows(*img);
}

struct Case {
    const char* name;
    Rows in, out;
};

TEST(Thin, SmallDrawingsGiveExactStrokes) {
    const Case cases[] = {
        {"one-pixel strokes are kept: horizontal, vertical, 45 degrees",
         {".........", ".#####...", ".......#.", ".#....#..", ".#...#...", ".#..#....", "........."},
         {".........", ".#####...", ".......#.", ".#....#..", ".#...#...", ".#..#....", "........."}},
        {"the corner of a four-connected step goes, leaving a diagonal step",
         {".........", ".####....", "....####.", "........."},
         {".........", ".###.....", "....####.", "........."}},
        {"isolated pixels and the ends of a short stroke stay",
         {".......", ".#...#.", "...#...", ".......", ".##....", "......."},
         {".......", ".#...#.", "...#...", ".......", ".##....", "......."}},
        {"a two-pixel stroke becomes one pixel wide without a break",
         {"..........", ".########.", ".########.", ".........."},
         {"..........", "..........", "..######..", ".........."}},
        {"a solid square wears down to one pixel",
         {"........", "..####..", "..####..", "..####..", "..####..", "........"},
         {"........", "........", "........", "....#...", "........", "........"}},
        {"black on the outermost rows and columns is never examined",
         {"####", "#..#", "####"},
         {"####", "#..#", "####"}},
        {"a picture lower than three rows is only whitened",
         {"##g##", "##.##"},
         {"##.##", "##.##"}},
        {"grey pixels count as background and come out white",
         {".......", ".ggggg.", ".#####.", ".ggggg.", "......."},
         {".......", ".......", ".#####.", ".......", "......."}},
    };
    for (const auto& c : cases) EXPECT_EQ(thinned(c.in, {{'g', 230}}), c.out) << c.name;
}

TEST(Thin, ColourIndexEqualToAPassMarkIsPlainBackground) {
    // Index 100 is the first pass's mark value; a pixel of that colour must not
    // count as deleted. The result equals the one with white in its place.
    const Rows withMarkColour = {"........", ".m......", ".#####..", ".....m..", "..m.....", "........"};
    Rows withWhite = withMarkColour;
    for (auto& row : withWhite)
        for (auto& ch : row)
            if (ch == 'm') ch = '.';
    EXPECT_EQ(thinned(withMarkColour, {{'m', 100}}), thinned(withWhite));
}

TEST(Thin, EveryByteEndsBlackOrWhiteIncludingRowPadding) {
    auto img = test::makeLineArt({"......", ".##r#.", ".####.", "......"}, {{'r', 180}});
    std::fill(img->bits.begin(), img->bits.end(), uint8_t(77));  // padding and pixels of another colour
    img->rowFromTop(1)[2] = 0;
    img->rowFromTop(2)[2] = 0;
    img->rebuildDisplay();
    thin(*img);
    for (uint8_t b : img->bits) EXPECT_TRUE(b == kDeviceBlack || b == kDeviceWhite) << int(b);
}

TEST(Thin, LeavesOtherDepthsUnchanged) {
    auto img = test::make24({"....", ".##.", ".##.", "...."});
    const auto info = img->info;
        const auto bits = img->bits;
    EXPECT_EQ(thin(*img).status, OpStatus::Refused);
    EXPECT_EQ(img->info, info);
    EXPECT_EQ(img->bits, bits);
}

TEST(Thin, RereadsThroughTheDeviceTable) {
    auto img = test::makeIndexed(8, {"....", ".11.", ".11.", "...."}, {{255, 255, 255}, {0, 0, 0}}, {{'.', 0}}, true);
    thin(*img);
    EXPECT_EQ(img->header().biClrUsed, 256u);
    EXPECT_EQ(img->infoSize(), 40 + 4 * 256);
    EXPECT_EQ(test::lineArtRows(*img), (Rows{"....", "....", "..#.", "...."}));
}

Rows randomDrawing(std::mt19937& rng, int w, int h) {
    Rows rows(h, std::string(w, '.'));
    std::uniform_int_distribution<int> coin(0, 99);
    const int kind = coin(rng) % 3;
    if (kind == 0) {  // noise of varying density
        const int density = 20 + coin(rng) % 60;
        for (auto& r : rows)
            for (auto& ch : r) ch = coin(rng) < density ? '#' : '.';
    } else {  // thick strokes and blobs
        const int strokes = 1 + coin(rng) % 6;
        for (int s = 0; s < strokes; ++s) {
            double x = coin(rng) % w, y = coin(rng) % h;
            const double ang = coin(rng) * 0.0628, len = 3 + coin(rng) % (w + h);
            const int width = 1 + coin(rng) % (kind == 1 ? 4 : 9);
            for (int t = 0; t < len; ++t, x += std::cos(ang), y += std::sin(ang))
                for (int oy = 0; oy < width; ++oy)
                    for (int ox = 0; ox < width; ++ox) {
                        const int px = int(x) + ox, py = int(y) + oy;
                        if (px >= 0 && px < w && py >= 0 && py < h) rows[py][px] = '#';
                    }
        }
    }
    return rows;
}

TEST(Thin, MatchesTheStepByStepReferenceOnRandomDrawings) {
    std::mt19937 rng(20240611);
    for (int n = 0; n < 300; ++n) {
        const int w = 1 + static_cast<int>(rng() % 48), h = 1 + static_cast<int>(rng() % 40);
        const Rows in = randomDrawing(rng, w, h);
        ASSERT_EQ(thinned(in), referenceThin(in).rows) << "drawing " << n << " (" << w << "x" << h << ")";
    }
}

TEST(Thin, SolidBlockNeedingMoreThan156PassesMatchesReference) {
    Rows in(330, std::string(340, '.'));
    for (int y = 1; y < 329; ++y)
        for (int x = 1; x < 339; ++x) in[y][x] = '#';
    const auto ref = referenceThin(in);
    ASSERT_GT(ref.passes, 157);
    EXPECT_EQ(thinned(in), ref.rows);
}

}  // namespace
}  // namespace qel
