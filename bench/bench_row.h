#pragma once

// Every bench program prints its figures for people first, and each figure once more as a row
// "ROW|figure|target|measured|holds" that bench/run_benches.sh gathers into one table.
#include <cstdio>
#include <optional>
#include <string>

namespace quarvel::bench {

// holds: empty for a figure that is only reported.
inline void printRow(const std::string& figure, const std::string& target, const std::string& measured,
                     std::optional<bool> holds = std::nullopt)
{
    std::printf("ROW|%s|%s|%s|%s\n", figure.c_str(), target.c_str(), measured.c_str(),
                !holds ? "-" : (*holds ? "yes" : "no"));
    std::fflush(stdout);
}

inline std::string format(const char* pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

} // namespace quarvel::bench
