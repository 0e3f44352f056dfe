// Colour counting at 6 bits per channel and reduction of a 24-bit picture to at
// most 256 colours. The reduction shares 256 slots among the 512 coarse cells of
// the colour cube by pixel weight and colour variety, fills each cell's slots
// from its dominant colour, its dense spots and fixed points, then maps every
// pixel to the nearest representative of its own cell (or of the first occupied
// cell around it).
#include "core/colour/reduction.h"

#include <algorithm>
#include <array>

#include "core/image/parallel_rows.h"

namespace qel {

namespace {

constexpr int kCells = kCoarseCells;
constexpr int kSlots = 256;
constexpr int kMaxPerCell = kMaxRepresentatives;

constexpr int fineIndex(int r6, int g6, int b6) { return (r6 * 64 + g6) * 64 + b6; }
constexpr int fineIndexOf(Rgb c) { return fineIndex(c.r >> 2, c.g >> 2, c.b >> 2); }
constexpr int cellIndex(int r3, int g3, int b3) { return (r3 * 8 + g3) * 8 + b3; }
constexpr int expand6(int v) { return 4 * v + (v >> 4); }

}  // namespace

int32_t countColours(DibImage& image) {
    const auto hd = image.header();
    if (hd.biBitCount == 1) return 2;
    image.histogram.assign(kHistogramCells, 0);
    auto& hist = image.histogram;
    if (image.pixelRowsPresent()) {
        const int64_t w = hd.biWidth, h = hd.biHeight;
        const int64_t stride = strideFor(w, hd.biBitCount);
        const uint8_t* bits = image.bits.data();
        if (hd.biBitCount == 24) {
            for (int64_t row = h - 1; row >= 0; --row) {
                const uint8_t* p = bits + row * stride;
                for (int64_t x = 0; x < w; ++x, p += 3) ++hist[fineIndex(p[2] >> 2, p[1] >> 2, p[0] >> 2)];
            }
        } else if (hd.biBitCount == 8 || hd.biBitCount == 4) {
            std::array<int, 256> fine;
            for (int i = 0; i < 256; ++i) fine[i] = fineIndexOf(image.tableColour(i));
            for (int64_t row = h - 1; row >= 0; --row) {
                const uint8_t* p = bits + row * stride;
                if (hd.biBitCount == 8) {
                    for (int64_t x = 0; x < w; ++x) ++hist[fine[p[x]]];
                } else {
                    for (int64_t x = 0; x < w; ++x) ++hist[fine[(x & 1) ? (p[x >> 1] & 0x0F) : (p[x >> 1] >> 4)]];
                }
            }
        }
    }
    image.colourCount = static_cast<int32_t>(std::count_if(hist.begin(), hist.end(), [](int32_t n) { return n != 0; }));
    return image.colourCount;
}

ReductionPalette chooseRepresentatives(const std::vector<int32_t>& histogram, int32_t colourTotal, int64_t pixelBytes) {
    ReductionPalette result;
    if (histogram.size() < static_cast<size_t>(kHistogramCells) || colourTotal <= 0) return result;
    const auto hist = [&histogram](int fine) { return static_cast<uint32_t>(histogram[fine]); };

    // Pixels and distinct fine colours per coarse cell.
    std::array<uint32_t, kCells> cellTotal{};
    std::array<int32_t, kCells> variety{};
    for (int fine = 0; fine < kHistogramCells; ++fine) {
        const int cell = cellIndex(fine >> 15, (fine >> 9) & 7, (fine >> 3) & 7);
        cellTotal[cell] += hist(fine);
        if (hist(fine) != 0) ++variety[cell];
    }

    // A slot for every cell holding more than 2 % of the pixel block's bytes.
    std::array<int32_t, kCells> allocation{};
    const double largeLimit = 0.02 * static_cast<double>(pixelBytes);
    int32_t largeCells = 0;
    for (int c = 0; c < kCells; ++c)
        if (static_cast<double>(cellTotal[c]) > largeLimit) {
            allocation[c] = 1;
            ++largeCells;
        }
    // The other slots in proportion to variety, at most 5 a cell.
    for (int c = 0; c < kCells; ++c) {
        allocation[c] += static_cast<int32_t>(int64_t(variety[c]) * (kSlots - largeCells) / colourTotal);
        allocation[c] = std::min(allocation[c], kMaxPerCell);
    }
    // Slots left over go to occupied cells without one, low blue first.
    int32_t given = 0;
    for (int32_t a : allocation) given += a;
    if (given <= kSlots) {
        int32_t spare = kSlots - given;
        for (int b3 = 0; b3 < 8; ++b3)
            for (int r3 = 0; r3 < 8; ++r3)
                for (int g3 = 0; g3 < 8; ++g3) {
                    const int c = cellIndex(r3, g3, b3);
                    if (allocation[c] == 0 && variety[c] != 0 && spare > 0) {
                        allocation[c] = 1;
                        --spare;
                    }
                }
    }

    for (int c = 0; c < kCells; ++c) {
        result.count[c] = std::max(0, std::min(allocation[c], kMaxPerCell));
        if (allocation[c] <= 0) continue;
        const int r3 = c >> 6, g3 = (c >> 3) & 7, b3 = c & 7;
        const auto at = [&](int ro, int go, int bo) { return hist(fineIndex(8 * r3 + ro, 8 * g3 + go, 8 * b3 + bo)); };
        int left = result.count[c];
        int filled = 0;
        const auto pick = [&](int ro, int go, int bo) {
            result.colours[c][filled++] = Rgb{static_cast<uint8_t>(8 * r3 + ro), static_cast<uint8_t>(8 * g3 + go),
                                              static_cast<uint8_t>(8 * b3 + bo)};
            --left;
        };

        // Dominant colour: the first holding more than 40 % of the cell's pixels.
        const double dominantLimit = 0.4 * static_cast<double>(cellTotal[c]);
        bool found = false;
        for (int ro = 0; ro < 8 && !found; ++ro)
            for (int go = 0; go < 8 && !found; ++go)
                for (int bo = 0; bo < 8 && !found; ++bo)
                    if (static_cast<double>(at(ro, go, bo)) > dominantLimit) {
                        pick(ro, go, bo);
                        found = true;
                    }

        // Dense spots: inner offsets with more than 4 occupied neighbours (3x3x3, itself
        // included). After a pick the scan moves one step further on every axis.
        int tally[8][8][8] = {};
        for (int ro = 1; ro <= 6; ++ro)
            for (int go = 1; go <= 6; ++go)
                for (int bo = 1; bo <= 6; ++bo) {
                    int n = 0;
                    for (int dr = -1; dr <= 1; ++dr)
                        for (int dg = -1; dg <= 1; ++dg)
                            for (int db = -1; db <= 1; ++db)
                                if (at(ro + dr, go + dg, bo + db) != 0) ++n;
                    tally[ro][go][bo] = n;
                }
        for (int bo = 0; bo < 8; ++bo)
            for (int ro = 0; ro < 8; ++ro)
                for (int go = 0; go < 8; ++go)
                    if (tally[ro][go][bo] > 4 && left > 0) {
                        // A pick needs every offset in 1..6, so the advanced counters stay in 0..7.
                        pick(ro, go, bo);
                        ++bo;
                        ++ro;
                        ++go;
                    }

        // Fixed points for whatever is left.
        static constexpr int kFixed[5][3] = {{4, 4, 4}, {0, 0, 0}, {0, 4, 0}, {4, 0, 0}, {4, 4, 0}};
        for (int i = 0; i < 5 && left > 0; ++i) pick(kFixed[i][0], kFixed[i][1], kFixed[i][2]);

        for (int i = 0; i < result.count[c]; ++i) {
            Rgb& e = result.colours[c][i];
            e = Rgb{static_cast<uint8_t>(expand6(e.r)), static_cast<uint8_t>(expand6(e.g)), static_cast<uint8_t>(expand6(e.b))};
        }
    }
    return result;
}

OpResult reduceColours(DibImage& image) {
    if (!image.hasBlocks()) return OpResult::refused(kNoPicture);
    const auto hd = image.header();
    if (hd.biBitCount != 24) return OpResult::refused(kNeeds24Bit);
    const int32_t colourTotal = countColours(image);
    if (colourTotal == 0) return OpResult::refused(kNoPixelRows);
    const ReductionPalette palette = chooseRepresentatives(image.histogram, colourTotal, image.bitsSize());
    const auto& repCount = palette.count;

    // The cell each cell's pixels take their colours from: itself when it has
    // representatives, else the first occupied cell met searching outward cube by cube.
    std::array<int, kCells> source;
    for (int c = 0; c < kCells; ++c) {
        source[c] = -1;
        if (repCount[c] > 0) {
            source[c] = c;
            continue;
        }
        const int r3 = c >> 6, g3 = (c >> 3) & 7, b3 = c & 7;
        for (int d = 1; d < 8 && source[c] < 0; ++d)
            for (int db = -d; db <= d && source[c] < 0; ++db)
                for (int dr = -d; dr <= d && source[c] < 0; ++dr)
                    for (int dg = -d; dg <= d && source[c] < 0; ++dg) {
                        const int r = r3 + dr, g = g3 + dg, b = b3 + db;
                        if (r < 0 || r > 7 || g < 0 || g > 7 || b < 0 || b > 7) continue;
                        if (repCount[cellIndex(r, g, b)] > 0) source[c] = cellIndex(r, g, b);
                    }
    }

    const auto packed = [](Rgb e) { return (uint32_t(e.r) << 16) | (uint32_t(e.g) << 8) | uint32_t(e.b); };
    // The first of cell c's representatives at the least distance from (r, g, b).
    const auto nearestIn = [&](int c, int r, int g, int b) {
        const auto& list = palette.colours[c];
        int best = 0;
        int bestDistance = 0x7FFFFFFF;
        for (int i = 0; i < repCount[c]; ++i) {
            const int dr = list[i].r - r, dg = list[i].g - g, db = list[i].b - b;
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        return best;
    };
    // A colour's replacement: the nearest representative of its source cell, or the colour
    // itself when no cell has any.
    const auto replacement = [&](int r, int g, int b) -> uint32_t {
        const int c = source[cellIndex(r >> 5, g >> 5, b >> 5)];
        if (c < 0) return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
        return packed(palette.colours[c][nearestIn(c, r, g, b)]);
    };

    // Most 4 x 4 x 4 boxes of colours sharing a counted (6-bit) colour have one replacement for
    // all their colours. For each box the picture uses, the replacement of one corner is checked
    // against every other representative over the whole box (the difference of squared
    // distances is linear in the colour, so its least value is at a corner); boxes where it holds
    // get it in a table, the others (kEach) are worked out colour by colour.
    constexpr uint32_t kEach = 0xFFFFFFFF;
    const auto& hist = image.histogram;
    std::vector<uint32_t> boxReplacement(kHistogramCells, kEach);
    for (int fine = 0; fine < kHistogramCells; ++fine) {
        if (hist[fine] == 0) continue;
        const int lo[3] = {(fine >> 12) * 4, ((fine >> 6) & 63) * 4, (fine & 63) * 4};
        const int c = source[cellIndex(lo[0] >> 5, lo[1] >> 5, lo[2] >> 5)];
        if (c < 0) continue;
        const auto& list = palette.colours[c];
        const int a = nearestIn(c, lo[0], lo[1], lo[2]);
        const int av[3] = {list[a].r, list[a].g, list[a].b};
        bool holds = true;
        for (int o = 0; o < repCount[c] && holds; ++o) {
            if (o == a) continue;
            const int ov[3] = {list[o].r, list[o].g, list[o].b};
            // |p - o|^2 - |p - a|^2, summed over the channels at the box corner minimising each.
            int least = 0;
            for (int k = 0; k < 3; ++k) {
                const int slope = av[k] - ov[k];
                const int p = slope > 0 ? lo[k] : lo[k] + 3;
                least += slope * (2 * p - av[k] - ov[k]);
            }
            // An earlier representative at the same distance would be chosen instead.
            holds = o < a ? least > 0 : least >= 0;
        }
        if (holds) boxReplacement[fine] = packed(list[a]);
    }

    const int64_t w = hd.biWidth, h = hd.biHeight;
    const int64_t stride = strideFor(w, 24);
    uint8_t* bits = image.bits.data();
    forEachRowBand(h, w * 3, [&](int64_t first, int64_t last) {
        for (int64_t row = first; row < last; ++row) {
            uint8_t* p = bits + row * stride;
            for (int64_t x = 0; x < w; ++x, p += 3) {
                uint32_t out = boxReplacement[fineIndex(p[2] >> 2, p[1] >> 2, p[0] >> 2)];
                if (out == kEach) out = replacement(p[2], p[1], p[0]);
                p[0] = static_cast<uint8_t>(out);
                p[1] = static_cast<uint8_t>(out >> 8);
                p[2] = static_cast<uint8_t>(out >> 16);
            }
        }
    });
    image.rebuildDisplay();
    return OpResult::changed();
}

}  // namespace qel
