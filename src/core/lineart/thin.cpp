// Thinning: sequential raster-order border peeling of the black strokes.
//
// Each pass visits the pixels with all eight neighbours inside the picture,
// top row first, left to right, and deletes a black pixel when it lies on the
// border, is neither an end point nor isolated, and its deletion keeps the
// stroke connected. A pixel deleted in the current pass still counts as black
// for the border and connectivity tests (sequence a) but as white for the end
// point test (sequence c). Deletions are kept in a mark plane of their own, so
// no colour index is ever mistaken for a mark and any number of passes works.
//
// The decision depends only on the kinds of the eight neighbours, so it is
// tabulated once. A pass re-examines only pixels next to a deletion of the
// previous pass or of an earlier position in this pass: any other pixel sees
// the same neighbourhood as in the previous pass and keeps its verdict.
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "core/lineart/lineart.h"
#include "core/lineart/lineart_detail.h"

namespace qel {

namespace {

using namespace lineart_detail;

// Plane values. kInk: black in sequence a (black, or deleted in this pass);
// kMark: deleted in this pass. kCand[p & 1]: to be examined in pass p.
constexpr uint8_t kInk = 1;
constexpr uint8_t kMark = 2;
constexpr uint8_t kCand[2] = {4, 8};

// Connectivity number of a neighbour sequence given as a bit mask (bit k = s[k]
// black, s[8] = s[0]): white even positions followed by a black pixel in the
// next two.
int connectivity(unsigned s) {
    s |= (s & 1u) << 8;
    int n = 0;
    for (int k = 0; k < 8; k += 2)
        if (!(s >> k & 1u) && ((s >> (k + 1) & 1u) || (s >> (k + 2) & 1u))) ++n;
    return n;
}

// Whether a black pixel is deleted, for a = neighbours black or marked and
// m = neighbours marked in this pass (bit k = neighbour k).
bool deletes(unsigned a, unsigned m) {
    constexpr unsigned kFour = 0x55;  // right, up, left, down
    if ((a & kFour) == kFour) return false;  // interior
    const unsigned c = a & ~m;
    if (std::popcount(a) < 2 || std::popcount(c) < 1) return false;  // end point or isolated
    if (connectivity(a) != 1) return false;
    if ((m & 0x04) && connectivity(a & ~0x04u) != 1) return false;  // upper neighbour deleted
    if ((m & 0x10) && connectivity(a & ~0x10u) != 1) return false;  // left neighbour deleted
    return true;
}

// Verdicts indexed by a | m << 8.
const std::array<uint8_t, 65536>& verdicts() {
    static const auto table = [] {
        std::array<uint8_t, 65536> t{};
        for (unsigned i = 0; i < 65536; ++i) {
            const unsigned a = i & 0xFF, m = i >> 8;
            t[i] = (m & ~a) == 0 && deletes(a, m);
        }
        return t;
    }();
    return table;
}

void thinPlane(std::vector<uint8_t>& plane, int w, int h) {
    const auto& verdict = verdicts();
    std::vector<uint8_t> rowQueued[2] = {std::vector<uint8_t>(h, 0), std::vector<uint8_t>(h, 0)};
    std::vector<uint32_t> deleted;
    auto at = [&](int x, int y) -> uint8_t& { return plane[static_cast<size_t>(y) * w + x]; };

    // First pass: only border pixels (a 4-neighbour not black) can go.
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x)
            if (at(x, y) == kInk &&
                (!at(x + 1, y) || !at(x - 1, y) || !at(x, y - 1) || !at(x, y + 1))) {
                at(x, y) |= kCand[0];
                rowQueued[0][y] = 1;
            }

    // Queues an interior black pixel for a pass of the given parity.
    auto queue = [&](int x, int y, int parity) {
        if (x < 1 || x > w - 2 || y < 1 || y > h - 2) return;
        uint8_t& v = at(x, y);
        if ((v & (kInk | kMark)) != kInk) return;
        v |= kCand[parity];
        rowQueued[parity][y] = 1;
    };

    constexpr uint64_t kOnes = 0x0101010101010101ull;
    for (int pass = 0;; ++pass) {
        const int cur = pass & 1, nxt = cur ^ 1;
        const uint8_t cand = kCand[cur];
        const uint64_t candWord = kOnes * cand;
        deleted.clear();
        for (int y = 1; y < h - 1; ++y) {
            if (!rowQueued[cur][y]) continue;
            rowQueued[cur][y] = 0;
            const uint8_t* up = &at(0, y - 1);
            uint8_t* mid = &at(0, y);
            const uint8_t* dn = &at(0, y + 1);
            for (int x = 1; x < w - 1; ++x) {
                if (x + 8 <= w - 1) {
                    uint64_t word;
                    std::memcpy(&word, mid + x, 8);
                    if (!(word & candWord)) {
                        x += 7;
                        continue;
                    }
                }
                if (!(mid[x] & cand)) continue;
                mid[x] &= static_cast<uint8_t>(~cand);
                if ((mid[x] & (kInk | kMark)) != kInk) continue;
                const uint8_t n0 = mid[x + 1], n1 = up[x + 1], n2 = up[x], n3 = up[x - 1];
                const uint8_t n4 = mid[x - 1], n5 = dn[x - 1], n6 = dn[x], n7 = dn[x + 1];
                const unsigned a = (n0 & 1u) | (n1 & 1u) << 1 | (n2 & 1u) << 2 | (n3 & 1u) << 3 |
                                   (n4 & 1u) << 4 | (n5 & 1u) << 5 | (n6 & 1u) << 6 | (n7 & 1u) << 7;
                const unsigned m = (n0 >> 1 & 1u) | (n1 >> 1 & 1u) << 1 | (n2 >> 1 & 1u) << 2 |
                                   (n3 >> 1 & 1u) << 3 | (n4 >> 1 & 1u) << 4 | (n5 >> 1 & 1u) << 5 |
                                   (n6 >> 1 & 1u) << 6 | (n7 >> 1 & 1u) << 7;
                if (!verdict[a | m << 8]) continue;
                mid[x] |= kMark;
                deleted.push_back(static_cast<uint32_t>(static_cast<size_t>(y) * w + x));
                // Later positions of this pass see the mark; every neighbour is re-examined next pass.
                queue(x + 1, y, cur);
                queue(x - 1, y + 1, cur);
                queue(x, y + 1, cur);
                queue(x + 1, y + 1, cur);
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        if (dx || dy) queue(x + dx, y + dy, nxt);
            }
        }
        if (deleted.empty()) break;
        for (uint32_t i : deleted) plane[i] &= static_cast<uint8_t>(~(kInk | kMark));
    }
}

}  // namespace

OpResult thin(DibImage& image) {
    if (image.bitCount() != 8) return OpResult::refused(kNeeds8Bit);
    if (!image.rereadAs8Bit()) return OpResult::refused(kNoReadBack);
    const auto block = pixelBlock8(image);
    if (!block) return OpResult::refused(kNeedsRows8);
    const int black = lookupColour(image, kBlack), white = lookupColour(image, kWhite);
    if (auto refused = missingColours({{"black", black}, {"white", white}})) return *refused;
    const auto B = static_cast<uint8_t>(black), Wt = static_cast<uint8_t>(white);
    const int w = block->width, h = block->height;

    std::vector<uint8_t> plane(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = block->row(y);
        uint8_t* dst = plane.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) dst[x] = src[x] == B ? kInk : 0;
    }
    if (w >= 3 && h >= 3) thinPlane(plane, w, h);

    // Whitening: every byte that is not a remaining black pixel becomes white, row padding included.
    for (int y = 0; y < h; ++y) {
        uint8_t* row = block->row(y);
        const uint8_t* src = plane.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) row[x] = (src[x] & kInk) ? B : Wt;
        for (int x = w; x < block->stride; ++x) row[x] = row[x] == B ? B : Wt;
    }
    image.rebuildDisplay();
    return OpResult::changed();
}

}  // namespace qel
