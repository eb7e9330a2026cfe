#pragma once

#include <array>
#include <string>

// Where each field lives in the selector's parameter memory. Per-channel fields take a channel
// number 1..12 and give kInvalid for any other channel: the image reads an invalid address as
// empty text and ignores writes to it, so a bad channel can never touch a wrong cell.
namespace quarvel::address {

constexpr int kInvalid = -1;
constexpr int kChannelCount = 12;
constexpr int kCoinBlockSize = 7;
constexpr int kLastSelectorAddress = 188;

constexpr bool isValidChannel(int channel)
{
    return channel >= 1 && channel <= kChannelCount;
}

namespace detail {
constexpr int perChannel(int channel, int first, int stride)
{
    return isValidChannel(channel) ? first + stride * (channel - 1) : kInvalid;
}
} // namespace detail

// The seven-cell coin block of a channel, and its fields.
constexpr int coinBlock(int channel)
{
    return detail::perChannel(channel, 0, kCoinBlockSize);
}
constexpr int refALow(int channel)
{
    return detail::perChannel(channel, 0, kCoinBlockSize);
}
constexpr int refAHigh(int channel)
{
    return detail::perChannel(channel, 1, kCoinBlockSize);
}
constexpr int sigmaA(int channel)
{
    return detail::perChannel(channel, 2, kCoinBlockSize);
}
constexpr int coinTLD(int channel)
{
    return detail::perChannel(channel, 3, kCoinBlockSize);
}
constexpr int coinControl(int channel)
{
    return detail::perChannel(channel, 4, kCoinBlockSize);
}
constexpr int refX(int channel)
{
    return detail::perChannel(channel, 5, kCoinBlockSize);
}
constexpr int coinValue(int channel)
{
    return detail::perChannel(channel, 6, kCoinBlockSize);
}

constexpr int kOutputControl = 84;
constexpr int kSerialNo = 85;
constexpr int kPriceA = 86;
constexpr int kMultiplyFactorA = 87;
constexpr int kDivideFactorA = 88;
constexpr int kPriceB = 89;
constexpr int kMultiplyFactorB = 90;
constexpr int kDivideFactorB = 91;
constexpr int kSignalTime = 92;
constexpr int kTimerScaleA = 93;
constexpr int kTimerScaleB = 94;
constexpr int kHoldTime = 95;

constexpr int refY(int channel)
{
    return detail::perChannel(channel, 96, 2);
}
constexpr int refDH(int channel)
{
    return detail::perChannel(channel, 97, 2);
}

// The cells that hold a channel's taught references (its coin value apart).
constexpr std::array<int, 7> referenceCells(int channel)
{
    return {refALow(channel), refAHigh(channel), sigmaA(channel), coinTLD(channel),
            refX(channel),    refY(channel),     refDH(channel)};
}

// Calibration stamps: Std1 is 16-bit, low byte first; This1 is two bytes. The second set
// (124..127) has the same layout and is never programmed by the full image.
constexpr int kStd1Low = 120;
constexpr int kStd1High = 121;
constexpr int kThis1Low = 122;
constexpr int kThis1High = 123;
constexpr int kSecondCalibration = 124;
constexpr int kSecondCalibrationSize = 4;

constexpr int kCoinSeparator = 128;

constexpr int toleranceBC(int channel)
{
    return detail::perChannel(channel, 129, 1);
}
// One-byte columns per channel; the last one also carries the programming mark in 177..182.
constexpr int mt2(int channel)
{
    return detail::perChannel(channel, 141, 1);
}
constexpr int td(int channel)
{
    return detail::perChannel(channel, 153, 1);
}
constexpr int tm(int channel)
{
    return detail::perChannel(channel, 165, 1);
}
constexpr int lastColumn(int channel)
{
    return detail::perChannel(channel, 177, 1);
}

// The cells a full programming sends, first and last of each range: 85 and 124..127 are never
// written.
struct CellRange
{
    int first;
    int last;
};
inline constexpr std::array<CellRange, 3> kProgrammingRanges{{{0, 84}, {86, 123}, {128, 188}}};
// The cells no programming writes: the serial number and the second calibration set, which
// tell one selector from another.
inline constexpr std::array<int, 5> kIdentityCells{kSerialNo, kSecondCalibration, kSecondCalibration + 1,
                                                   kSecondCalibration + 2, kSecondCalibration + 3};

// Channels 1..6 form bank A, 7..12 bank B; each bank has its own price and scaling.
enum class Bank
{
    A,
    B
};

constexpr Bank bankOf(int channel)
{
    return channel >= 7 ? Bank::B : Bank::A;
}
constexpr int firstChannel(Bank bank)
{
    return bank == Bank::A ? 1 : 7;
}
constexpr int lastChannel(Bank bank)
{
    return bank == Bank::A ? 6 : 12;
}
constexpr int price(Bank bank)
{
    return bank == Bank::A ? kPriceA : kPriceB;
}
constexpr int multiplyFactor(Bank bank)
{
    return bank == Bank::A ? kMultiplyFactorA : kMultiplyFactorB;
}
constexpr int divideFactor(Bank bank)
{
    return bank == Bank::A ? kDivideFactorA : kDivideFactorB;
}

// A short label for an address, for listing differences between images: "coin 3 CoinControl",
// "PriceA", "MT2 coin 5". Tool-only cells read "cell <n>", others "address <n>".
std::string fieldName(int address);

} // namespace quarvel::address
