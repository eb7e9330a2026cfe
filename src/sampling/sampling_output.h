#pragma once

#include "image/address_map.h"
#include "image/parameter_image.h"
#include "sampling/channel_reference.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

// Where a sampling run's results go in the image, and the coin values the sampling window
// shows in money and takes back.
namespace quarvel::sampling {

constexpr int kChannelCount = address::kChannelCount;

// How a run's references are stored, the main window's cdt: a taught channel (cdt 0) gets the
// computed A window; after Open & Program (cdt 1) the loaded file's window is kept.
enum class ReferenceStore
{
    Taught,
    Calibrated
};

// Stores the references of channel index 0..11 (channel index + 1) as decimal text: A low and
// high, the A window (Taught only), X, Y and dH. Y and dH are limited to 255. Nothing happens
// for a bad index.
void storeReference(ParameterImage& image, int channelIndex, const ChannelReference& reference,
                    ReferenceStore store);

// The money texts of the twelve channels at the window's load: CoinValue x multiply / divide
// of the channel's bank when both divide factors (cells 88 and 91) are nonzero, otherwise
// every box "255". Plain decimal text: "12.5", "10", no exponent.
std::array<std::string, kChannelCount> moneyTexts(const ParameterImage& image);
// Whether moneyTexts() converts the image's coin values (both divide factors nonzero).
bool moneyFromImage(const ParameterImage& image);

// A plain decimal number: optional blanks around it, an optional sign, digits with an optional
// fraction. Nothing else: no exponent, no "inf", no trailing text, not empty.
std::optional<double> parseMoney(std::string_view text);

// Plain decimal text of value to 15 significant digits, as short as it reads back: "12.5", "10",
// "0.1", "23" for 22.999999999999996; never an exponent.
std::string plainDecimal(double value);

struct CoinValueTakeBack
{
    enum class Outcome
    {
        Written,   // all twelve CoinValue cells were written
        NotScaled, // a multiply factor (cell 87 or 90) is 0: nothing written, as intended
        Refused,   // a money text was refused: nothing written for any channel
    };
    Outcome outcome = Outcome::NotScaled;
    int channel = 0;     // 1..12, the first refused channel
    std::string message; // why, for the window's red status line
};

// Takes the money texts of the channels marked in taken back into CoinValue (money x divide /
// multiply of the bank) when both multiply factors are nonzero; a channel not marked keeps its
// coin value. All or nothing: a text that is not a number, or whose coin value would not be a
// programmable byte 0..255, refuses the whole take-back.
CoinValueTakeBack takeBackCoinValues(ParameterImage& image,
                                     const std::array<std::string, kChannelCount>& money,
                                     const std::array<bool, kChannelCount>& taken);

} // namespace quarvel::sampling
