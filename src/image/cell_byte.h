#pragma once

#include "image/parameter_image.h"

#include <cstdint>
#include <string_view>

namespace quarvel {

// The one rule that turns a cell's text into the byte the selector is sent: the leading
// number, rounded half to even, reduced modulo 256 (300 -> 44, -1 -> 255). Everything that
// shows or compares what programming would send uses this.
inline std::uint8_t cellByte(std::string_view text)
{
    const long long rounded = roundHalfEven(leadingNumber(text));
    return static_cast<std::uint8_t>(((rounded % 256) + 256) % 256);
}

} // namespace quarvel
