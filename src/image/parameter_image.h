#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel {

// The leading number of a text: leading blanks skipped, optional sign, digits, optional
// decimal part. Text without a leading number reads as 0 ("12ab" -> 12, "abc" -> 0).
double leadingNumber(std::string_view text);

// Nearest whole number, halves to the even neighbour (12.5 -> 12, 13.5 -> 14).
// Values beyond the range of long long saturate.
long long roundHalfEven(double value);

// The tool's copy of the selector's parameter memory. Every cell holds decimal text;
// cells 0..188 mirror the selector, 189..270 exist only in the tool, 0..255 go to files.
class ParameterImage
{
public:
    static constexpr int kCellCount = 271;
    static constexpr int kSelectorCells = 189;
    static constexpr int kFileCells = 256;

    static constexpr bool isValidAddress(int address) { return address >= 0 && address < kCellCount; }

    // Out-of-range addresses read as empty text and are never written.
    const std::string& text(int address) const;
    void setText(int address, std::string text);

    // The leading-number conversion of the cell's text.
    double number(int address) const;
    // number() rounded to the nearest integer, halves to even.
    long long integer(int address) const;
    // Stores the decimal text of value: no leading blank, no range check.
    void setNumber(int address, long long value);

    bool operator==(const ParameterImage&) const = default;

private:
    std::array<std::string, kCellCount> m_cells{};
};

} // namespace quarvel
