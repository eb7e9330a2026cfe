#pragma once

#include <string>
#include <string_view>

namespace quarvel::cli {

// text as a JSON string literal, quotes included. Cell texts come from files and may hold
// anything: control characters are escaped, and bytes that are not valid UTF-8 become U+FFFD
// so that the output always parses.
std::string jsonQuote(std::string_view text);

} // namespace quarvel::cli
