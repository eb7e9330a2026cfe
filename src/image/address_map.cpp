#include "image/address_map.h"

#include "image/parameter_image.h"

#include <array>
#include <string_view>

namespace quarvel::address {

namespace {

constexpr std::array<std::string_view, kCoinBlockSize> kCoinBlockFields{
    "RefALow", "RefAHigh", "SigmaA", "CoinTLD", "CoinControl", "RefX", "CoinValue"};

// 84..95, in address order.
constexpr std::array<std::string_view, 12> kSingleFields{
    "OutputControl",   "SerialNo",      "PriceA",     "MultiplyFactorA", "DivideFactorA", "PriceB",
    "MultiplyFactorB", "DivideFactorB", "SignalTime", "TimerScaleA",     "TimerScaleB",   "HoldTime"};

// 120..127: the first calibration set and the second one laid out the same way.
constexpr std::array<std::string_view, 8> kCalibrationFields{
    "Std1 low", "Std1 high", "This1 low", "This1 high", "Std2 low", "Std2 high", "This2 low", "This2 high"};

// 129..188: one cell per channel in each column.
constexpr std::array<std::string_view, 5> kColumns{"ToleranceBC", "MT2", "TD", "TM", "last column"};

std::string coinField(int channel, std::string_view field)
{
    return "coin " + std::to_string(channel) + ' ' + std::string(field);
}

} // namespace

std::string fieldName(int address)
{
    if (!ParameterImage::isValidAddress(address)) return "address " + std::to_string(address);
    if (address < kOutputControl)
        return coinField(address / kCoinBlockSize + 1, kCoinBlockFields[address % kCoinBlockSize]);
    if (address < refY(1)) return std::string(kSingleFields[address - kOutputControl]);
    if (address < kStd1Low)
        return coinField((address - refY(1)) / 2 + 1, (address - refY(1)) % 2 == 0 ? "RefY" : "RefDH");
    if (address < kCoinSeparator) return std::string(kCalibrationFields[address - kStd1Low]);
    if (address == kCoinSeparator) return "CoinSeparator";
    if (address <= kLastSelectorAddress) {
        const int column = (address - toleranceBC(1)) / kChannelCount;
        const int channel = (address - toleranceBC(1)) % kChannelCount + 1;
        // The per-coin tolerance reads like the other coin fields; the unnamed columns by column.
        if (column == 0) return coinField(channel, kColumns[0]);
        return std::string(kColumns[column]) + " coin " + std::to_string(channel);
    }
    return "cell " + std::to_string(address);
}

} // namespace quarvel::address
