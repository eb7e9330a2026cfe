#pragma once

#include "image/field_codecs.h"
#include "image/parameter_image.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The image decoded into the named settings the settings form shows, for printing as text or
// JSON. Pure: the same decode serves read, show and diff.
namespace quarvel::cli {

// What a byte field shows: the cell's number rounded half to even and clamped into 0..255,
// as a scroll bar holding it would.
int displayByte(std::string_view cellText);

// True for the text every writer of the image stores: plain decimal digits, 0..255.
bool isPlainByte(std::string_view cellText);

// Cell text made safe for a terminal and kept short: quoted, control and non-ASCII bytes as
// \xNN, cut after maxChars bytes (and then followed by ...).
std::string printableCellText(std::string_view cellText, std::size_t maxChars = 24);

struct BankSettings
{
    int price = 0;
    int multiplyFactor = 0;
    int divideFactor = 0;
    bool operator==(const BankSettings&) const = default;
};

struct ChannelSettings
{
    int channel = 0; // 1..12
    int value = 0;
    int toleranceA = 0;
    int toleranceB = 0;
    int toleranceC = 0;
    int disable = 0; // 0 "No", 1 "Yes"
    int separator = 0;
    int refA = 0; // 16 bits, from the low and high cells
    int refX = 0;
    int refY = 0;
    int refDH = 0;
    bool operator==(const ChannelSettings&) const = default;
};

// A file cell whose text is not a plain byte: empty, fractional, out of range or not a number.
struct FlaggedCell
{
    int address = 0;
    std::string field;
    std::string text;
    std::optional<int> asByte; // what programming would send; selector cells only
    bool operator==(const FlaggedCell&) const = default;
};

struct SettingsReport
{
    OutputControl output;
    int signalTime = 0;
    int timerScaleA = 0;
    int timerScaleB = 0;
    std::array<BankSettings, 2> banks{}; // A, B
    std::array<ChannelSettings, 12> channels{};
    std::vector<FlaggedCell> flagged;
};

// Selector cells (0..188) are flagged whenever they are not a plain byte, an empty one too,
// since programming sends it as 0. Tool-only cells (189..255) are flagged only when they hold
// text that is not a plain byte: the images the program keeps leave them empty.
std::vector<FlaggedCell> flaggedCells(const ParameterImage& image);

SettingsReport makeSettingsReport(const ParameterImage& image);

std::string settingsText(const SettingsReport& report);
// One JSON object, ending with a line feed.
std::string settingsJson(const SettingsReport& report);

} // namespace quarvel::cli
