#include "image/field_codecs.h"

#include "image/parameter_image.h"

#include <algorithm>
#include <cmath>

namespace quarvel {

namespace {

// Rounds down and clamps in floating point first, so that huge or infinite cell values never
// reach an integer conversion.
int floorClamped(double value, int low, int high)
{
    if (std::isnan(value)) return low;
    return static_cast<int>(
        std::clamp(std::floor(value), static_cast<double>(low), static_cast<double>(high)));
}

int clampField(int value, int low, int high)
{
    return std::clamp(value, low, high);
}

} // namespace

CoinControl decodeCoinControl(std::string_view cellText)
{
    const double v = leadingNumber(cellText);
    const long long rounded = roundHalfEven(v);
    CoinControl fields;
    fields.toleranceA = static_cast<int>(rounded & 15);
    // C-style % keeps the sign like the device tool's Mod; a negative cell clamps to 0.
    fields.separator = clampField(static_cast<int>((rounded % 64) / 16), 0, 3);
    fields.disable = floorClamped(v / 128.0, 0, 1);
    return fields;
}

std::string encodeCoinControl(const CoinControl& fields, std::string_view previousCellText)
{
    const long long keptFlag = roundHalfEven(leadingNumber(previousCellText)) & 64;
    const long long value = clampField(fields.disable, 0, 1) * 128 + clampField(fields.separator, 0, 3) * 16 +
                            clampField(fields.toleranceA, 0, 15) + keptFlag;
    return std::to_string(value);
}

OutputControl decodeOutputControl(std::string_view cellText)
{
    const double v = leadingNumber(cellText);
    OutputControl fields;
    fields.mode = static_cast<int>(roundHalfEven(v) & 15);
    if (fields.mode >= kOutputModeCount) fields.mode = 0;
    fields.inhibitLevel = floorClamped(v / 128.0, 0, 1);
    return fields;
}

std::string encodeOutputControl(const OutputControl& fields)
{
    // An out-of-list mode is written as 0, the way it would have been shown.
    const int mode = fields.mode >= 0 && fields.mode < kOutputModeCount ? fields.mode : 0;
    return std::to_string(clampField(fields.inhibitLevel, 0, 1) * 128 + mode);
}

ToleranceBC decodeToleranceBC(std::string_view cellText)
{
    const double v = leadingNumber(cellText);
    ToleranceBC fields;
    fields.toleranceB = static_cast<int>(roundHalfEven(v) & 15);
    fields.toleranceC = floorClamped(v / 16.0, 0, 15);
    return fields;
}

std::string encodeToleranceBC(const ToleranceBC& fields)
{
    return std::to_string(clampField(fields.toleranceC, 0, 15) * 16 + clampField(fields.toleranceB, 0, 15));
}

} // namespace quarvel
