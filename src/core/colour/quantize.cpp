// Colour reduction for quality, by Qel's own palette quantizer. A picture of at most N colours gets
// exactly its own colours back. Any other is counted into a histogram (64 levels a channel over the
// range the picture uses, each cell with the sums of its exact colours), which Wu's method cuts into
// N boxes, always splitting the box of the largest squared error where its two halves' error is
// least. Rounds of k-means on the histogram's cells move the boxes' averages to where they serve the
// pixels best. Without dithering each pixel then goes to its nearest colour, and each colour moves
// to the average of its pixels (a last round of k-means, on the pixels); with dithering,
// Floyd–Steinberg error diffusion (serpentine, the error damped and bounded) picks the colours. Sums and errors are whole numbers, the few fractions plain IEEE
// doubles, and nothing is kept outside the call: the same picture gives the same bytes on any
// machine, on any number of threads and beside any other work.
#include "core/colour/quantize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/image/parallel_rows.h"

namespace qel {

namespace {

// Rounds of k-means on the histogram's cells (cheap: a cell stands for all its pixels), then, without
// dithering, on every pixel. On the benchmark photo (bench/compare-peers.sh --palette) Wu's boxes
// mapped once give 32.31 dB; the cells' rounds take that to 32.58, one round on the pixels (the
// mapping every pixel needs anyway) to 32.581, a second to 32.586 for half as much time again.
// Dithering gains 0.01 dB from the pixels' rounds: it goes without.
constexpr int kCellRounds = 16;
constexpr int kRounds = 1;

// The nearest palette entry of a colour (squared distance in RGB, the lowest index on ties). The
// colour cube is cut into cells 8 levels wide; a cell lists, when first met, the only entries that
// can be nearest to a colour inside it (those no farther from the cell than the entry whose farthest
// point of the cell is nearest), nearest the cell first. Lists are short (three entries on average on
// a photo), so a colour is looked up afresh rather than remembered; a cell of one entry answers at
// once, and a run of one colour is answered once.
class NearestEntry {
public:
    explicit NearestEntry(const std::vector<Rgb>& palette) : palette_(palette), cells_(kCells) {
        for (size_t i = 0; i < palette.size(); ++i) red_[i] = palette[i].r, green_[i] = palette[i].g, blue_[i] = palette[i].b;
    }

    uint8_t operator()(uint32_t r, uint32_t g, uint32_t b) {
        const uint32_t key = (r << 16) | (g << 8) | b;
        if (key == lastKey_) return lastIndex_;
        lastKey_ = key;
        const uint32_t cell = ((r >> kShift) << (2 * (8 - kShift))) | ((g >> kShift) << (8 - kShift)) | (b >> kShift);
        Cell& c = cells_[cell];
        if (c.length < 0) listCell(c, r >> kShift << kShift, g >> kShift << kShift, b >> kShift << kShift);
        if (c.length == 1) return lastIndex_ = lists_[c.start].index;
        return lastIndex_ = search(c, static_cast<int>(r), static_cast<int>(g), static_cast<int>(b));
    }

private:
    static constexpr int kShift = 3;
    static constexpr int kCells = 1 << (3 * (8 - kShift));

    struct Cell {
        uint32_t start = 0;   // first candidate in lists_
        int32_t length = -1;  // candidates; -1 until listed
    };

    uint8_t search(const Cell& cell, int r, int g, int b) const {
        const Candidate* list = lists_.data() + cell.start;
        int best = list[0].index;
        int32_t bestDistance = std::numeric_limits<int32_t>::max();
        // Candidates come nearest the cell first: once one is farther from the cell than the best
        // distance so far, so are the rest.
        for (int k = 0; k < cell.length && list[k].cellDistance <= bestDistance; ++k) {
            const Rgb c = palette_[list[k].index];
            const int32_t dr = c.r - r, dg = c.g - g, db = c.b - b;
            const int32_t d = dr * dr + dg * dg + db * db;
            if (d < bestDistance || (d == bestDistance && list[k].index < best)) {
                bestDistance = d;
                best = list[k].index;
            }
        }
        return static_cast<uint8_t>(best);
    }

    void listCell(Cell& cell, int lr, int lg, int lb) {
        constexpr int kWidth = (1 << kShift) - 1;
        const int n = static_cast<int>(palette_.size());
        // Squared distances of every entry from the cell's nearest and farthest points, branch-free
        // over the entries' channels so the loop runs many entries a vector.
        const auto nearSq = [](int v, int lo) { const int d = std::max(lo - v, 0) + std::max(v - lo - kWidth, 0); return d * d; };
        const auto farSq = [](int v, int lo) { const int d = std::max(v - lo, lo + kWidth - v); return d * d; };
        int32_t limit = std::numeric_limits<int32_t>::max();
        for (int i = 0; i < n; ++i) {
            near_[i] = nearSq(red_[i], lr) + nearSq(green_[i], lg) + nearSq(blue_[i], lb);
            limit = std::min(limit, farSq(red_[i], lr) + farSq(green_[i], lg) + farSq(blue_[i], lb));
        }
        const size_t start = lists_.size();
        for (int i = 0; i < n; ++i)
            if (near_[i] <= limit) lists_.push_back({near_[i], static_cast<uint8_t>(i)});
        std::sort(lists_.begin() + std::ptrdiff_t(start), lists_.end(), [](const Candidate& a, const Candidate& b) {
            return a.cellDistance != b.cellDistance ? a.cellDistance < b.cellDistance : a.index < b.index;
        });
        cell.start = static_cast<uint32_t>(start);
        cell.length = static_cast<int32_t>(lists_.size() - start);
    }

    struct Candidate {
        int32_t cellDistance;  // squared, from the cell's nearest point
        uint8_t index;
    };

    std::vector<Rgb> palette_;
    std::array<int32_t, 256> red_{}, green_{}, blue_{}, near_{};  // the palette's channels; a cell's distances
    std::vector<Cell> cells_;
    std::vector<Candidate> lists_;
    uint32_t lastKey_ = ~0u;
    uint8_t lastIndex_ = 0;
};

// Maps every pixel to its nearest entry and then moves each entry that pixels map to onto the
// rounded average of their colours (one round of k-means); true when an entry moved. For that
// mapping no colour is nearer its pixels, so the error only falls. Rows run in parallel bands; each
// pixel's index depends on its colour alone and the sums are whole numbers, so the result is the
// same on any number of threads.
bool mapToNearest(const uint8_t* bits, uint8_t* indices, int w, int h, std::vector<Rgb>& palette) {
    using Sums = std::array<std::array<uint64_t, 4>, 256>;
    const int64_t s24 = strideFor(w, 24), s8 = strideFor(w, 8);
    const int threads = rowThreads();
    std::vector<std::unique_ptr<NearestEntry>> mappers(static_cast<size_t>(threads));
    std::vector<Sums> sums(static_cast<size_t>(threads), Sums{});
    forEachRowBandOnWorkers(h, w, [&](int worker, int64_t first, int64_t last) {
        auto& nearest = mappers[static_cast<size_t>(worker)];
        if (!nearest) nearest = std::make_unique<NearestEntry>(palette);
        Sums& mine = sums[static_cast<size_t>(worker)];
        for (int64_t row = first; row < last; ++row) {
            const uint8_t* p = bits + row * s24;
            uint8_t* q = indices + row * s8;
            for (int x = 0; x < w; ++x, p += 3) {
                const uint8_t i = (*nearest)(p[2], p[1], p[0]);
                q[x] = i;
                auto& s = mine[i];
                s[0] += p[2];
                s[1] += p[1];
                s[2] += p[0];
                ++s[3];
            }
        }
    });
    bool moved = false;
    for (size_t i = 0; i < palette.size(); ++i) {
        std::array<uint64_t, 4> total{};
        for (const Sums& part : sums)
            for (size_t k = 0; k < 4; ++k) total[k] += part[i][k];
        const uint64_t n = total[3];
        if (n == 0) continue;
        const auto mean = [&](size_t k) { return static_cast<uint8_t>((total[k] + n / 2) / n); };
        const Rgb average{mean(0), mean(1), mean(2)};
        moved = moved || !(average == palette[i]);
        palette[i] = average;
    }
    return moved;
}

// The picture's own colours, in the order first met (top row first), when it has at most `limit`;
// none when it has more.
std::vector<Rgb> ownColours(const uint8_t* bits, int w, int h, int limit) {
    constexpr int kSlotBits = 10;  // four times the most colours kept
    constexpr uint32_t kEmpty = ~0u;
    std::vector<uint32_t> slots(size_t(1) << kSlotBits, kEmpty);
    std::vector<Rgb> found;
    const int64_t stride = strideFor(w, 24);
    uint32_t last = kEmpty;
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = bits + static_cast<int64_t>(h - 1 - y) * stride;
        for (int x = 0; x < w; ++x, p += 3) {
            const uint32_t key = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
            if (key == last) continue;
            last = key;
            uint32_t s = (key * 0x9E3779B1u) >> (32 - kSlotBits);
            while (slots[s] != kEmpty && slots[s] != key) s = (s + 1) & ((1u << kSlotBits) - 1);
            if (slots[s] == key) continue;
            if (static_cast<int>(found.size()) == limit) return {};
            slots[s] = key;
            found.push_back(Rgb{p[2], p[1], p[0]});
        }
    }
    return found;
}

// --- the histogram and Wu's cuts ---

constexpr int kLevels = 64;           // histogram levels a channel
constexpr int kSide = kLevels + 1;    // level 0 is the empty plane under the cumulative sums

// Pixel count, sums of red, green and blue, and the sum of r² + g² + b² of a set of pixels.
struct Moments {
    int64_t n = 0, r = 0, g = 0, b = 0, sq = 0;
    Moments& operator+=(const Moments& o) {
        n += o.n; r += o.r; g += o.g; b += o.b; sq += o.sq;
        return *this;
    }
    Moments& operator-=(const Moments& o) {
        n -= o.n; r -= o.r; g -= o.g; b -= o.b; sq -= o.sq;
        return *this;
    }
    friend Moments operator+(Moments a, const Moments& b) { return a += b; }
    friend Moments operator-(Moments a, const Moments& b) { return a -= b; }
    // Σ (sum of a channel)² / n: the larger, the smaller the squared error about the mean.
    double spread() const {
        const double dr = double(r), dg = double(g), db = double(b);
        return n > 0 ? (dr * dr + dg * dg + db * db) / double(n) : 0.0;
    }
    double squaredError() const { return n > 0 ? double(sq) - spread() : 0.0; }
    Rgb mean() const {
        const auto m = [this](int64_t s) { return static_cast<uint8_t>((s + n / 2) / n); };
        return Rgb{m(r), m(g), m(b)};
    }
};

constexpr size_t at(int r, int g, int b) { return (size_t(r) * kSide + size_t(g)) * kSide + size_t(b); }

// For each channel (red, green, blue), the level 1..kLevels of each value: the values the picture
// uses, from its least to its greatest, spread evenly over the levels (each its own level when
// there are at most kLevels of them).
using Levels = std::array<std::array<uint8_t, 256>, 3>;

Levels levelsOf(const uint8_t* bits, int w, int h) {
    struct Range {
        std::array<uint8_t, 3> lo{255, 255, 255}, hi{0, 0, 0};
    };
    const int64_t stride = strideFor(w, 24);
    std::vector<Range> parts(static_cast<size_t>(rowThreads()));
    forEachRowBandOnWorkers(h, w, [&](int worker, int64_t first, int64_t last) {
        Range& mine = parts[static_cast<size_t>(worker)];
        for (int64_t row = first; row < last; ++row) {
            const uint8_t* p = bits + row * stride;
            for (int x = 0; x < w; ++x, p += 3)
                for (int c = 0; c < 3; ++c) {
                    mine.lo[size_t(c)] = std::min(mine.lo[size_t(c)], p[2 - c]);
                    mine.hi[size_t(c)] = std::max(mine.hi[size_t(c)], p[2 - c]);
                }
        }
    });
    Levels levels{};
    for (size_t c = 0; c < 3; ++c) {
        int lo = 255, hi = 0;
        for (const Range& part : parts) {
            lo = std::min<int>(lo, part.lo[c]);
            hi = std::max<int>(hi, part.hi[c]);
        }
        for (int v = lo; v <= hi; ++v) levels[c][size_t(v)] = static_cast<uint8_t>(1 + (v - lo) * kLevels / (hi - lo + 1));
    }
    return levels;
}

// A box of histogram cells: levels lo (excluded) to hi (included) of red, green and blue.
struct Box {
    std::array<int, 3> lo{}, hi{};
    int64_t cells() const { return int64_t(hi[0] - lo[0]) * (hi[1] - lo[1]) * (hi[2] - lo[2]); }
};

// The moments of a box from the cumulative ones (inclusion and exclusion of the eight corners).
Moments inside(const Box& c, const std::vector<Moments>& m) {
    const auto& [r0, g0, b0] = c.lo;
    const auto& [r1, g1, b1] = c.hi;
    return m[at(r1, g1, b1)] - m[at(r1, g1, b0)] - m[at(r1, g0, b1)] + m[at(r1, g0, b0)] - m[at(r0, g1, b1)] +
           m[at(r0, g1, b0)] + m[at(r0, g0, b1)] - m[at(r0, g0, b0)];
}

// The palette for the picture: the histogram cut into at most `count` boxes, each box's average
// colour; `cells` gets the histogram's occupied cells.
std::vector<Rgb> wuPalette(const uint8_t* bits, int w, int h, int count, std::vector<Moments>& cells) {
    const Levels levels = levelsOf(bits, w, h);
    std::vector<Moments> m(size_t(kSide) * kSide * kSide);
    const int64_t stride = strideFor(w, 24);
    // Bands of rows counted on every core, each worker into a histogram of its own (the first into
    // m), added up after: whole numbers, so the same however the rows were shared. A histogram is
    // 11 MB: at most kHistogramWorkers of them.
    constexpr int kHistogramWorkers = 4;
    std::vector<std::vector<Moments>> parts(size_t(std::min(rowThreads(), kHistogramWorkers)));
    struct Limit {
        int before = rowThreadLimit();
        ~Limit() { rowThreadLimit() = before; }
    } limit;
    rowThreadLimit() = limit.before > 0 ? std::min(limit.before, int(parts.size())) : int(parts.size());
    forEachRowBandOnWorkers(h, w, [&](int worker, int64_t first, int64_t last) {
        std::vector<Moments>& mine = worker == 0 ? m : parts[size_t(worker)];
        if (mine.empty()) mine.resize(m.size());
        for (int64_t row = first; row < last; ++row) {
            const uint8_t* p = bits + row * stride;
            for (int x = 0; x < w; ++x, p += 3) {
                const int64_t r = p[2], g = p[1], b = p[0];
                Moments& cell = mine[at(levels[0][size_t(r)], levels[1][size_t(g)], levels[2][size_t(b)])];
                ++cell.n;
                cell.r += r;
                cell.g += g;
                cell.b += b;
                cell.sq += r * r + g * g + b * b;
            }
        }
    });
    for (const auto& part : parts)
        if (!part.empty())
            for (size_t i = 0; i < m.size(); ++i) m[i] += part[i];
    cells.clear();
    for (const Moments& cell : m)
        if (cell.n > 0) cells.push_back(cell);
    // Cumulative moments: m[r][g][b] becomes the sum over all cells at or below r, g and b.
    std::vector<Moments> area(kSide);
    for (int r = 1; r < kSide; ++r) {
        std::fill(area.begin(), area.end(), Moments{});
        for (int g = 1; g < kSide; ++g) {
            Moments line;
            for (int b = 1; b < kSide; ++b) {
                line += m[at(r, g, b)];
                area[size_t(b)] += line;
                m[at(r, g, b)] = m[at(r - 1, g, b)] + area[size_t(b)];
            }
        }
    }
    // The cut of a box, along any axis, that leaves its two halves the least squared error; false
    // when no cut leaves pixels on both sides.
    const auto bestCut = [&m](const Box& box, int& axis, int& where) {
        const Moments whole = inside(box, m);
        double best = -1.0;
        for (int a = 0; a < 3; ++a)
            for (int cut = box.lo[size_t(a)] + 1; cut < box.hi[size_t(a)]; ++cut) {
                Box lower = box;
                lower.hi[size_t(a)] = cut;
                const Moments below = inside(lower, m), above = whole - below;
                if (below.n == 0 || above.n == 0) continue;
                const double score = below.spread() + above.spread();
                if (score > best) {
                    best = score;
                    axis = a;
                    where = cut;
                }
            }
        return best >= 0.0;
    };
    // The error still to be taken out of each box: its squared error while it can be cut, else 0.
    const auto error = [&m](const Box& box) { return box.cells() > 1 ? inside(box, m).squaredError() : 0.0; };
    std::vector<Box> boxes{Box{{0, 0, 0}, {kLevels, kLevels, kLevels}}};
    std::vector<double> errors{error(boxes[0])};
    while (static_cast<int>(boxes.size()) < count) {
        const size_t k = static_cast<size_t>(std::max_element(errors.begin(), errors.end()) - errors.begin());
        if (errors[k] <= 0.0) break;
        int axis = 0, where = 0;
        if (!bestCut(boxes[k], axis, where)) {
            errors[k] = 0.0;
            continue;
        }
        Box upper = boxes[k];
        boxes[k].hi[size_t(axis)] = where;
        upper.lo[size_t(axis)] = where;
        boxes.push_back(upper);
        errors[k] = error(boxes[k]);
        errors.push_back(error(upper));
    }
    std::vector<Rgb> palette;
    for (const Box& box : boxes)
        if (const Moments s = inside(box, m); s.n > 0) palette.push_back(s.mean());
    return palette;
}

// The nearest palette entry of a colour, the same as NearestEntry's (the lowest index on ties), for
// a palette that meets few colours each (NearestEntry pays for its lists over many): the entries
// sorted along the axis where they spread most are searched outwards from the colour's place, from
// a guess at the nearest entry, until the distance along the axis alone exceeds the best found.
class NearestBySweep {
public:
    explicit NearestBySweep(const std::vector<Rgb>& palette) {
        std::array<int64_t, 3> spread{};
        for (size_t c = 0; c < 3; ++c) {
            int64_t sum = 0, sq = 0;
            for (const Rgb& e : palette) {
                const int64_t v = channel(e, c);
                sum += v;
                sq += v * v;
            }
            spread[c] = sq * int64_t(palette.size()) - sum * sum;
        }
        axis_ = size_t(std::max_element(spread.begin(), spread.end()) - spread.begin());
        for (size_t i = 0; i < palette.size(); ++i) entries_.push_back({palette[i].r, palette[i].g, palette[i].b, int(i)});
        std::sort(entries_.begin(), entries_.end(), [this](const Entry& a, const Entry& b) {
            return a.c[axis_] != b.c[axis_] ? a.c[axis_] < b.c[axis_] : a.index < b.index;
        });
        where_.resize(palette.size());
        for (size_t k = 0; k < entries_.size(); ++k) {
            where_[size_t(entries_[k].index)] = k;
            along_.push_back(entries_[k].c[axis_]);
        }
    }

    int operator()(Rgb colour, int guess) const {
        const std::array<int, 3> c{colour.r, colour.g, colour.b};
        const auto distance = [&c](const Entry& e) {
            const int dr = e.c[0] - c[0], dg = e.c[1] - c[1], db = e.c[2] - c[2];
            return dr * dr + dg * dg + db * db;
        };
        int best = guess, bestDistance = distance(entries_[where_[size_t(guess)]]);
        const auto consider = [&](const Entry& e) {
            const int d = distance(e);
            if (d < bestDistance || (d == bestDistance && e.index < best)) {
                bestDistance = d;
                best = e.index;
            }
        };
        // An entry farther along the axis alone than the best so far is farther, and so is every
        // entry beyond it.
        const size_t place = size_t(std::lower_bound(along_.begin(), along_.end(), c[axis_]) - along_.begin());
        for (size_t k = place; k < entries_.size(); ++k) {
            const int gap = along_[k] - c[axis_];
            if (gap * gap > bestDistance) break;
            consider(entries_[k]);
        }
        for (size_t k = place; k-- > 0;) {
            const int gap = c[axis_] - along_[k];
            if (gap * gap > bestDistance) break;
            consider(entries_[k]);
        }
        return best;
    }

private:
    struct Entry {
        std::array<int, 3> c;
        int index;
        Entry(int r, int g, int b, int i) : c{r, g, b}, index(i) {}
    };
    static int channel(const Rgb& e, size_t c) { return c == 0 ? e.r : c == 1 ? e.g : e.b; }

    size_t axis_ = 0;
    std::vector<Entry> entries_;
    std::vector<int> along_;     // entries_' values on the axis
    std::vector<size_t> where_;  // each entry's place in entries_
};

// Rounds of k-means on the histogram's cells, each cell's pixels at its average colour. Returns the
// squared error, summed over the pixels and channels, of the picture with each cell's pixels on the
// colour the last round gave that cell.
int64_t refineOnCells(const std::vector<Moments>& cells, std::vector<Rgb>& palette) {
    std::vector<Rgb> means(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) means[i] = cells[i].mean();
    std::vector<int> entry(cells.size(), 0);  // each cell's entry in the last round
    std::vector<Moments> sums;
    // Cells run in parallel bands, each worker summing its own; the sums are whole numbers, so their
    // total is the same however the cells were shared out.
    std::vector<std::vector<Moments>> parts(static_cast<size_t>(rowThreads()));
    for (int round = 0; round < kCellRounds; ++round) {
        const NearestBySweep nearest(palette);
        for (auto& part : parts) part.assign(palette.size(), Moments{});
        forEachRowBandOnWorkers(static_cast<int64_t>(cells.size()), 64, [&](int worker, int64_t first, int64_t last) {
            std::vector<Moments>& mine = parts[static_cast<size_t>(worker)];
            for (size_t i = size_t(first); i < size_t(last); ++i) {
                entry[i] = nearest(means[i], entry[i]);
                mine[size_t(entry[i])] += cells[i];
            }
        });
        sums.assign(palette.size(), Moments{});
        for (const auto& part : parts)
            for (size_t i = 0; i < sums.size(); ++i) sums[i] += part[i];
        bool moved = false;
        for (size_t i = 0; i < palette.size(); ++i) {
            if (sums[i].n == 0) continue;
            const Rgb average = sums[i].mean();
            moved = moved || !(average == palette[i]);
            palette[i] = average;
        }
        if (!moved) break;
    }
    // Σ |p - c|² = Σ |p|² - 2 c · Σ p + n |c|² for each entry c and the pixels p its cells hold.
    int64_t error = 0;
    for (size_t i = 0; i < sums.size(); ++i) {
        const Moments& s = sums[i];
        const int64_t r = palette[i].r, g = palette[i].g, b = palette[i].b;
        error += s.sq - 2 * (r * s.r + g * s.g + b * s.b) + s.n * (r * r + g * g + b * b);
    }
    return error;
}

// --- dithering ---

// Floyd–Steinberg error diffusion, top row first, each row in the other direction from the last
// (serpentine). A pixel's colour plus the error carried to it, at most maxCarried levels a channel
// either way and kept in 0..255, picks the nearest entry; kStrength sixteenths of what that leaves
// go on to the neighbours (7, 3, 5 and 1 sixteenths of it). Unbounded and undamped, an error that
// no entry can pay back (a colour outside the palette's reach, an edge) would smear across the
// picture. Errors are whole numbers, carried in 1/65536 of a level, and the rows run in order on
// one thread: the result does not depend on the number of threads.
constexpr int32_t kStrength = 15;
constexpr int32_t kCarriedPerRms = 20;  // in eighths: 2.5 times the palette's error
constexpr int32_t kMinCarried = 4;

void ditherRows(const uint8_t* bits, uint8_t* indices, int w, int h, const std::vector<Rgb>& palette, int32_t maxCarried) {
    NearestEntry nearest(palette);
    const int64_t s24 = strideFor(w, 24), s8 = strideFor(w, 8);
    // Carried error of this row and the next, three channels a pixel, one pixel of margin each side.
    std::vector<int32_t> here(3 * (size_t(w) + 2)), below(3 * (size_t(w) + 2));
    for (int y = 0; y < h; ++y) {
        const int64_t row = h - 1 - y;
        const uint8_t* src = bits + row * s24;
        uint8_t* out = indices + row * s8;
        std::fill(below.begin(), below.end(), 0);
        const int step = y % 2 == 0 ? 1 : -1;
        for (int k = 0; k < w; ++k) {
            const int x = step > 0 ? k : w - 1 - k;
            const size_t e = 3 * size_t(x + 1);
            std::array<int32_t, 3> want;  // in 1/256 of a level
            for (size_t c = 0; c < 3; ++c) {
                const int32_t carried = std::clamp((here[e + c] + 128) >> 8, -maxCarried * 256, maxCarried * 256);
                want[c] = std::clamp(int32_t(src[3 * x + 2 - int(c)]) * 256 + carried, 0, 255 * 256);
            }
            const uint8_t i = nearest(uint32_t(want[0] + 128) >> 8, uint32_t(want[1] + 128) >> 8, uint32_t(want[2] + 128) >> 8);
            out[x] = i;
            const Rgb q = palette[i];
            const std::array<int32_t, 3> got{q.r, q.g, q.b};
            const size_t ahead = size_t(int64_t(e) + 3 * step), behind = size_t(int64_t(e) - 3 * step);
            for (size_t c = 0; c < 3; ++c) {
                const int32_t d = (want[c] - got[c] * 256) * kStrength;  // 1/4096 of a level
                here[ahead + c] += 7 * d;
                below[behind + c] += 3 * d;
                below[e + c] += 5 * d;
                below[ahead + c] += d;
            }
        }
        std::swap(here, below);
    }
}

}  // namespace

OpResult quantizeColours(DibImage& image, const QuantizeSettings& settings) {
    if (settings.colours < kQuantizeMinColours || settings.colours > kQuantizeMaxColours)
        return OpResult::refused("needs 2 to 256 colours, not " + std::to_string(settings.colours));
    if (!image.pixelRowsPresent()) return OpResult::refused(kNoPixelRows);
    const BitmapInfoHeader old = image.header();
    if (old.biBitCount != 24) return OpResult::refused(kNeeds24Bit);
    const int w = old.biWidth, h = old.biHeight;
    const uint8_t* bits = image.bits.data();

    // Indices in the 8-bit layout, padding 0.
    const int64_t s8 = strideFor(w, 8);
    PixelBytes indices(static_cast<size_t>(s8 * h));
    std::vector<Rgb> colours = ownColours(bits, w, h, settings.colours);
    if (!colours.empty()) {
        // Each colour is its own nearest entry: one mapping, nothing to dither.
        mapToNearest(bits, indices.data(), w, h, colours);
    } else {
        std::vector<Moments> cells;
        colours = wuPalette(bits, w, h, settings.colours, cells);
        const int64_t error = refineOnCells(cells, colours);
        if (settings.dither) {
            // The carried error is bounded by a multiple of the palette's root-mean-square error a
            // channel: a few colours far apart need much of it to mix, many close together little.
            const double rms = std::sqrt(double(error) / (3.0 * double(w) * double(h)));
            const int32_t maxCarried = std::clamp(static_cast<int32_t>(kCarriedPerRms * rms / 8), kMinCarried, 255);
            ditherRows(bits, indices.data(), w, h, colours, maxCarried);
        } else {
            // Stops early when no colour moves: the mapping is then the nearest for the final colours.
            for (int round = 0; round < kRounds; ++round)
                if (!mapToNearest(bits, indices.data(), w, h, colours)) break;
        }
    }

    const BitmapInfoHeader hd = newHeader(w, h, 8, 256, static_cast<uint32_t>(indices.size()));
    std::vector<uint8_t> info = makeInfoBlock(hd, 256, kGreyFill);
    for (size_t i = 0; i < colours.size(); ++i) setInfoColour(info, int(i), colours[i]);
    image.replace(std::move(info), std::move(indices));
    return OpResult::changed();
}

}  // namespace qel
