// The working palette of a palette window: an editable copy of the colour
// table of a 4-bit or 8-bit picture, held as three parallel arrays of signed
// 32-bit red, green and blue values with a count N, together with the
// window's other state (selection, check colour, history ring). Everything
// the palette window does to its palette without touching the picture lives
// here as plain functions; the window only draws and forwards clicks, and the
// picture changes only through the requests of palette_ops.h.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "core/image/dib_image.h"

namespace qel {

struct PaletteColour {
    int32_t red = 0, green = 0, blue = 0;
    friend bool operator==(const PaletteColour&, const PaletteColour&) = default;
};

constexpr PaletteColour kEmptyPaletteColour{205, 205, 205};  // marks an empty entry; fills the history
constexpr PaletteColour kWhitePaletteColour{255, 255, 255};  // the initial check colour

struct WorkingPalette {
    static constexpr int kEntries = 256;
    static constexpr int kBanks = 4;

    std::array<int32_t, kEntries> red;    // entries 0 .. count-1 are in use
    std::array<int32_t, kEntries> green;
    std::array<int32_t, kEntries> blue;
    int32_t count = 0;                    // N
    int32_t selected = 0;                 // the selected entry
    int32_t precision = 0;                // last precision of approximate replacement
    bool dragging = false;                // left button pressed on the grid, not yet released

    std::array<std::array<PaletteColour, kEntries>, kBanks> history;  // the four banks of the ring
    int32_t historyPos = 0;                                          // h, 0 .. 3

    PaletteColour check = kWhitePaletteColour;  // shown in place of an entry by the right button
    PaletteColour held;                         // that entry's own colour meanwhile
    int32_t heldIndex = -1;                     // the entry showing the check colour; -1 when none

    // Entries and history banks start as the empty mark; the check colour is white.
    WorkingPalette();

    // N limited to what the arrays hold (0 .. 256).
    int used() const { return count < 0 ? 0 : (count > kEntries ? kEntries : count); }
    PaletteColour entry(int i) const { return PaletteColour{red[i], green[i], blue[i]}; }
    void setEntry(int i, PaletteColour c) { red[i] = c.red; green[i] = c.green; blue[i] = c.blue; }
};

// Squared distance dr^2 + dg^2 + db^2 of two colours. Values read from palette files may lie
// far outside 0..255, so the sum saturates instead of wrapping.
inline uint64_t squaredDistance(int32_t r1, int32_t g1, int32_t b1, int32_t r2, int32_t g2, int32_t b2) {
    auto sq = [](int32_t a, int32_t b) {
        const int64_t d = int64_t{a} - b;  // |d| < 2^32, so d*d fits in 64 unsigned bits
        const uint64_t m = static_cast<uint64_t>(d < 0 ? -d : d);
        return m * m;
    };
    uint64_t sum = sq(r1, r2);
    for (uint64_t part : {sq(g1, g2), sq(b1, b2)}) sum = sum > UINT64_MAX - part ? UINT64_MAX : sum + part;
    return sum;
}

// Texts and ranges the palette window shows and checks.
inline constexpr const char* kPaletteWindowTitle = "パレット";
inline constexpr const char* kFillDoneMessage = "「置換」又は「整理」で画像を置き換えます。";
inline constexpr const char* kMergeDoneMessage = "「整理」で画像を置き換えます。";
inline constexpr const char* kPaletteDoneTitle = "終了";
inline constexpr const char* kNotPositiveMessage = "正の数を入れてください。";
inline constexpr const char* kNotPositiveTitle = "エラー";
constexpr int32_t kMaxPrecision = 50000;      // approximate replacement, 0 .. 50,000
constexpr int32_t kMaxMergeDistance = 10000000;  // near-colour merge, 0 .. 10,000,000

// --- filling from a picture ---

// N for a picture by the palette command's rule: 256 at 8 bits, 16 at 4 bits, the header's
// biClrUsed when the block is too short for that many entries. Never more than the entries
// present in the block (nor 256); 0 for other depths.
int paletteCountFor(const DibImage& image);
// Loads N and entries 0 .. N-1 from the colour table and selects entry 0 (the palette command).
void loadPaletteFromImage(WorkingPalette& pal, const DibImage& image);
// Reloads entries 0 .. N-1 from the colour table, N unchanged (after organise and approximate).
void reloadPaletteFromImage(WorkingPalette& pal, const DibImage& image);
// The first entry with the smallest |dr| + |dg| + |db| from `c` (double-click on the picture);
// 0 when no entry comes within 1000.
int nearestEntryBySum(const WorkingPalette& pal, Rgb c);

// --- grid geometry (client pixels) ---

// The entry under (x, y), or -1 off the grid or beyond N. x = 259 falls into column 16,
// that is the first entry of the next row.
int paletteHitTest(const WorkingPalette& pal, int x, int y);
struct GridSquare {
    int left, top, right, bottom;  // right and bottom exclusive
};
// The 14 x 14 square of entry i.
GridSquare paletteSquare(int i);
// "R: %4d G: %4d B: %4d  No:%4d   " for the selected entry, written at (3, 268).
std::string paletteStatusLine(const WorkingPalette& pal);
constexpr int kStatusLineX = 3;
constexpr int kStatusLineY = 268;

// --- history ring (entries 0 .. N-1 with the current N) ---

void saveHistory(WorkingPalette& pal);
void undoHistory(WorkingPalette& pal);
void redoHistory(WorkingPalette& pal);

// --- editing ---

// Left press on entry `index`: selects it and starts a drag.
void beginDrag(WorkingPalette& pal, int index);
// Left release on entry `index` (-1 off the grid). Copies the selected entry's colour there when
// it is another entry, saving one history state first; the selection stays. True when the
// palette changed.
bool endDrag(WorkingPalette& pal, int index);
// Colour chosen in the colour dialog for entry `index`: saves the history and sets it.
void editEntry(WorkingPalette& pal, int index, PaletteColour c);
// Right press on entry `index`: selects it and shows the check colour in its place. True when
// the picture should now show it (request 1003 without a snapshot).
bool beginCheckPreview(WorkingPalette& pal, int index);
// Right release: puts the held colour back. True when a colour was held, so the picture must be
// given the restored palette (request 1001).
bool endCheckPreview(WorkingPalette& pal);
// Bubble sort of entries 0 .. N-1 by red + green + blue, ascending and stable; no history.
// The caller then sends request 1005 so the picture follows the new order.
void sortPalette(WorkingPalette& pal);
// "以後確認色": saves the history and sets entries selected .. N-1 to the check colour.
void fillWithCheckColour(WorkingPalette& pal);
// "近色同一化" with distance a: saves the history, then every later entry whose colour shares lie
// strictly within a/255 of entry i's and whose squared distance is below a^2 becomes entry i.
void mergeNearColours(WorkingPalette& pal, int32_t distance);
// "*近似置換*" accepted with precision p: saves the history and keeps p for request 1004.
void prepareApproximate(WorkingPalette& pal, int32_t precision);

}  // namespace qel
