// Palette-driven changes of the colour table and pixel indices.
#include "core/colour/palette_ops.h"

#include <algorithm>
#include <array>
#include <optional>

namespace qel {

namespace {

// The shared guards: a refusal, or nothing when the operation may run.
std::optional<OpResult> refusal(const DibImage& image, const WorkingPalette& pal) {
    if (!image.hasBlocks()) return OpResult::refused(kNoPicture);
    const int depth = image.bitCount();
    if (depth != 8 && depth != 4) return OpResult::refused("needs a 4- or 8-bit picture");
    if ((depth == 4 && pal.count > 16) || pal.count > WorkingPalette::kEntries)
        return OpResult::refused("the working palette has more colours than the table can hold");
    return std::nullopt;
}

OpResult rebuilt(DibImage& image) {
    image.rebuildDisplay();
    return OpResult::changed();
}

void writeEntry(DibImage& image, int i, const PaletteColour& c) {
    if (i < 0 || i >= image.tableSize()) return;
    uint8_t* e = image.table() + 4 * i;
    e[0] = static_cast<uint8_t>(c.blue);
    e[1] = static_cast<uint8_t>(c.green);
    e[2] = static_cast<uint8_t>(c.red);
    e[3] = 0;
}

PaletteColour tableEntry(const DibImage& image, int i) {
    const Rgb c = image.tableColour(i);
    return PaletteColour{c.r, c.g, c.b};
}

// The first working entry at the smallest squared distance from `c` (index 0 when N is 0).
int nearestWorking(const WorkingPalette& pal, const PaletteColour& c, uint64_t* distance) {
    int best = 0;
    uint64_t bestD = UINT64_MAX;
    for (int j = 0; j < pal.used(); ++j) {
        const uint64_t d = squaredDistance(c.red, c.green, c.blue, pal.red[j], pal.green[j], pal.blue[j]);
        if (j == 0 || d < bestD) {
            bestD = d;
            best = j;
        }
    }
    if (distance) *distance = bestD;
    return best;
}

// Rewrites every byte of the pixel block (row padding included) through `map`: at 8 bits each
// byte below n, at 4 bits each nibble below n; other values stay.
void rewritePixels(DibImage& image, const std::array<int, 256>& map, int n) {
    std::array<uint8_t, 256> lut;
    if (image.bitCount() == 8) {
        for (int v = 0; v < 256; ++v) lut[v] = static_cast<uint8_t>(v < n ? map[v] : v);
    } else {
        auto nibble = [&](int v) { return v < n ? (map[v] & 0x0F) : v; };
        for (int v = 0; v < 256; ++v) lut[v] = static_cast<uint8_t>((nibble(v >> 4) << 4) | nibble(v & 0x0F));
    }
    for (uint8_t& b : image.bits) b = lut[b];
}

}  // namespace

OpResult setColourTable(DibImage& image, const WorkingPalette& pal) {
    if (auto refused = refusal(image, pal)) return *refused;
    for (int i = 0; i < pal.used(); ++i) writeEntry(image, i, pal.entry(i));
    return rebuilt(image);
}

OpResult organiseColours(DibImage& image, const WorkingPalette& pal) {
    if (auto refused = refusal(image, pal)) return *refused;
    const int n = pal.used();
    std::array<PaletteColour, WorkingPalette::kEntries> entries;
    for (int i = 0; i < n; ++i) entries[i] = pal.entry(i);

    // Blank later duplicates of each colour, remembering whose duplicate they were.
    std::array<int, WorkingPalette::kEntries> duplicateOf;
    duplicateOf.fill(-1);
    for (int i = 0; i < n; ++i) {
        if (entries[i] == kEmptyPaletteColour) continue;
        for (int j = i + 1; j < n; ++j) {
            if (entries[j] == entries[i]) {
                entries[j] = kEmptyPaletteColour;
                duplicateOf[j] = i;
            }
        }
    }

    // New positions: kept entries move up over the empty ones before them; duplicates follow
    // their original; entries that were empty from the start go to the first trailing empty
    // entry, which keeps their colour.
    const int kept = static_cast<int>(
        std::count_if(entries.begin(), entries.begin() + n, [](const PaletteColour& c) { return !(c == kEmptyPaletteColour); }));
    std::array<int, 256> map;
    for (int v = 0; v < 256; ++v) map[v] = v;
    int empties = 0;
    for (int j = 0; j < n; ++j) {
        if (entries[j] == kEmptyPaletteColour) {
            ++empties;
            map[j] = duplicateOf[j] >= 0 ? map[duplicateOf[j]] : kept;
        } else {
            map[j] = j - empties;
        }
    }

    // Compact: kept entries in their order, then the empty ones.
    int to = 0;
    for (int j = 0; j < n; ++j)
        if (!(entries[j] == kEmptyPaletteColour)) entries[to++] = entries[j];
    for (; to < n; ++to) entries[to] = kEmptyPaletteColour;

    rewritePixels(image, map, n);
    for (int i = 0; i < n; ++i) writeEntry(image, i, entries[i]);
    return rebuilt(image);
}

OpResult approximateColours(DibImage& image, const WorkingPalette& pal, int32_t precision) {
    if (auto refused = refusal(image, pal)) return *refused;
    uint64_t bound = static_cast<uint64_t>(int64_t{precision} * precision);
    if (bound == 0) bound = 210000;  // above every possible distance of 0..255 colours
    const int n = std::min(pal.used(), image.tableSize());
    for (int i = 0; i < n; ++i) {
        uint64_t d = 0;
        const int j = nearestWorking(pal, tableEntry(image, i), &d);
        if (d < bound) writeEntry(image, i, pal.entry(j));
    }
    return rebuilt(image);
}

OpResult remapColours(DibImage& image, const WorkingPalette& pal) {
    if (auto refused = refusal(image, pal)) return *refused;
    const int n = pal.used();
    std::array<int, 256> map;
    for (int v = 0; v < 256; ++v) map[v] = v;
    for (int i = 0; i < n; ++i) map[i] = nearestWorking(pal, tableEntry(image, i), nullptr);
    for (int i = 0; i < n; ++i) writeEntry(image, i, pal.entry(i));
    rewritePixels(image, map, n);
    return rebuilt(image);
}

OpResult fitToPalette(DibImage& image, WorkingPalette& pal) {
    if (!image.hasBlocks()) return OpResult::refused(kNoPicture);
    const int depth = image.bitCount();
    if (depth != 8 && depth != 4) return OpResult::refused("needs a 4- or 8-bit picture");
    pal.count = paletteCountFor(image);
    for (int i = 0; i < pal.used(); ++i) {
        writeEntry(image, i, pal.entry(nearestWorking(pal, tableEntry(image, i), nullptr)));
    }
    pal.selected = 0;
    return rebuilt(image);
}

OpResult runPaletteRequest(DibImage& image, WorkingPalette& pal, PaletteRequest request,
                           const std::function<void()>& takeSnapshot) {
    auto snapshot = [&] {
        if (takeSnapshot) takeSnapshot();
    };
    OpResult shown;
    switch (request) {
    case kRequestSetTable:
        snapshot();
        return setColourTable(image, pal);
    case kRequestPreview:
        return setColourTable(image, pal);
    case kRequestOrganise:
        snapshot();
        shown = organiseColours(image, pal);
        reloadPaletteFromImage(pal, image);
        return shown;
    case kRequestApproximate:
        snapshot();
        shown = approximateColours(image, pal, pal.precision);
        reloadPaletteFromImage(pal, image);
        return shown;
    case kRequestRemap:
        return remapColours(image, pal);
    default:
        return OpResult::unchanged("not a request of the palette window");
    }
}

}  // namespace qel
