#pragma once

#include <string>

// Column padding for the plain-text tables quarvelctl prints.
namespace quarvel::cli {

inline std::string padRight(std::string text, std::size_t width)
{
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

inline std::string padLeft(std::string text, std::size_t width)
{
    if (text.size() < width) text.insert(0, width - text.size(), ' ');
    return text;
}

} // namespace quarvel::cli
