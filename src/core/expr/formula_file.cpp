#include "core/expr/formula_file.h"

#include <charconv>
#include <cstdint>
#include <vector>

#include "core/formats/file_io.h"

namespace qel {

namespace {

// White space as formatted input skips it: space, tab, line ends, vertical tab, form feed.
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

void skipSpace(std::string_view text, size_t& pos) {
    while (pos < text.size() && isSpace(text[pos])) ++pos;
}

std::string_view nextWord(std::string_view text, size_t& pos) {
    skipSpace(text, pos);
    const size_t start = pos;
    while (pos < text.size() && !isSpace(text[pos])) ++pos;
    return text.substr(start, pos - start);
}

}  // namespace

std::string formulaFileText(const FormulaFileFields& f) {
    return f.formulaX + "\n" + f.formulaY + "\n" + f.formulaZ + "\n" + f.weightRed + "\n" + f.weightGreen + "\n" +
           f.weightBlue + "\n" + (f.inverse ? "1" : "0");
}

bool writeFormulaFile(const std::string& path, const FormulaFileFields& fields) {
    return writeFileAtomically(path, formulaFileText(fields));
}

FormulaFileStatus readFormulaFileText(std::string_view text, FormulaFileFields& fields) {
    // Read everything first, so a malformed file changes nothing.
    std::vector<std::string_view> words;
    size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        auto w = nextWord(text, pos);
        if (w.empty()) break;
        if (w.size() > kFormulaFileMaxWord) return FormulaFileStatus::Malformed;
        words.push_back(w);
    }
    std::string* targets[6] = {&fields.formulaX,  &fields.formulaY,   &fields.formulaZ,
                               &fields.weightRed, &fields.weightGreen, &fields.weightBlue};
    for (size_t i = 0; i < words.size(); ++i) targets[i]->assign(words[i]);
    if (words.size() < 6) return FormulaFileStatus::Loaded;

    // The seventh item: an optional sign and digits; anything else reads as 0.
    skipSpace(text, pos);
    if (pos == text.size()) return FormulaFileStatus::Loaded;
    size_t digits = pos;
    if (text[digits] == '+' || text[digits] == '-') ++digits;
    int64_t value = 0;
    const char* first = text.data() + digits;
    const char* last = text.data() + text.size();
    auto [end, ec] = std::from_chars(first, last, value);
    if (first == last || *first < '0' || *first > '9' || ec != std::errc()) value = 0;  // not a number, or too large to be 1
    if (text[pos] == '-') value = -value;
    fields.inverse = value == 1;
    return FormulaFileStatus::Loaded;
}

FormulaFileStatus readFormulaFile(const std::string& path, FormulaFileFields& fields) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes, kMaxTextFileBytes)) return FormulaFileStatus::CannotOpen;
    return readFormulaFileText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), fields);
}

}  // namespace qel
