#include "image/default_image.h"

#include "image/address_map.h"

#include <span>
#include <string_view>

namespace quarvel {

namespace {

// Writes text into first, first + stride, ... up to last; applied in list order, so a later
// write wins over the clearing range.
struct DefaultWrite
{
    int first;
    int last;
    int stride;
    std::string_view text;
};

using namespace address;

constexpr int kEveryCoin = kCoinBlockSize;

constexpr DefaultWrite kMainDefault[] = {
    {0, 119, 1, "0"},
    {coinControl(1), coinControl(12), kEveryCoin, "10"},
    {kOutputControl, kOutputControl, 1, "128"},
    {kPriceA, kDivideFactorB, 1, "1"},
    {kTimerScaleA, kTimerScaleB, 1, "1"},
    {kSignalTime, kSignalTime, 1, "50"},
    {toleranceBC(1), toleranceBC(12), 1, "85"},
};

constexpr DefaultWrite kSettingsDefault[] = {
    {0, 255, 1, "0"},
    {coinTLD(1), coinTLD(12), kEveryCoin, "170"},
    {coinControl(1), coinControl(12), kEveryCoin, "0"},
    {toleranceBC(1), toleranceBC(12), 1, "85"},
    {mt2(1), mt2(12), 1, "153"},
    {kOutputControl, kOutputControl, 1, "129"},
    {kPriceA, kDivideFactorB, 1, "1"},
    {kTimerScaleA, kTimerScaleB, 1, "1"},
    {kSignalTime, kSignalTime, 1, "100"},
};

void apply(std::span<const DefaultWrite> writes, ParameterImage& image)
{
    for (const DefaultWrite& write : writes)
        for (int cell = write.first; cell <= write.last; cell += write.stride)
            image.setText(cell, std::string(write.text));
}

} // namespace

void loadMainDefault(ParameterImage& image)
{
    apply(kMainDefault, image);
}

void loadSettingsDefault(ParameterImage& image)
{
    apply(kSettingsDefault, image);
}

} // namespace quarvel
