// Centre-line vectors from a thinned drawing: the one-pixel strokes become SVG
// paths. The stroke pixels (every pixel whose colour is not white) form a graph:
// ends (one neighbour) and junctions (three or more; touching junction pixels are
// one junction) are its nodes, the runs between them its edges, and rings
// without a node are closed paths. Each edge is a polyline kept within a
// tolerance of its pixels, or on request a chain of cubic Béziers; the edges of a
// junction meet at one shared point.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/image/dib_image.h"

namespace qel {

struct CentreLineOptions {
    // How far (in pixels) the polyline may pass from a pixel's square before a point is kept.
    double tolerance = 0.5;
    double strokeWidth = 1.0;
    // Red, green and blue (the marks of straightening and line tidy) stay as they are instead of black.
    bool keepColours = false;
    // Cubic Béziers instead of polylines, within the same tolerance: corners (ends, junctions and
    // sharp turns of the pixel chain) stay corners, consecutive Béziers elsewhere share their tangent.
    bool curves = false;
};

// Accepted ranges of the options, and why a value is refused (empty when it is fine).
inline constexpr double kMaxCentreLineTolerance = 100.0;
inline constexpr double kMaxCentreLineWidth = 1000.0;
std::string checkCentreLineOptions(const CentreLineOptions& options);

// What a trace found and wrote.
struct CentreLineStats {
    int64_t ends = 0;       // nodes with one edge
    int64_t junctions = 0;  // nodes with three or more edges (a cluster of junction pixels counts once)
    int64_t loops = 0;      // closed paths without a node
    int64_t dots = 0;       // pixels without a neighbour
    int64_t edges = 0;      // open paths written
    int64_t points = 0;     // path points written (Bézier control points not), dots and closing points included
};

// The SVG document of an 8-bit picture's strokes: pixel (x, y)'s centre is the point (x, y), the
// viewBox covers the picture's pixels, one <path> per stroke colour (sorted by colour). Refused for
// a picture that is not 8-bit with every row present, or for options out of range.
OpResult traceCentreLines(const DibImage& image, const CentreLineOptions& options, std::string& svg,
                          CentreLineStats* stats = nullptr);

// True for a file name ending in ".svg" (any case).
bool isSvgName(std::string_view path);

// Traces the picture and writes the SVG through a temporary file renamed over `path`. On failure
// nothing is written and `why` (when given) holds a short English reason.
ImageError saveCentreLineSvg(const DibImage& image, const std::string& path, const CentreLineOptions& options,
                             std::string* why = nullptr);

}  // namespace qel
