// Palette files: the working palette as text. Line 1 holds N ("%d\n"), then
// always 64 lines of four colours, entries 4k .. 4k+3 of the 256, each line
// "{r,g,b},{r,g,b},{r,g,b},{r,g,b},\n". Written with "\n"; read the way
// formatted input reads that format: a line end accepts any run of white space
// (so "\r\n" too), each number may have leading white space, every other
// character must match, and reading stops where the file stops matching.
// Numbers are written and read independently of the locale.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/colour/working_palette.h"
#include "core/image/dib_image.h"

namespace qel {

enum class PaletteFileError { None, CannotWrite, CannotRead };

// "書き込みがが出来ません。" / "保存エラー" and "読込みがが出来ません。" / "読込エラー".
UserMessage paletteFileMessage(PaletteFileError e);

// Parameters of the file dialogs of save, load and add.
inline constexpr const char* kPaletteFilterName = "Pallet Files";
inline constexpr const char* kPaletteFilterPattern = "*.pl";
inline constexpr const char* kPaletteDefaultExtension = "pal";
inline constexpr const char* kPaletteInitialName = "*.pl";

// What a palette file gave before it stopped matching.
struct PaletteFileContents {
    bool haveCount = false;
    int32_t count = 0;
    std::array<int32_t, 3 * WorkingPalette::kEntries> values{};  // red, green, blue of colours 0 .. 255
    int valuesRead = 0;                                         // values read, in that order
    int coloursRead() const { return valuesRead / 3; }          // complete colours read
};

std::string formatPaletteText(const WorkingPalette& pal);
PaletteFileContents parsePaletteText(std::string_view text);

// "パレットの保存": N and all 256 entries; the palette is not changed.
PaletteFileError savePaletteFile(const std::string& path, const WorkingPalette& pal);
// "パレットの読込": saves the history, reads the colours into entries 0 .. 255 as far as the file
// matches (entries not reached keep their values), N becomes the smaller of the file's count and
// the current N (never below 0; unchanged when the count cannot be read).
PaletteFileError loadPaletteFile(const std::string& path, WorkingPalette& pal);
// "追加": saves the history and pastes the file's colours 0, 1, ... into the selected entry and the
// ones after it, up to N-1, as far as the file supplies complete colours. N is unchanged.
PaletteFileError addPaletteFile(const std::string& path, WorkingPalette& pal);

}  // namespace qel
