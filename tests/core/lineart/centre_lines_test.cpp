// Centre-line SVG: exact paths of tiny drawings, and on generated drawings the
// rendered SVG thinned again lies within one pixel of the skeleton, the path graph
// has the skeleton's ends, junctions and loops, and the document is valid.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>

#include "core/lineart/centre_lines.h"
#include "core/lineart/lineart.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::Rows;

std::string pathData(const std::string& svg) {
    std::string d;
    for (size_t at = 0; (at = svg.find(" d=\"", at)) != std::string::npos; at += 4) {
        if (!d.empty()) d += '|';
        d += svg.substr(at + 4, svg.find('"', at + 4) - at - 4);
    }
    return d;
}

constexpr CentreLineOptions kCurves{0.5, 1, false, true};

TEST(CentreLines, PathsOfTinyDrawings) {
    struct Case {
        const char* name;
        Rows rows;
        CentreLineOptions options;
        std::string d;  // path data, "|" between colours
    } cases[] = {
        {"a dot and a line", {"#.....", "......", ".####."}, {}, "m0 0h0m1 2 3 0"},
        {"a stair is one segment", {"##....", "..###.", ".....#"}, {}, "m0 0 5 2"},
        {"two segments drawn by straightening stay two, the corner within a pixel",  // (0,0)-(7,2)-(9,9)
         {"####......", "....###...", ".......#..", ".......#..", ".......#..", ".......#..", "........#.",
          "........#.", "........#.", ".........#"}, {}, "m0 0 6 1 3 8"},
        {"an L keeps its corner", {"#...", "#...", "###."}, {}, "m0 0 0 2 2 0"},
        {"a one-pixel bump is within 0.5", {"...#...", "###.###"}, {}, "m0 1 6 0"},
        {"tolerance 0 keeps it", {"...#...", "###.###"}, {0, 1, false}, "m0 1 3-1 3 1"},
        {"a T meets at one point", {"#####", "..#..", "..#.."}, {}, "m0 0 2 0m0 0 2 0m-2 0 0 2"},
        {"touching junction pixels meet at their mean", {"#..#", ".##.", "#..#"}, {},
         "m0 0 1.5 1m1.5-1-1.5 1m0 0-1.5 1m1.5-1 1.5 1"},
        {"a ring is closed", {".##.", "#..#", ".##."}, {}, "m1 0 2 1-2 1z"},
        {"marks turn black", {"r###b"}, {}, "m0 0 4 0"},
        {"marks kept", {"r###b"}, {0.5, 2, true}, "m1 0 3 0|m4 0h0|m0 0 1 0"},  // by colour: black, blue, red
        // Curves: a quarter circle of radius 10, an L, a ring, a junction of a line and an arc.
        {"curves: a quarter circle", {"..........#", "..........#", "..........#", "..........#", ".........#.", ".........#.",
                                     "........#..", ".......#...", "......#....", "....##.....", "####......."}, kCurves, "m10 0c0 5-5 10-10 10"},
        {"curves: an L keeps its corner", {"#....", "#....", "#....", "#....", "#####"}, kCurves, "m0 0 0 4 4 0"},
        {"curves: a ring is one closed curve", {"..###..", ".#...#.", "#.....#", "#.....#", "#.....#", ".#...#.", "..###.."}, kCurves,
         "m2 0c4-1 6 5 2 6s-6-5-2-6z"},  // mirrored handles at the join and where it closes
        {"curves: a junction", {"........", "#######.", "...#....", "...#....", "....#...", ".....##.", ".......#"}, kCurves,
         "m0 1 3 0 3 0m-3 0c-1 3 2 4 4 5"},  // the bar goes on through the junction without a moveto
        {"curves: a small hole", {"......#.", ".....#..", "....#.#.", "...#..#.", "...#.#..", "..#.#...", ".#..#...", ".###....", "#......."}, kCurves,
         "m6 0-1 1c-1 1-3 2-1.5 3.5 2 0 4-2 1.5-3.5m-1.5 3.5-2.5 2.5c1 0 4-1 2.5-2.5m-2.5 2.5-1 1"},  // its sides keep nearer their pixels
        {"curves: the nearest run comes next", {"####......####", "..............", "####.........."}, kCurves, "m0 0 3 0m0 2-3 0m10-2 3 0"},
    };
    for (const auto& c : cases) {
        auto img = test::makeLineArt(c.rows, {{'r', 180}, {'b', 5}});
        std::string svg;
        ASSERT_TRUE(traceCentreLines(*img, c.options, svg).isChanged()) << c.name;
        EXPECT_EQ(pathData(svg), c.d) << c.name;
    }
    std::string svg;
    traceCentreLines(*test::makeLineArt({"#."}), {0.5, 2.5, false}, svg);
    EXPECT_EQ(svg, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
                   "width=\"2\" height=\"1\" viewBox=\"-0.5 -0.5 2 1\">\n<path fill=\"none\" stroke=\"#000000\" "
                   "stroke-width=\"2.5\" stroke-linecap=\"round\" stroke-linejoin=\"round\" d=\"m0 0h0\"/>\n</svg>\n");
}

// ---- generated drawings: ink within `r` of a curve, thinned ----

using Curve = std::function<bool(double x, double y)>;
Curve segment(double x0, double y0, double x1, double y1, double r) {
    return [=](double x, double y) {
        const double dx = x1 - x0, dy = y1 - y0, t = std::clamp(((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        return std::hypot(x - x0 - t * dx, y - y0 - t * dy) <= r;
    };
}
Curve ring(double cx, double cy, double radius, double r) {
    return [=](double x, double y) { return std::abs(std::hypot(x - cx, y - cy) - radius) <= r; };
}
std::unique_ptr<DibImage> drawing(int w, int h, std::vector<Curve> curves) {
    Rows rows(h, std::string(w, '.'));
    for (int y = 2; y < h - 2; ++y)
        for (int x = 2; x < w - 2; ++x)
            for (const auto& c : curves) rows[y][x] = c(x, y) ? '#' : rows[y][x];
    auto img = test::makeLineArt(rows);
    thin(*img);
    return img;
}
struct Drawing {
    std::string name;
    std::unique_ptr<DibImage> image;
};
std::vector<Drawing> drawings() {
    std::vector<Drawing> d;
    for (int deg = 0; deg < 180; deg += 15) {
        const double a = deg * M_PI / 180;
        d.push_back({"line at " + std::to_string(deg), drawing(40, 40, {segment(20 - 15 * std::cos(a), 20 - 15 * std::sin(a), 20 + 15 * std::cos(a), 20 + 15 * std::sin(a), 1)})});
    }
    d.push_back({"circles", drawing(60, 40, {ring(15, 15, 10, 1), ring(42, 20, 14, 0.8)})});
    d.push_back({"crossings", drawing(40, 40, {segment(5, 5, 35, 35, 1), segment(5, 35, 35, 5, 1), segment(20, 3, 20, 37, 1)})});
    d.push_back({"touching junctions", drawing(26, 26, {segment(4, 4, 12, 12, 0), segment(13, 12, 21, 4, 0),
                                                        segment(12, 12, 4, 20, 0), segment(13, 12, 21, 20, 0)})});
    d.push_back({"T", drawing(30, 30, {segment(4, 6, 26, 6, 1), segment(15, 6, 15, 26, 1)})});
    d.push_back({"spiral", drawing(50, 50, {[](double x, double y) {
                     const double r = std::hypot(x - 25, y - 25), t = std::atan2(y - 25, x - 25) + M_PI;
                     for (int turn = 0; turn < 4; ++turn)
                         if (std::abs(r - 3.5 * (t + 2 * M_PI * turn) / M_PI) <= 1) return true;
                     return false;
                 }})});
    d.push_back({"loops", drawing(40, 30, {ring(10, 10, 5, 1), segment(20, 5, 34, 5, 0.6), segment(34, 5, 34, 24, 0.6),
                                           segment(34, 24, 20, 24, 0.6), segment(20, 24, 20, 5, 0.6)})});
    d.push_back({"dots and gaps", drawing(30, 12, {segment(3, 3, 3, 3, 0), segment(8, 3, 8, 3, 0), segment(3, 7, 12, 7, 0),
                                                   segment(14, 7, 26, 7, 0), segment(14, 3, 26, 5, 0.4)})});
    DibImage sample;
    EXPECT_NE(sample.loadFile(std::string(QEL_TEST_DATA) + "/../../samples/lineart.bmp"), nullptr);
    auto copy = std::make_unique<DibImage>(), straight = std::make_unique<DibImage>();
    copy->replace(sample.info, sample.bits);
    thin(*copy);
    straight->replace(copy->info, copy->bits);
    straighten(*straight, 10);
    d.push_back({"line-art sample", std::move(copy)});
    d.push_back({"line-art sample straightened", std::move(straight)});
    return d;
}

std::set<std::pair<int, int>> inkOf(const DibImage& img) {
    std::set<std::pair<int, int>> ink;
    for (int y = 0; y < img.header().biHeight; ++y)
        for (int x = 0; x < img.header().biWidth; ++x)
            if (!(img.colourAt(x, y) == Rgb{255, 255, 255})) ink.insert({x, y});
    return ink;
}

// Every point of `a` has one of `b` in its 8-neighbourhood.
int farPoints(const std::set<std::pair<int, int>>& a, const std::set<std::pair<int, int>>& b) {
    int far = 0;
    for (auto [x, y] : a) {
        bool near = false;
        for (int dy = -1; dy <= 1 && !near; ++dy)
            for (int dx = -1; dx <= 1 && !near; ++dx) near = b.count({x + dx, y + dy});
        far += !near;
    }
    return far;
}

TEST(CentreLines, RenderedSvgThinnedAgainLiesWithinOnePixel) {
    test::TempDir dir;
    for (const auto& d : drawings()) for (const CentreLineOptions& options : {CentreLineOptions{}, kCurves}) {
        std::string svg;
        ASSERT_TRUE(traceCentreLines(*d.image, options, svg).isChanged());
        ASSERT_TRUE(test::writeBytes(dir.file("a.svg"), std::vector<uint8_t>(svg.begin(), svg.end())));
        const std::string cmd = "rsvg-convert -b white -o " + dir.file("a.png") + " " + dir.file("a.svg");
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "rsvg-convert (librsvg2-bin) must open " << d.name;
        DibImage png;
        ASSERT_NE(png.loadFile(dir.file("a.png")), nullptr);
        Rows rows(png.header().biHeight, std::string(png.header().biWidth, '.'));
        for (int y = 0; y < int(rows.size()); ++y)
            for (int x = 0; x < int(rows[y].size()); ++x) {
                const Rgb c = png.colourAt(x, y);
                rows[y][x] = c.r + c.g + c.b < 3 * 128 ? '#' : '.';
            }
        auto again = test::makeLineArt(rows);
        thin(*again);
        const auto a = inkOf(*d.image), b = inkOf(*again);
        EXPECT_EQ(farPoints(a, b), 0) << d.name << options.curves << ": skeleton pixels far from the rendered SVG";
        EXPECT_EQ(farPoints(b, a), 0) << d.name << options.curves << ": rendered SVG pixels far from the skeleton";
    }
}

// Ends, junctions (touching junction pixels as one), loops and dots of a pixel skeleton; pixels touching
// at a corner are neighbours only when neither pixel beside the corner is ink.
std::map<std::string, int> skeletonCounts(const std::set<std::pair<int, int>>& ink) {
    auto in = [&](int x, int y) { return ink.count({x, y}) > 0; };
    auto next = [&](std::pair<int, int> p) {
        std::vector<std::pair<int, int>> n;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if ((dx || dy) && in(p.first + dx, p.second + dy) && (!dx || !dy || (!in(p.first + dx, p.second) && !in(p.first, p.second + dy))))
                    n.push_back({p.first + dx, p.second + dy});
        return n;
    };
    std::map<std::string, int> count{{"ends", 0}, {"junctions", 0}, {"loops", 0}, {"dots", 0}};
    std::set<std::pair<int, int>> seen;
    for (auto p : ink) {
        const size_t n = next(p).size();
        count["ends"] += n == 1;
        count["dots"] += n == 0;
        if (seen.count(p) || n == 0 || n == 1) continue;
        // The component of p among pixels of its kind (junction pixels, or run pixels).
        std::vector<std::pair<int, int>> todo{p};
        bool closed = true;
        seen.insert(p);
        while (!todo.empty()) {
            auto q = todo.back();
            todo.pop_back();
            for (auto r : next(q)) {
                closed &= next(r).size() == 2;
                if ((next(r).size() > 2) == (n > 2) && seen.insert(r).second) todo.push_back(r);
            }
        }
        count[n > 2 ? "junctions" : "loops"] += n > 2 || closed;
    }
    return count;
}

// The same counts from path data (subpaths "m x y" with relative pairs): dots are "h0" subpaths, loops
// closed ones; an end is a point where one open subpath ends, a junction one where three or more do.
std::map<std::string, int> pathCounts(const std::string& d) {
    std::map<std::string, int> count{{"ends", 0}, {"junctions", 0}, {"loops", 0}, {"dots", 0}};
    std::map<std::pair<long, long>, int> endsAt;
    const char* p = d.c_str();
    long x = 0, y = 0, sx = 0, sy = 0, pairs = 0;
    auto num = [&] { return std::lround(std::strtod(p, const_cast<char**>(&p)) * 100); };
    auto finish = [&] { if (pairs > 1) ++endsAt[{sx, sy}], ++endsAt[{x, y}]; pairs = 0; };
    while (*p) {
        if (*p == 'm') finish();
        if (*p == 'h') count["dots"]++, pairs = 0;
        if (*p == 'z') count["loops"]++, pairs = 0, x = sx, y = sy;
        if (std::isalpha(static_cast<unsigned char>(*p)) || *p == ' ') {
            p += *p == 'h' ? 2 : 1;
            continue;
        }
        x += num();
        y += num();
        if (++pairs == 1) sx = x, sy = y;
    }
    finish();
    for (const auto& [pt, n] : endsAt) count[n == 1 ? "ends" : n >= 3 ? "junctions" : "through"] += 1;
    count.erase("through");
    return count;
}

TEST(CentreLines, PathGraphHasTheSkeletonsEndsJunctionsAndLoops) {
    for (const auto& d : drawings()) {
        std::string svg;
        CentreLineStats stats;
        ASSERT_TRUE(traceCentreLines(*d.image, {}, svg, &stats).isChanged());
        const auto want = skeletonCounts(inkOf(*d.image));
        EXPECT_EQ(pathCounts(pathData(svg)), want) << d.name;
        EXPECT_EQ((std::map<std::string, int>{{"ends", int(stats.ends)}, {"junctions", int(stats.junctions)},
                                               {"loops", int(stats.loops)}, {"dots", int(stats.dots)}}), want) << d.name;
    }
}

TEST(CentreLines, DocumentsAreValidAndRepeatable) {
    test::TempDir dir;
    for (const auto& d : drawings()) for (const CentreLineOptions& options : {CentreLineOptions{}, kCurves}) {
        std::string svg, again;
        ASSERT_TRUE(traceCentreLines(*d.image, options, svg).isChanged());
        ASSERT_TRUE(traceCentreLines(*d.image, options, again).isChanged());
        EXPECT_EQ(svg, again) << d.name;
        ASSERT_TRUE(test::writeBytes(dir.file("a.svg"), std::vector<uint8_t>(svg.begin(), svg.end())));
        const std::string cmd = "xmllint --noout --relaxng " + std::string(QEL_TEST_DATA) + "/centre-lines.rng " +
                                dir.file("a.svg") + " 2>" + dir.file("log");
        EXPECT_EQ(std::system(cmd.c_str()), 0) << d.name << ": xmllint (libxml2-utils) refuses it";
    }
    // Refusals: not 8-bit, options out of range.
    std::string svg;
    EXPECT_TRUE(traceCentreLines(*test::make24({"#."}), {}, svg).isRefused());
    EXPECT_TRUE(traceCentreLines(*test::makeLineArt({"#."}), {-1, 1, false}, svg).isRefused());
    EXPECT_TRUE(traceCentreLines(*test::makeLineArt({"#."}), {0.5, 0, false}, svg).isRefused());
}

}  // namespace
}  // namespace qel
