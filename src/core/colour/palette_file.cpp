// Palette file writing and reading.
#include "core/colour/palette_file.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "core/formats/file_io.h"

namespace qel {

UserMessage paletteFileMessage(PaletteFileError e) {
    switch (e) {
    case PaletteFileError::None: return {"", ""};
    case PaletteFileError::CannotWrite: return {"書き込みがが出来ません。", "保存エラー"};
    case PaletteFileError::CannotRead: return {"読込みがが出来ません。", "読込エラー"};
    }
    return {"", ""};
}

namespace {

void appendNumber(std::string& out, int32_t v) {
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, end);
}

// A cursor over the text that matches the pieces of the format one at a time.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    void skipSpace() {
        while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
    }
    bool literal(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    // Leading white space, an optional sign, at least one digit; values beyond 32 bits do not match.
    bool number(int32_t& v) {
        skipSpace();
        size_t p = pos_;
        bool negative = false;
        if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) negative = text_[p++] == '-';
        const size_t digits = p;
        int64_t value = 0;
        while (p < text_.size() && text_[p] >= '0' && text_[p] <= '9') {
            value = value * 10 + (text_[p] - '0');
            if (value > int64_t{INT32_MAX} + 1) return false;
            ++p;
        }
        if (p == digits) return false;
        if (negative) value = -value;
        if (value > INT32_MAX) return false;
        v = static_cast<int32_t>(value);
        pos_ = p;
        return true;
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
    std::string_view text_;
    size_t pos_ = 0;
};

bool readFile(const std::string& path, PaletteFileContents& contents) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes, kMaxTextFileBytes)) return false;
    contents = parsePaletteText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return true;
}

}  // namespace

std::string formatPaletteText(const WorkingPalette& pal) {
    std::string out;
    out.reserve(64 * 64 + 16);
    appendNumber(out, pal.count);
    out += '\n';
    for (int line = 0; line < WorkingPalette::kEntries / 4; ++line) {
        for (int i = 4 * line; i < 4 * line + 4; ++i) {
            out += '{';
            appendNumber(out, pal.red[i]);
            out += ',';
            appendNumber(out, pal.green[i]);
            out += ',';
            appendNumber(out, pal.blue[i]);
            out += "},";
        }
        out += '\n';
    }
    return out;
}

PaletteFileContents parsePaletteText(std::string_view text) {
    PaletteFileContents c;
    Reader in(text);
    if (!in.number(c.count)) return c;
    c.haveCount = true;
    in.skipSpace();
    for (int colour = 0; colour < WorkingPalette::kEntries; ++colour) {
        if (!in.literal('{')) return c;
        for (int channel = 0; channel < 3; ++channel) {
            if (!in.number(c.values[c.valuesRead])) return c;
            ++c.valuesRead;
            if (!in.literal(channel < 2 ? ',' : '}')) return c;
        }
        if (!in.literal(',')) return c;
        if (colour % 4 == 3) in.skipSpace();
    }
    return c;
}

PaletteFileError savePaletteFile(const std::string& path, const WorkingPalette& pal) {
    return writeFileAtomically(path, formatPaletteText(pal)) ? PaletteFileError::None : PaletteFileError::CannotWrite;
}

PaletteFileError loadPaletteFile(const std::string& path, WorkingPalette& pal) {
    PaletteFileContents file;
    if (!readFile(path, file)) return PaletteFileError::CannotRead;
    saveHistory(pal);
    for (int v = 0; v < file.valuesRead; ++v) {
        auto& channel = v % 3 == 0 ? pal.red : v % 3 == 1 ? pal.green : pal.blue;
        channel[v / 3] = file.values[v];
    }
    if (file.haveCount) pal.count = std::max(0, std::min(file.count, pal.count));
    return PaletteFileError::None;
}

PaletteFileError addPaletteFile(const std::string& path, WorkingPalette& pal) {
    PaletteFileContents file;
    if (!readFile(path, file)) return PaletteFileError::CannotRead;
    saveHistory(pal);
    const int first = std::max(pal.selected, 0);
    for (int k = 0; first + k < pal.used() && k < file.coloursRead(); ++k)
        pal.setEntry(first + k, PaletteColour{file.values[3 * k], file.values[3 * k + 1], file.values[3 * k + 2]});
    return PaletteFileError::None;
}

}  // namespace qel
