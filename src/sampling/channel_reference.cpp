#include "sampling/channel_reference.h"

#include "image/parameter_image.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

namespace quarvel::sampling {

namespace {

constexpr char kSuccessPrefix[] = "Sampling ok :";
constexpr float kMaxA = 65535.0F;
constexpr int kMaxReferenceByte = 255;
// The last value of the trimmed range counts again with this weight in the spread figure.
constexpr double kLastValueWeight = 4.8;

// Descending exchange sort. Equal entries are exchanged as well; with plain numbers that
// cannot change which values land in the trimmed range.
template <typename T> std::vector<T> sortedDescending(std::span<const T> series)
{
    std::vector<T> v(series.begin(), series.end());
    for (std::size_t i = 0; i + 1 < v.size(); ++i)
        for (std::size_t j = i + 1; j < v.size(); ++j)
            if (!(v[i] > v[j])) std::swap(v[i], v[j]);
    return v;
}

// The trimmed range skips the two largest and the two smallest values of a sorted series.
constexpr std::size_t kTrimFirst = 2;
std::size_t trimLast(std::size_t n)
{
    return n - 3;
}
int trimmedCount(std::size_t n)
{
    return static_cast<int>(n) - 4;
}

long long floorDiv(long long numerator, long long denominator)
{
    long long q = numerator / denominator;
    if ((numerator % denominator != 0) && ((numerator < 0) != (denominator < 0))) --q;
    return q;
}

long long trimmedSum(const std::vector<std::int16_t>& sorted)
{
    long long sum = 0;
    for (std::size_t k = kTrimFirst; k <= trimLast(sorted.size()); ++k)
        sum += sorted[k];
    return sum;
}

struct Raised
{
    int reference;
    int spread;
};

// Y and dH: the reference is always above the trimmed mean, by one when the mean's
// fraction is at most a half and by two otherwise. The mean is held in single precision.
Raised raisedReference(std::span<const std::int16_t> series)
{
    const std::vector<std::int16_t> v = sortedDescending(series);
    const std::size_t n = v.size();
    const auto m = static_cast<float>(static_cast<double>(trimmedSum(v)) / trimmedCount(n));
    const float whole = std::floor(m);
    const float fraction = m - whole;
    // Raising can pass the byte (samples of 255 give 256), and 256 would be programmed as 0:
    // the reference stops at the largest byte.
    const int reference = std::min(static_cast<int>(whole) + (fraction <= 0.5F ? 1 : 2), kMaxReferenceByte);

    // The running total is rounded to a whole number after every addition.
    long long total = 0;
    for (std::size_t k = kTrimFirst; k <= trimLast(n); ++k) {
        const double d = v[k] - static_cast<double>(m);
        total = roundHalfEven(static_cast<double>(total) + d * d);
    }
    const double dLast = v[trimLast(n)] - static_cast<double>(m);
    total = roundHalfEven(static_cast<double>(total) + kLastValueWeight * dLast * dLast);
    const auto spread = static_cast<float>(std::fabs(std::sqrt(static_cast<double>(total) / (n - 1))));
    return {reference, static_cast<int>(std::floor(spread))};
}

std::string upperHex(int value)
{
    char buffer[16];
    const auto [end, ec] = std::to_chars(std::begin(buffer), std::end(buffer), value, 16);
    std::string text(std::begin(buffer), ec == std::errc{} ? end : std::begin(buffer));
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::optional<ChannelReference> ChannelReference::compute(std::span<const float> a,
                                                          std::span<const std::int16_t> x,
                                                          std::span<const std::int16_t> y,
                                                          std::span<const std::int16_t> dh)
{
    const std::size_t n = a.size();
    if (n < static_cast<std::size_t>(kMinSamples) || n > static_cast<std::size_t>(kMaxSamples) ||
        x.size() != n || y.size() != n || dh.size() != n)
        return std::nullopt;
    for (const float value : a)
        if (!std::isfinite(value) || value < 0.0F || value > kMaxA) return std::nullopt;

    ChannelReference result;

    // A: the running total is rounded to a whole number after every addition.
    const std::vector<float> sortedA = sortedDescending(a);
    long long total = 0;
    for (std::size_t k = kTrimFirst; k <= trimLast(n); ++k)
        total = roundHalfEven(static_cast<double>(total) + sortedA[k]);
    result.aReference = static_cast<int>(floorDiv(total, trimmedCount(n)));
    result.aHigh = result.aReference / 256;
    result.aLow = result.aReference - 256 * result.aHigh;
    result.aWindow = kAWindow;

    const Raised ry = raisedReference(y);
    result.yReference = ry.reference;
    result.ySpread = ry.spread;

    const Raised rdh = raisedReference(dh);
    result.dhReference = rdh.reference;
    result.dhSpread = rdh.spread;

    result.xReference = static_cast<int>(floorDiv(trimmedSum(sortedDescending(x)), trimmedCount(n)));
    return result;
}

std::string ChannelReference::successText() const
{
    // The two zeros stand for the two cells of the channel block that sampling leaves alone.
    return kSuccessPrefix + upperHex(aLow) + " " + upperHex(aHigh) + " " + upperHex(aWindow) + " 0 0 " +
           upperHex(xReference) + " (" + upperHex(ySpread) + " " + upperHex(yReference) + ") (" +
           upperHex(dhSpread) + " " + upperHex(dhReference) + ")";
}

} // namespace quarvel::sampling
