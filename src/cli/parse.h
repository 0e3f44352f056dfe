// Number parsing shared by the qel-batch options.
#pragma once

#include <charconv>
#include <string_view>
#include <system_error>

namespace qel::batch {

// The whole of `text` read as one number in plain decimal notation (no sign for unsigned types,
// no blanks); false for empty text, trailing characters or a value beyond T.
template <class T>
bool parseNumber(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end;
}

}  // namespace qel::batch
