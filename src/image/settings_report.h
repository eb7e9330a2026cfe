#pragma once

#include "image/field_codecs.h"
#include "image/parameter_image.h"
#include "image/settings_model.h"

#include <array>
#include <vector>

// The image decoded into the named settings, as one value set for printing (quarvelctl show,
// read, JSON). Every value comes from the settings model, so it is what programming sends.
namespace quarvel {

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
    int refA = 0; // 16 bits, from the bytes sent for the low and high cells
    int refX = 0;
    int refY = 0;
    int refDH = 0;
    bool operator==(const ChannelSettings&) const = default;
};

struct SettingsReport
{
    OutputControl output;
    int signalTime = 0;
    int timerScaleA = 0;
    int timerScaleB = 0;
    std::array<BankSettings, 2> banks{}; // A, B
    std::array<ChannelSettings, 12> channels{};
    std::vector<UnprogrammableCell> flagged; // unprogrammableCells()
};

SettingsReport makeSettingsReport(const ParameterImage& image);

} // namespace quarvel
