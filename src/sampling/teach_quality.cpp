#include "sampling/teach_quality.h"

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "image/field_codecs.h"
#include "image/parameter_image.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>

namespace quarvel::sampling {

namespace {

constexpr int kDroppedEachEnd = 2;

int valueOf(const Sample& s, Quantity q)
{
    switch (q) {
    case Quantity::A:
        return s.a;
    case Quantity::X:
        return s.x;
    case Quantity::Y:
        return s.y;
    case Quantity::Dh:
        return s.dh;
    }
    return 0;
}

int referenceOf(const ChannelReference& r, Quantity q)
{
    switch (q) {
    case Quantity::A:
        return r.aReference;
    case Quantity::X:
        return r.xReference;
    case Quantity::Y:
        return r.yReference;
    case Quantity::Dh:
        return r.dhReference;
    }
    return 0;
}

} // namespace

const char* quantityName(Quantity quantity)
{
    switch (quantity) {
    case Quantity::A:
        return "A";
    case Quantity::X:
        return "X";
    case Quantity::Y:
        return "Y";
    case Quantity::Dh:
        return "dH";
    }
    return "";
}

std::vector<bool> droppedSamples(std::span<const int> values)
{
    const std::size_t n = values.size();
    std::vector<bool> dropped(n, false);
    if (n < static_cast<std::size_t>(ChannelReference::kMinSamples)) return dropped;
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t l, std::size_t r) { return values[l] < values[r]; });
    for (int k = 0; k < kDroppedEachEnd; ++k) {
        dropped[order[static_cast<std::size_t>(k)]] = true;
        dropped[order[n - 1 - static_cast<std::size_t>(k)]] = true;
    }
    return dropped;
}

ChannelReferences referencesOf(const ParameterImage& image, int channel)
{
    // What the selector would hold once programmed, so the rule judges the bytes it compares.
    const auto byteAt = [&](int address) { return static_cast<int>(cellByte(image.text(address))); };
    ChannelReferences r;
    r.channel = channel;
    r.enabled = decodeCoinControl(image.text(address::coinControl(channel))).disable == 0;
    r.a = byteAt(address::refAHigh(channel)) * 256 + byteAt(address::refALow(channel));
    r.x = byteAt(address::refX(channel));
    r.y = byteAt(address::refY(channel));
    return r;
}

bool referencesClose(const ChannelReferences& one, const ChannelReferences& other)
{
    // A channel without an A reference was never taught: no coin can be taken for it.
    if (one.a <= 0 || other.a <= 0) return false;
    const int larger = std::max(one.a, other.a);
    return std::abs(one.a - other.a) * 100.0 <= kCloseAPercent * larger &&
           std::abs(one.x - other.x) <= kCloseUnits && std::abs(one.y - other.y) <= kCloseUnits;
}

std::vector<std::string> TeachQuality::warningTexts() const
{
    std::vector<std::string> texts;
    if (irregularCount > 0)
        texts.push_back("irregular coin counted (" + std::to_string(irregularCount) + ")");
    if (ySpreadLarge)
        texts.push_back("Y spread " + std::to_string(ySpread) + " large for tolerance " +
                        std::to_string(tolerance));
    if (dhSpreadLarge)
        texts.push_back("dH spread " + std::to_string(dhSpread) + " large for tolerance " +
                        std::to_string(tolerance));
    for (const int other : closeTo)
        texts.push_back("close to coin " + std::to_string(other));
    return texts;
}

TeachQuality assessTeach(int channel, std::span<const Sample> samples, const ChannelReference& reference,
                         const ParameterImage& image)
{
    TeachQuality q;
    q.channel = channel;
    for (std::size_t i = 0; i < kQuantities.size(); ++i) {
        QualitySeries& s = q.series[i];
        for (const Sample& sample : samples)
            s.values.push_back(valueOf(sample, kQuantities[i]));
        s.dropped = droppedSamples(s.values);
        s.reference = referenceOf(reference, kQuantities[i]);
    }
    q.ySpread = reference.ySpread;
    q.dhSpread = reference.dhSpread;

    q.irregularCount = static_cast<int>(
        std::count_if(samples.begin(), samples.end(), [](const Sample& s) { return s.irregular; }));

    const ToleranceBC tolerances = decodeToleranceBC(image.text(address::toleranceBC(channel)));
    q.tolerance = std::min(tolerances.toleranceB, tolerances.toleranceC);
    q.ySpreadLarge = q.ySpread * kSpreadToleranceDivisor > q.tolerance;
    q.dhSpreadLarge = q.dhSpread * kSpreadToleranceDivisor > q.tolerance;

    const ChannelReferences mine = referencesOf(image, channel);
    for (int other = 1; other <= address::kChannelCount; ++other) {
        if (other == channel) continue;
        const ChannelReferences theirs = referencesOf(image, other);
        if (theirs.enabled && referencesClose(mine, theirs)) q.closeTo.push_back(other);
    }
    return q;
}

} // namespace quarvel::sampling
