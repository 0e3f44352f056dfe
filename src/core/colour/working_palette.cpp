// The palette window's own operations on its working palette.
#include "core/colour/working_palette.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qel {

WorkingPalette::WorkingPalette() {
    red.fill(kEmptyPaletteColour.red);
    green.fill(kEmptyPaletteColour.green);
    blue.fill(kEmptyPaletteColour.blue);
    for (auto& bank : history) bank.fill(kEmptyPaletteColour);
}

int paletteCountFor(const DibImage& image) {
    if (image.info.size() < kHeaderSize) return 0;
    const auto h = image.header();
    int n;
    if (h.biBitCount == 8) n = 256;
    else if (h.biBitCount == 4) n = 16;
    else return 0;
    if (static_cast<int64_t>(image.infoSize()) < kHeaderSize + 4 * int64_t{n})
        n = static_cast<int>(std::min<uint32_t>(h.biClrUsed, WorkingPalette::kEntries));
    // A biClrUsed larger than the block would read past the table.
    return std::min(n, image.tableSize());
}

void reloadPaletteFromImage(WorkingPalette& pal, const DibImage& image) {
    const int n = std::min(pal.used(), image.tableSize());
    for (int i = 0; i < n; ++i) {
        const Rgb c = image.tableColour(i);
        pal.setEntry(i, PaletteColour{c.r, c.g, c.b});
    }
}

void loadPaletteFromImage(WorkingPalette& pal, const DibImage& image) {
    pal.count = paletteCountFor(image);
    reloadPaletteFromImage(pal, image);
    pal.selected = 0;
}

int nearestEntryBySum(const WorkingPalette& pal, Rgb c) {
    int64_t best = 1000;
    int found = 0;
    for (int i = 0; i < pal.used(); ++i) {
        const int64_t sum = std::llabs(int64_t{pal.red[i]} - c.r) + std::llabs(int64_t{pal.green[i]} - c.g) +
                            std::llabs(int64_t{pal.blue[i]} - c.b);
        if (sum < best) {
            best = sum;
            found = i;
        }
    }
    return found;
}

int paletteHitTest(const WorkingPalette& pal, int x, int y) {
    const int bottom = pal.count == 16 ? 21 : 263;
    if (x < 3 || x > 259 || y < 7 || y > bottom) return -1;
    const int index = 16 * ((y - 7) / 16) + (x - 3) / 16;
    return index < pal.used() ? index : -1;
}

GridSquare paletteSquare(int i) {
    const int x0 = 16 * (i % 16), y0 = 16 * (i / 16);
    return GridSquare{x0 + 3, y0 + 7, x0 + 17, y0 + 21};
}

std::string paletteStatusLine(const WorkingPalette& pal) {
    const int i = std::clamp(pal.selected, 0, WorkingPalette::kEntries - 1);
    char text[96];
    std::snprintf(text, sizeof text, "R: %4d G: %4d B: %4d  No:%4d   ", static_cast<int>(pal.red[i]),
                  static_cast<int>(pal.green[i]), static_cast<int>(pal.blue[i]), static_cast<int>(pal.selected));
    return text;
}

namespace {

void entriesToBank(WorkingPalette& pal, int bank) {
    for (int i = 0; i < pal.used(); ++i) pal.history[bank][i] = pal.entry(i);
}

void bankToEntries(WorkingPalette& pal, int bank) {
    for (int i = 0; i < pal.used(); ++i) pal.setEntry(i, pal.history[bank][i]);
}

int bankPos(const WorkingPalette& pal) { return ((pal.historyPos % 4) + 4) % 4; }

bool inUse(const WorkingPalette& pal, int index) { return index >= 0 && index < pal.used(); }

}  // namespace

void saveHistory(WorkingPalette& pal) {
    const int h = bankPos(pal);
    entriesToBank(pal, h);
    pal.historyPos = (h + 1) % 4;
}

void undoHistory(WorkingPalette& pal) {
    int h = bankPos(pal);
    entriesToBank(pal, h);
    h = h == 0 ? 3 : h - 1;
    pal.historyPos = h;
    bankToEntries(pal, h);
}

void redoHistory(WorkingPalette& pal) {
    int h = bankPos(pal);
    entriesToBank(pal, h);
    h = (h + 1) % 4;
    pal.historyPos = h;
    bankToEntries(pal, h);
}

void beginDrag(WorkingPalette& pal, int index) {
    if (!inUse(pal, index)) return;
    pal.selected = index;
    pal.dragging = true;
}

bool endDrag(WorkingPalette& pal, int index) {
    if (!pal.dragging) return false;
    pal.dragging = false;
    if (!inUse(pal, index) || !inUse(pal, pal.selected) || index == pal.selected) return false;
    saveHistory(pal);
    pal.setEntry(index, pal.entry(pal.selected));
    return true;
}

void editEntry(WorkingPalette& pal, int index, PaletteColour c) {
    if (!inUse(pal, index)) return;
    saveHistory(pal);
    pal.setEntry(index, c);
}

bool beginCheckPreview(WorkingPalette& pal, int index) {
    if (!inUse(pal, index)) return false;
    // A release that never arrived would leave the earlier entry showing the check colour.
    if (pal.heldIndex >= 0) pal.setEntry(pal.heldIndex, pal.held);
    pal.selected = index;
    pal.held = pal.entry(index);
    pal.heldIndex = index;
    pal.setEntry(index, pal.check);
    return true;
}

bool endCheckPreview(WorkingPalette& pal) {
    if (pal.heldIndex < 0) return false;
    pal.setEntry(pal.heldIndex, pal.held);
    pal.heldIndex = -1;
    return true;
}

void sortPalette(WorkingPalette& pal) {
    const int n = pal.used();
    auto sum = [&](int i) { return int64_t{pal.red[i]} + pal.green[i] + pal.blue[i]; };
    bool swapped = true;
    while (swapped) {
        swapped = false;
        for (int i = 0; i + 1 < n; ++i) {
            if (sum(i + 1) < sum(i)) {
                const PaletteColour c = pal.entry(i);
                pal.setEntry(i, pal.entry(i + 1));
                pal.setEntry(i + 1, c);
                swapped = true;
            }
        }
    }
}

void fillWithCheckColour(WorkingPalette& pal) {
    saveHistory(pal);
    for (int i = std::max(pal.selected, 0); i < pal.used(); ++i) pal.setEntry(i, pal.check);
}

void mergeNearColours(WorkingPalette& pal, int32_t distance) {
    saveHistory(pal);
    const float t = static_cast<float>(distance) * 0.003921569f;
    const uint64_t bound = static_cast<uint64_t>(int64_t{distance} * distance);
    struct Shares {
        float r, g, b;
    };
    auto sharesOf = [&](int i) {
        int64_t s = int64_t{pal.red[i]} + pal.green[i] + pal.blue[i];
        if (s == 0) s = 1;
        const float fs = static_cast<float>(s);
        return Shares{static_cast<float>(pal.red[i]) / fs, static_cast<float>(pal.green[i]) / fs,
                      static_cast<float>(pal.blue[i]) / fs};
    };
    const int n = pal.used();
    for (int i = 0; i < n; ++i) {
        const Shares si = sharesOf(i);
        const PaletteColour ci = pal.entry(i);
        for (int j = i; j < n; ++j) {
            const Shares sj = sharesOf(j);
            const PaletteColour cj = pal.entry(j);
            if (std::fabs(sj.r - si.r) < t && std::fabs(sj.g - si.g) < t && std::fabs(sj.b - si.b) < t &&
                squaredDistance(ci.red, ci.green, ci.blue, cj.red, cj.green, cj.blue) < bound)
                pal.setEntry(j, ci);
        }
    }
}

void prepareApproximate(WorkingPalette& pal, int32_t precision) {
    saveHistory(pal);
    pal.precision = precision;
}

}  // namespace qel
