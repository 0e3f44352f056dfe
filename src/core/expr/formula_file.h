// Formula files: the transform dialog's fields saved as seven text lines
// (x'=, y'=, z'=, the red, green and blue weight texts, and 1 or 0 for inverse
// mapping, with no line end after the last).
#pragma once

#include <string>
#include <string_view>

namespace qel {

// The dialog's fields as the file holds them: the six edit texts and the inverse check box.
struct FormulaFileFields {
    std::string formulaX;
    std::string formulaY;
    std::string formulaZ;
    std::string weightRed;
    std::string weightGreen;
    std::string weightBlue;
    bool inverse = true;
};

// Longest word a file item may hold.
constexpr size_t kFormulaFileMaxWord = 127;

// The file text written for the fields, exactly as they stand.
std::string formulaFileText(const FormulaFileFields& fields);
// Writes the file (atomically); false when it cannot be written.
bool writeFormulaFile(const std::string& path, const FormulaFileFields& fields);

enum class FormulaFileStatus {
    Loaded,      // the items present were put into the fields
    CannotOpen,  // the file cannot be read; fields unchanged
    Malformed,   // a word longer than kFormulaFileMaxWord; fields unchanged
};

// Reads file text into the fields. Items are words separated by white space
// (so a formula typed with spaces spreads over several items); the seventh is
// an integer and inverse is set exactly when it is 1 (0 when it is not a number).
// Items missing at the end of the text leave their fields as they were.
FormulaFileStatus readFormulaFileText(std::string_view text, FormulaFileFields& fields);
FormulaFileStatus readFormulaFile(const std::string& path, FormulaFileFields& fields);

}  // namespace qel
