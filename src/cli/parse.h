// Text parsing shared by the qel-batch options.
#pragma once

#include <charconv>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace qel::batch {

// The whole of `text` read as one number in plain decimal notation (no sign for unsigned types,
// no blanks); false for empty text, trailing characters or a value beyond T.
template <class T>
bool parseNumber(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end;
}

// The pieces of `text` between separators; an empty text is one empty piece.
inline std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

}  // namespace qel::batch
