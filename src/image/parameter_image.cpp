#include "image/parameter_image.h"

#include <cmath>
#include <limits>

namespace quarvel {

double leadingNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    double sign = 1.0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') sign = -1.0;
        ++i;
    }
    // Accumulate digits by hand: locale-independent, and never reads past the view.
    double value = 0.0;
    bool anyDigit = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10.0 + (text[i] - '0');
        anyDigit = true;
        ++i;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        double scale = 0.1;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value += (text[i] - '0') * scale;
            scale /= 10.0;
            anyDigit = true;
            ++i;
        }
    }
    return anyDigit ? sign * value : 0.0;
}

long long roundHalfEven(double value)
{
    if (std::isnan(value)) return 0;
    constexpr double kMax = 9.2e18;
    if (value >= kMax) return std::numeric_limits<long long>::max();
    if (value <= -kMax) return std::numeric_limits<long long>::min();
    return static_cast<long long>(std::nearbyint(value)); // default rounding mode: to nearest, ties even
}

namespace {
const std::string kEmpty;
}

const std::string& ParameterImage::text(int address) const
{
    return isValidAddress(address) ? m_cells[static_cast<std::size_t>(address)] : kEmpty;
}

void ParameterImage::setText(int address, std::string text)
{
    if (isValidAddress(address)) m_cells[static_cast<std::size_t>(address)] = std::move(text);
}

double ParameterImage::number(int address) const
{
    return leadingNumber(text(address));
}

long long ParameterImage::integer(int address) const
{
    return roundHalfEven(number(address));
}

void ParameterImage::setNumber(int address, long long value)
{
    setText(address, std::to_string(value));
}

} // namespace quarvel
