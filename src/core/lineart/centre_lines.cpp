// Centre-line tracing of thinned drawings into SVG paths.
//
// The stroke pixels are copied into a plane with a one-pixel white border. Two
// stroke pixels are neighbours when they touch along a side, or at a corner when
// neither pixel beside that corner is a stroke pixel: a stair step or an L corner
// is then a run, not a triangle of three mutual neighbours. Each pixel's number
// of neighbours (0 to 4) makes it a dot, an end, a run pixel or a junction pixel.
//
// Edges are walked from every node in raster order, so the output depends on the
// picture alone. Points are kept in hundredths of a pixel as integers, so a
// junction's point is written identically by every edge that meets there and
// relative moves add up exactly.
#include "core/lineart/centre_lines.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <map>
#include <new>
#include <utility>
#include <vector>

#include "core/formats/file_io.h"
#include "core/lineart/lineart_detail.h"

namespace qel {

namespace {

using namespace lineart_detail;

constexpr uint8_t kStroke = 1;
constexpr uint8_t kSeen = 0x10;     // a run pixel already on a traced path
constexpr int kDegreeShift = 1;     // bits 1..3: the number of neighbours
constexpr uint32_t kNoNode = 0xFFFFFFFFu;

struct Point {
    int64_t x, y;     // hundredths of a pixel
    uint32_t colour;  // 0xRRGGBB
};

struct Node {
    int64_t x, y;  // hundredths
};

class Tracer {
public:
    Tracer(const DibImage& image, const CentreLineOptions& options) : options_(options) {
        const auto h = image.header();
        w_ = h.biWidth;
        h_ = h.biHeight;
        s_ = static_cast<size_t>(w_) + 2;
        // Stroke pixels and their colours by index; indices beyond the table read black.
        bool stroke[256];
        for (int i = 0; i < 256; ++i) {
            Rgb c = image.tableColour(i);
            stroke[i] = !(c == kWhite);
            if (!options.keepColours && (c == kRed || c == kGreen || c == kBlue)) c = kBlack;
            colourOf_[i] = uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
        }
        plane_.assign(s_ * (static_cast<size_t>(h_) + 2), 0);
        bits_ = image.bits.data();
        stride_ = static_cast<size_t>(strideFor(w_, 8));
        for (int y = 0; y < h_; ++y) {
            const uint8_t* src = bits_ + static_cast<size_t>(h_ - 1 - y) * stride_;
            uint8_t* dst = &plane_[(static_cast<size_t>(y) + 1) * s_ + 1];
            for (int x = 0; x < w_; ++x) dst[x] = stroke[src[x]] ? kStroke : 0;
        }
        offset_[0] = 1;
        offset_[1] = -static_cast<ptrdiff_t>(s_);
        offset_[2] = -1;
        offset_[3] = static_cast<ptrdiff_t>(s_);
    }

    void run(std::string& svg, CentreLineStats& stats) {
        classify();
        buildNodes(stats);
        traceEdges(stats);
        traceLoops(stats);
        writeDocument(svg);
        stats.points = points_;
    }

private:
    const CentreLineOptions& options_;
    int w_ = 0, h_ = 0;
    size_t s_ = 0;
    std::vector<uint8_t> plane_;  // kStroke, degree, kSeen
    const uint8_t* bits_ = nullptr;  // the picture's rows, bottom row first
    size_t stride_ = 0;
    uint32_t colourOf_[256];
    ptrdiff_t offset_[4];                       // right, up, left, down
    std::vector<uint32_t> nodePixels_;          // positions of dots, ends and junction pixels, ascending
    std::vector<uint32_t> nodeOfPixel_;         // node index of each entry of nodePixels_ (kNoNode for dots)
    std::vector<Node> nodes_;
    // Path data of one colour. Every subpath starts with a relative moveto (the first one from the origin)
    // whose further pairs are relative linetos: the shortest form of short polylines.
    struct PathData {
        std::string d;
        int64_t x = 0, y = 0;  // the current point
    };
    std::map<uint32_t, PathData> paths_;  // by colour
    int64_t points_ = 0;

    bool isStroke(size_t p) const { return plane_[p] & kStroke; }
    int degree(size_t p) const { return plane_[p] >> kDegreeShift & 7; }
    // The colour of plane position p.
    uint32_t colour(size_t p) const {
        const size_t x = p % s_ - 1, y = p / s_ - 1;
        return colourOf_[bits_[(static_cast<size_t>(h_) - 1 - y) * stride_ + x]];
    }
    Point pixelPoint(size_t p) const {
        return {static_cast<int64_t>(p % s_ - 1) * 100, static_cast<int64_t>(p / s_ - 1) * 100, colour(p)};
    }

    // The neighbours of stroke pixel p; returns their number.
    int neighbours(size_t p, size_t out[4]) const {
        int n = 0;
        bool side[4];
        for (int k = 0; k < 4; ++k) {
            side[k] = isStroke(p + offset_[k]);
            if (side[k]) out[n++] = p + offset_[k];
        }
        // Corners between sides k and k+1.
        for (int k = 0; k < 4; ++k) {
            const int k2 = (k + 1) & 3;
            if (side[k] || side[k2]) continue;
            const size_t q = p + offset_[k] + offset_[k2];
            if (isStroke(q)) out[n++] = q;
        }
        return n;
    }

    void classify() {
        size_t nb[4];
        for (int y = 1; y <= h_; ++y) {
            const size_t rowStart = static_cast<size_t>(y) * s_;
            for (size_t p = rowStart + 1; p <= rowStart + static_cast<size_t>(w_); ++p) {
                if (!(plane_[p] & kStroke)) continue;
                const int d = neighbours(p, nb);
                plane_[p] |= static_cast<uint8_t>(d << kDegreeShift);
                if (d != 2) nodePixels_.push_back(static_cast<uint32_t>(p));
            }
        }
    }

    uint32_t nodeAt(size_t p) const {
        const auto it = std::lower_bound(nodePixels_.begin(), nodePixels_.end(), static_cast<uint32_t>(p));
        if (it == nodePixels_.end() || *it != p) return kNoNode;
        return nodeOfPixel_[static_cast<size_t>(it - nodePixels_.begin())];
    }

    // Ends become nodes of their own; touching junction pixels one node at their mean position.
    void buildNodes(CentreLineStats& stats) {
        nodeOfPixel_.assign(nodePixels_.size(), kNoNode);
        std::vector<size_t> cluster;
        size_t nb[4];
        for (size_t i = 0; i < nodePixels_.size(); ++i) {
            const size_t p = nodePixels_[i];
            const int d = degree(p);
            if (d == 0) {
                ++stats.dots;
                writeDot(pixelPoint(p));
                continue;
            }
            if (nodeOfPixel_[i] != kNoNode) continue;
            const auto id = static_cast<uint32_t>(nodes_.size());
            if (d == 1) {
                ++stats.ends;
                nodeOfPixel_[i] = id;
                const Point pt = pixelPoint(p);
                nodes_.push_back({pt.x, pt.y});
                continue;
            }
            ++stats.junctions;
            nodeOfPixel_[i] = id;
            cluster.assign(1, p);
            int64_t sx = 0, sy = 0;
            for (size_t c = 0; c < cluster.size(); ++c) {
                const size_t q = cluster[c];
                sx += static_cast<int64_t>(q % s_ - 1);
                sy += static_cast<int64_t>(q / s_ - 1);
                const int n = neighbours(q, nb);
                for (int k = 0; k < n; ++k) {
                    if (degree(nb[k]) < 3) continue;
                    const auto it = std::lower_bound(nodePixels_.begin(), nodePixels_.end(), static_cast<uint32_t>(nb[k]));
                    uint32_t& owner = nodeOfPixel_[static_cast<size_t>(it - nodePixels_.begin())];
                    if (owner != kNoNode) continue;
                    owner = id;
                    cluster.push_back(nb[k]);
                }
            }
            const auto count = static_cast<int64_t>(cluster.size());
            nodes_.push_back({roundedDiv(sx * 100, count), roundedDiv(sy * 100, count)});
        }
    }

    static int64_t roundedDiv(int64_t a, int64_t b) { return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b); }

    Point nodePoint(uint32_t id, size_t pixel) const { return {nodes_[id].x, nodes_[id].y, colour(pixel)}; }

    void traceEdges(CentreLineStats& stats) {
        size_t nb[4], nb2[4];
        std::vector<Point> chain;
        for (size_t i = 0; i < nodePixels_.size(); ++i) {
            const size_t a = nodePixels_[i];
            const uint32_t na = nodeOfPixel_[i];
            if (na == kNoNode) continue;
            const int n = neighbours(a, nb);
            for (int k = 0; k < n; ++k) {
                size_t prev = a, cur = nb[k];
                if (degree(cur) != 2) {
                    const uint32_t nc = nodeAt(cur);
                    if (nc <= na) continue;  // the same junction, or written from the other node
                    chain = {nodePoint(na, a), nodePoint(nc, cur)};
                    emit(chain, false);
                    ++stats.edges;
                    continue;
                }
                if (plane_[cur] & kSeen) continue;  // walked from its other end
                chain.assign(1, nodePoint(na, a));
                while (degree(cur) == 2 && !(plane_[cur] & kSeen)) {
                    plane_[cur] |= kSeen;
                    chain.push_back(pixelPoint(cur));
                    neighbours(cur, nb2);
                    const size_t next = nb2[0] == prev ? nb2[1] : nb2[0];
                    prev = cur;
                    cur = next;
                }
                if (degree(cur) != 2) chain.push_back(nodePoint(nodeAt(cur), cur));
                emit(chain, false);
                ++stats.edges;
            }
        }
    }

    // Rings of run pixels left after the edges: closed paths from their first pixel in raster order.
    void traceLoops(CentreLineStats& stats) {
        size_t nb[4];
        std::vector<Point> chain;
        for (int y = 1; y <= h_; ++y) {
            const size_t rowStart = static_cast<size_t>(y) * s_;
            for (size_t p = rowStart + 1; p <= rowStart + static_cast<size_t>(w_); ++p) {
                if ((plane_[p] & (kStroke | kSeen)) != kStroke || degree(p) != 2) continue;
                chain.clear();
                size_t prev = p, cur = p;
                do {
                    plane_[cur] |= kSeen;
                    chain.push_back(pixelPoint(cur));
                    neighbours(cur, nb);
                    const size_t next = (nb[0] == prev && cur != p) ? nb[1] : nb[0];
                    prev = cur;
                    cur = next;
                } while (cur != p && degree(cur) == 2 && !(plane_[cur] & kSeen));
                chain.push_back(cur == p ? chain.front() : pixelPoint(cur));
                ++stats.loops;
                emit(chain, cur == p);
            }
        }
    }

    // Distance in pixels from the square of pixel point c to the segment a-b.
    static double excess(const Point& a, const Point& b, const Point& c) {
        const double ax = a.x / 100.0, ay = a.y / 100.0, bx = b.x / 100.0, by = b.y / 100.0;
        const double cx = c.x / 100.0, cy = c.y / 100.0;
        auto toSquare = [&](double px, double py) {
            const double ex = std::max(std::abs(px - cx) - 0.5, 0.0), ey = std::max(std::abs(py - cy) - 0.5, 0.0);
            return std::hypot(ex, ey);
        };
        const double dx = bx - ax, dy = by - ay, l2 = dx * dx + dy * dy;
        if (l2 == 0) return toSquare(ax, ay);
        const double t = ((cx - ax) * dx + (cy - ay) * dy) / l2;
        if (t < 0) return toSquare(ax, ay);
        if (t > 1) return toSquare(bx, by);
        const double l = std::sqrt(l2), nx = -dy / l, ny = dx / l;
        return std::max(std::abs(nx * (cx - ax) + ny * (cy - ay)) - 0.5 * (std::abs(nx) + std::abs(ny)), 0.0);
    }

    // Keeps the points of chain[first..last] a polyline needs to pass within the tolerance of every
    // pixel: the point farthest from the chord is kept and both halves are looked at again.
    void simplify(const std::vector<Point>& chain, size_t first, size_t last, std::vector<uint8_t>& keep) const {
        keep[first] = keep[last] = 1;
        std::vector<std::pair<size_t, size_t>> stack{{first, last}};
        while (!stack.empty()) {
            const auto [i, j] = stack.back();
            stack.pop_back();
            if (j - i < 2) continue;
            double worst = -1;
            size_t at = i;
            for (size_t k = i + 1; k < j; ++k) {
                const double e = excess(chain[i], chain[j], chain[k]);
                if (e > worst) {
                    worst = e;
                    at = k;
                }
            }
            if (worst <= options_.tolerance) continue;
            keep[at] = 1;
            stack.push_back({at, j});
            stack.push_back({i, at});
        }
    }

    // Writes a chain as paths of its colours: each run of one colour, with the first point of the
    // next run as its last, is one subpath; a closed chain of one colour is a closed subpath.
    void emit(const std::vector<Point>& chain, bool closed) {
        const size_t n = chain.size();
        std::vector<uint8_t> keep(n, 0);
        size_t a = 0;
        while (a < n) {
            size_t b = a;
            while (b + 1 < n && chain[b + 1].colour == chain[a].colour) ++b;
            const size_t end = b + 1 < n ? b + 1 : b;
            if (end == a) {
                writeDot(chain[a]);
            } else {
                simplify(chain, a, end, keep);
                writeRun(chain, a, end, keep, closed && a == 0 && b + 1 == n);
            }
            a = b + 1;
        }
    }

    static void number(std::string& d, int64_t v) {
        if (v < 0) {
            d += '-';
            v = -v;
        }
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, v / 100);
        d.append(buf, r.ptr);
        if (const int64_t frac = v % 100) {
            d += '.';
            d += static_cast<char>('0' + frac / 10);
            if (frac % 10) d += static_cast<char>('0' + frac % 10);
        }
    }
    // A number after another: a space unless the minus sign separates them.
    static void nextNumber(std::string& d, int64_t v) {
        if (v >= 0) d += ' ';
        number(d, v);
    }

    void moveTo(PathData& path, const Point& p) {
        path.d += 'm';
        number(path.d, p.x - path.x);
        nextNumber(path.d, p.y - path.y);
        path.x = p.x;
        path.y = p.y;
        ++points_;
    }

    void writeDot(const Point& p) {
        PathData& path = paths_[p.colour];
        moveTo(path, p);
        path.d += "h0";
    }

    void writeRun(const std::vector<Point>& chain, size_t first, size_t last, const std::vector<uint8_t>& keep,
                  bool closed) {
        PathData& path = paths_[chain[first].colour];
        moveTo(path, chain[first]);
        const Point start = chain[first];
        bool any = false;
        const size_t stop = closed ? last - 1 : last;  // a closed path ends on "z" instead of its first point
        for (size_t k = first + 1; k <= stop; ++k) {
            if (!keep[k]) continue;
            nextNumber(path.d, chain[k].x - path.x);
            nextNumber(path.d, chain[k].y - path.y);
            path.x = chain[k].x;
            path.y = chain[k].y;
            any = true;
            ++points_;
        }
        if (!any) {  // a closed ring simplified to its one point
            path.d += " 0 0";
            ++points_;
        }
        if (closed) {
            path.d += 'z';
            path.x = start.x;
            path.y = start.y;
            ++points_;
        }
    }

    void writeDocument(std::string& svg) {
        std::string width, height, strokeWidth;
        number(width, int64_t(w_) * 100);
        number(height, int64_t(h_) * 100);
        number(strokeWidth, std::llround(options_.strokeWidth * 100));
        svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + width + "\" height=\"" + height +
              "\" viewBox=\"-0.5 -0.5 " + width + " " + height + "\">\n";
        for (const auto& [colour, path] : paths_) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "#%06x", colour);
            svg += "<path fill=\"none\" stroke=\"";
            svg += hex;
            svg += "\" stroke-width=\"" + strokeWidth +
                   "\" stroke-linecap=\"round\" stroke-linejoin=\"round\" d=\"" + path.d + "\"/>\n";
        }
        svg += "</svg>\n";
    }
};

}  // namespace

std::string checkCentreLineOptions(const CentreLineOptions& options) {
    if (!(options.tolerance >= 0 && options.tolerance <= kMaxCentreLineTolerance))
        return "the tolerance must be from 0 to 100 pixels";
    if (!(options.strokeWidth > 0 && options.strokeWidth <= kMaxCentreLineWidth))
        return "the stroke width must be above 0 and at most 1000";
    if (std::llround(options.strokeWidth * 100) < 1) return "the stroke width must be at least 0.01";
    return {};
}

OpResult traceCentreLines(const DibImage& image, const CentreLineOptions& options, std::string& svg,
                          CentreLineStats* stats) {
    if (!image.hasBlocks()) return OpResult::refused(kNoPixelRows);
    const auto h = image.header();
    if (h.biBitCount != 8 || h.biWidth <= 0 || h.biHeight <= 0 || h.biCompression != 0) return OpResult::refused(kNeeds8Bit);
    if (strideFor(h.biWidth, 8) * h.biHeight > static_cast<int64_t>(image.bits.size())) return OpResult::refused(kNeedsRows8);
    if (const std::string why = checkCentreLineOptions(options); !why.empty()) return OpResult::refused(why);
    CentreLineStats local;
    Tracer tracer(image, options);
    tracer.run(svg, stats ? *stats : local);
    return OpResult::changed();
}

bool isSvgName(std::string_view path) {
    if (path.size() < 4) return false;
    const std::string_view ext = path.substr(path.size() - 4);
    return ext[0] == '.' && (ext[1] | 0x20) == 's' && (ext[2] | 0x20) == 'v' && (ext[3] | 0x20) == 'g';
}

ImageError saveCentreLineSvg(const DibImage& image, const std::string& path, const CentreLineOptions& options,
                             std::string* why) {
    std::string svg;
    OpResult r;
    try {
        r = traceCentreLines(image, options, svg);
    } catch (const std::bad_alloc&) {
        r = OpResult::refused("not enough memory to trace the strokes");
    }
    if (r.isRefused()) {
        if (why) *why = r.reason;
        return image.info.empty() ? ImageError::NoPicture : ImageError::Unsupported;
    }
    if (!writeFileAtomically(path, svg)) {
        if (why) why->clear();
        return ImageError::WriteFailed;
    }
    return ImageError::None;
}

}  // namespace qel
