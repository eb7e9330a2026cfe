#pragma once

#include <string_view>

namespace quarvel {

// A text box value the selector can hold as typed: a whole number 0..255, digits only, blanks
// around it allowed ("17", " 7 ", "007"); "", "12.5", "-1", "300" and "1e2" are not.
constexpr bool isWholeByteText(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty()) return false;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > 255) return false;
    }
    return true;
}

} // namespace quarvel
