#pragma once

// Every bench program prints its figures for people first, and each figure once more as a row
// "ROW|figure|target|measured|holds" that bench/run_benches.sh gathers into one table. The
// figures are medians and percentiles, worked out here alike for every program.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

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

// The middle value (the upper one of an even count); 0 for none.
inline double median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The p-quantile (0..1, nearest rank) of nanosecond figures, in microseconds; 0 for none.
inline double percentileUs(std::vector<std::int64_t> ns, double p)
{
    if (ns.empty()) return 0;
    std::sort(ns.begin(), ns.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(ns.size() - 1) + 0.5);
    return static_cast<double>(ns[std::min(i, ns.size() - 1)]) / 1000.0;
}

} // namespace quarvel::bench
