// Fuzzes the palette file reader: parse, then load and add into a working palette.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/colour/palette_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    qel::PaletteFileContents c = qel::parsePaletteText(text);
    if (c.coloursRead() > qel::WorkingPalette::kEntries) __builtin_trap();
    qel::WorkingPalette pal;
    pal.count = c.haveCount ? (c.count & 0xFF) : 16;
    std::string again = qel::formatPaletteText(pal);
    qel::parsePaletteText(again);
    return 0;
}
