// Feeds random drawings, thinned or as they are, to the centre-line tracer. The first four bytes
// give the size, the tolerance and flags (thin first, keep colours, colour indices, curves); the
// rest are the pixels (one bit each, or colour indices).
// Checks: every trace is accepted and repeatable, the document is complete, its path points lie
// on the picture, and their number is the one the trace reports.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/lineart/centre_lines.h"
#include "core/lineart/lineart.h"
#include "verbose.h"

namespace {

// The device table: a 6 x 6 x 6 colour cube (0 black, 215 white), the rest grey.
std::vector<uint8_t> deviceInfo(int w, int h) {
    const auto stride = qel::strideFor(w, 8);
    auto info = qel::makeInfoBlock(qel::newHeader(w, h, 8, 256, static_cast<uint32_t>(stride * h)), 256);
    for (int i = 0; i < 216; ++i) {
        uint8_t* e = info.data() + qel::kHeaderSize + 4 * i;
        e[2] = static_cast<uint8_t>(i / 36 * 51), e[1] = static_cast<uint8_t>(i / 6 % 6 * 51), e[0] = static_cast<uint8_t>(i % 6 * 51);
    }
    return info;
}

// Counts the path points and checks they lie on the picture (a Bézier's control points may lie
// beyond it); false on anything unexpected.
bool pointsOnPicture(const std::string& svg, int w, int h, int64_t& points) {
    for (size_t at = 0; (at = svg.find(" d=\"", at)) != std::string::npos;) {
        const char* p = svg.c_str() + at + 4;
        double x = 0, y = 0, sx = 0, sy = 0;  // the current point and the subpath's first
        bool pending = false;                 // a moveto whose pair is still to come
        int pairs = 1, pair = 0;              // pairs per segment of the command (l 1, c 3, s 2), and this one's
        while (*p != '"') {
            if (*p == 'm' || *p == 'h' || *p == 'z') {
                if (*p == 'z') ++points, x = sx, y = sy;
                pending = *p == 'm';
                pairs = 1;
                if (*p++ == 'h' && *p++ != '0') return false;
                continue;
            }
            if (*p == 'l' || *p == 'c' || *p == 's') {
                pairs = *p == 'c' ? 3 : *p == 's' ? 2 : 1;
                pair = 0;
                ++p;
                continue;
            }
            if (*p == ' ') {
                ++p;
                continue;
            }
            char* end = nullptr;
            const double a = std::strtod(p, &end);
            if (end == p || *end == '"') return false;
            const double b = std::strtod(end, &end);
            p = end;
            if (!pending && ++pair < pairs) continue;  // a control point
            pair = 0;
            x += a, y += b;
            if (pending) sx = x, sy = y;
            pending = false;
            ++points;
            if (x < -0.005 || y < -0.005 || x > w - 1 + 0.005 || y > h - 1 + 0.005) return false;
        }
        at = static_cast<size_t>(p - svg.c_str());
    }
    return svg.size() > 7 && svg.compare(svg.size() - 7, 7, "</svg>\n") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int w = data[0] % 64 + 1, h = data[1] % 64 + 1;
    qel::CentreLineOptions options;
    options.tolerance = data[2] % 31 / 10.0;
    options.keepColours = data[3] & 2;
    options.curves = data[3] & 8;
    const bool thinFirst = data[3] & 1, indices = data[3] & 4;
    data += 4;
    size -= 4;
    const auto stride = qel::strideFor(w, 8);
    qel::PixelBytes bits(static_cast<size_t>(stride * h), 215);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            uint8_t v = 215;
            if (indices) v = i < size ? data[i] : 215;
            else if (i / 8 < size && (data[i / 8] >> (i % 8) & 1)) v = 0;
            bits[static_cast<size_t>((h - 1 - y) * stride + x)] = v;
        }
    qel::DibImage image;
    image.replace(deviceInfo(w, h), std::move(bits));
    if (thinFirst) qel::fuzz::sayWhy("thin refused", qel::thin(image).reason);

    std::string svg, again;
    qel::CentreLineStats stats;
    if (!qel::traceCentreLines(image, options, svg, &stats).isChanged()) std::abort();
    if (!qel::traceCentreLines(image, options, again).isChanged() || again != svg) std::abort();
    int64_t points = 0;
    const bool onPicture = pointsOnPicture(svg, w, h, points);
    qel::fuzz::sayWhy("svg", svg);
    if (!onPicture || points != stats.points) std::abort();
    if (stats.ends < 0 || stats.junctions < 0 || stats.loops < 0 || stats.dots < 0) std::abort();
    return 0;
}
