#include "sampling/sampling_output.h"

#include "image/address_map.h"
#include "image/settings_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quarvel::sampling {

namespace {

using address::Bank;

// What the money boxes show when the factors give no conversion.
constexpr char kUnscaledMoney[] = "255";

constexpr int channelOf(int channelIndex)
{
    return channelIndex + 1;
}

std::string channelText(int channel)
{
    return "Coin " + std::to_string(channel);
}

} // namespace

void storeReference(ParameterImage& image, int channelIndex, const ChannelReference& reference,
                    ReferenceStore store)
{
    const int channel = channelOf(channelIndex);
    if (!address::isValidChannel(channel)) return;
    // A reference above 255 would be programmed modulo 256, e.g. as 0; the nearest byte is kept.
    const auto byte = [](int value) { return std::clamp(value, 0, 255); };
    image.setNumber(address::refALow(channel), byte(reference.aLow));
    image.setNumber(address::refAHigh(channel), byte(reference.aHigh));
    if (store == ReferenceStore::Taught) image.setNumber(address::sigmaA(channel), byte(reference.aWindow));
    image.setNumber(address::refX(channel), byte(reference.xReference));
    image.setNumber(address::refY(channel), byte(reference.yReference));
    image.setNumber(address::refDH(channel), byte(reference.dhReference));
}

bool moneyFromImage(const ParameterImage& image)
{
    return image.number(address::divideFactor(Bank::A)) != 0.0 &&
           image.number(address::divideFactor(Bank::B)) != 0.0;
}

std::array<std::string, kChannelCount> moneyTexts(const ParameterImage& image)
{
    std::array<std::string, kChannelCount> texts;
    const bool scaled = moneyFromImage(image);
    for (int index = 0; index < kChannelCount; ++index) {
        const int channel = channelOf(index);
        const Bank bank = address::bankOf(channel);
        texts[static_cast<std::size_t>(index)] =
            scaled ? plainDecimal(image.number(address::coinValue(channel)) *
                                  image.number(address::multiplyFactor(bank)) /
                                  image.number(address::divideFactor(bank)))
                   : kUnscaledMoney;
    }
    return texts;
}

std::optional<double> parseMoney(std::string_view text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Digits with an optional fraction, at least one digit before the point; from_chars alone
    // would also take exponents, "inf" and "nan".
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    const auto allDigits = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || !allDigits(whole) || !allDigits(fraction)) return std::nullopt;
    if (point != std::string_view::npos && fraction.empty()) return std::nullopt;
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return negative ? -value : value;
}

std::string plainDecimal(double value)
{
    if (value == 0.0 || !std::isfinite(value)) return "0"; // also -0; NaN has no plain form
    char buffer[400];                                      // DBL_MAX in fixed notation fits
    // A product such as 23 x 5 / 7 x 7 / 5 lands next to 23: 15 significant digits drop the
    // noise of the arithmetic, and the shortest text of what remains has no more than those.
    const auto [digitsEnd, digitsEc] =
        std::to_chars(std::begin(buffer), std::end(buffer), value, std::chars_format::scientific, 14);
    if (digitsEc == std::errc{}) std::from_chars(std::begin(buffer), digitsEnd, value);
    if (value == 0.0) return "0";
    const auto [end, ec] =
        std::to_chars(std::begin(buffer), std::end(buffer), value, std::chars_format::fixed);
    return ec == std::errc{} ? std::string(std::begin(buffer), end) : std::string("0");
}

CoinValueTakeBack takeBackCoinValues(ParameterImage& image,
                                     const std::array<std::string, kChannelCount>& money,
                                     const std::array<bool, kChannelCount>& taken)
{
    CoinValueTakeBack result;
    if (image.number(address::multiplyFactor(Bank::A)) == 0.0 ||
        image.number(address::multiplyFactor(Bank::B)) == 0.0)
        return result;

    std::array<std::optional<std::string>, kChannelCount> values;
    for (int index = 0; index < kChannelCount; ++index) {
        // A box the image never filled shows a placeholder, not a coin value.
        if (!taken[static_cast<std::size_t>(index)]) continue;
        const int channel = channelOf(index);
        const Bank bank = address::bankOf(channel);
        const std::string& text = money[static_cast<std::size_t>(index)];
        const std::optional<double> parsed = parseMoney(text);
        if (!parsed) {
            result = {CoinValueTakeBack::Outcome::Refused, channel,
                      channelText(channel) + ": \"" + text + "\" is not a number"};
            return result;
        }
        const std::string value = plainDecimal(*parsed * image.number(address::divideFactor(bank)) /
                                               image.number(address::multiplyFactor(bank)));
        // The same rule programming checks: a coin value the selector cannot hold is refused.
        if (!isProgrammable(value)) {
            std::string reason = channelText(channel);
            reason.append(": ")
                .append(text)
                .append(" gives a coin value of ")
                .append(value)
                .append(", outside 0..255");
            result = {CoinValueTakeBack::Outcome::Refused, channel, std::move(reason)};
            return result;
        }
        values[static_cast<std::size_t>(index)] = value;
    }
    for (int index = 0; index < kChannelCount; ++index)
        if (const auto& value = values[static_cast<std::size_t>(index)])
            image.setText(address::coinValue(channelOf(index)), *value);
    result.outcome = CoinValueTakeBack::Outcome::Written;
    return result;
}

} // namespace quarvel::sampling
