#pragma once

#include <array>
#include <string>
#include <string_view>

// Decoding a cell into the fields the settings show, and encoding them back. Decoding reads the
// cell's leading number (empty or non-numeric text is 0) and clamps every field into its range,
// so a cell outside 0..255 can never index past a list of entries.
namespace quarvel {

// CoinControl, bits from 7 down: disable, a flag the tool never edits, separator (2 bits),
// tolerance A (4 bits).
struct CoinControl
{
    int disable = 0;    // 0 accepted, 1 refused
    int separator = 0;  // 0..3
    int toleranceA = 0; // 0..15
    bool operator==(const CoinControl&) const = default;
};

// OutputControl: bit 7 inhibit level, bits 3..0 output mode; bits 6..4 are written as 0.
struct OutputControl
{
    int mode = 0;         // 0..11, index into kOutputModeTexts
    int inhibitLevel = 0; // 0..1, index into kInhibitLevelTexts
    bool operator==(const OutputControl&) const = default;
};

// ToleranceBC: bits 3..0 tolerance B, bits 7..4 tolerance C.
struct ToleranceBC
{
    int toleranceB = 0; // 0..15
    int toleranceC = 0; // 0..15
    bool operator==(const ToleranceBC&) const = default;
};

constexpr int kOutputModeCount = 12;

inline constexpr std::array<std::string_view, kOutputModeCount> kOutputModeTexts{
    "1. Pulse output",
    "2. Pulse output with INHIBIT",
    "3. Pulse, clear residual money after 2 minutes",
    "4. Pulse, clear residual after 2 minutes, INHIBIT",
    "5. Channels output (NRI-G13)",
    "6. Channels output (NRI-G13) with INHIBIT",
    "7. Timer output",
    "8. Timer output with INHIBIT",
    "9. not availiable",
    "10. not availiable",
    "11. not availiable",
    "12. not availiable",
};

inline constexpr std::array<std::string_view, 2> kInhibitLevelTexts{"Low Inhibit", "High Inhibit"};
inline constexpr std::array<std::string_view, 2> kDisableTexts{"No", "Yes"};

CoinControl decodeCoinControl(std::string_view cellText);
// Fields are clamped into their ranges; bit 6 of the previous cell value is kept.
std::string encodeCoinControl(const CoinControl& fields, std::string_view previousCellText);

// Modes 12..15 have no entry and read as mode 0.
OutputControl decodeOutputControl(std::string_view cellText);
std::string encodeOutputControl(const OutputControl& fields);

ToleranceBC decodeToleranceBC(std::string_view cellText);
std::string encodeToleranceBC(const ToleranceBC& fields);

} // namespace quarvel
