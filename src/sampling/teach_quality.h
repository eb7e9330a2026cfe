#pragma once

#include "sampling/channel_reference.h"
#include "sampling/measurement_record.h"

#include <array>
#include <span>
#include <string>
#include <vector>

namespace quarvel {
class ParameterImage;
}

// How good a teach was, for the technician's eye. Nothing here changes what is stored or sent:
// it only looks at a run's samples and the references that the image now holds.
namespace quarvel::sampling {

enum class Quantity
{
    A,
    X,
    Y,
    Dh
};
inline constexpr std::array<Quantity, 4> kQuantities{Quantity::A, Quantity::X, Quantity::Y, Quantity::Dh};
const char* quantityName(Quantity quantity); // "A", "X", "Y", "dH"

// One quantity of a run as a plot shows it: the samples in the order taken, which of them the
// trimmed mean left out, and the reference the channel got.
struct QualitySeries
{
    std::vector<int> values;
    std::vector<bool> dropped; // the two highest and the two lowest (one of each tie only)
    int reference = 0;
};

// Marks the two highest and the two lowest values. Fewer than five values drop nothing, as
// there would be no trimmed range left.
std::vector<bool> droppedSamples(std::span<const int> values);

// The rule for "close to another channel": a coin measured between two channels' references
// could be taken for either. Both A references lie within kCloseAPercent of the larger one and
// the X and Y references differ by at most kCloseUnits each.
inline constexpr double kCloseAPercent = 2.0;
inline constexpr int kCloseUnits = 3;

// A spread figure is large when it exceeds half the channel's tolerance (the stricter of
// Tol-B and Tol-C): a genuine coin two spreads from the reference would then be refused.
inline constexpr int kSpreadToleranceDivisor = 2;

struct ChannelReferences
{
    int channel = 0; // 1..12
    bool enabled = false;
    int a = 0;
    int x = 0;
    int y = 0;
};

// The references a channel holds in the image, and whether the selector accepts its coin.
ChannelReferences referencesOf(const ParameterImage& image, int channel);
bool referencesClose(const ChannelReferences& one, const ChannelReferences& other);

struct TeachQuality
{
    int channel = 0;
    std::array<QualitySeries, 4> series; // indexed like kQuantities
    int ySpread = 0;
    int dhSpread = 0;
    int tolerance = 0; // the limit the spreads were held against
    // Warnings, none of which blocks anything.
    int irregularCount = 0;
    bool ySpreadLarge = false;
    bool dhSpreadLarge = false;
    std::vector<int> closeTo; // other enabled channels with close references, ascending

    bool hasWarnings() const
    {
        return irregularCount > 0 || ySpreadLarge || dhSpreadLarge || !closeTo.empty();
    }
    // One short line per warning, e.g. "irregular coin counted (1)", "Y spread 4 large for
    // tolerance 5", "close to coin 3".
    std::vector<std::string> warningTexts() const;
};

// The quality of a finished run of channel (1..12), judged against the image as it stands
// after the run stored its references.
TeachQuality assessTeach(int channel, std::span<const Sample> samples, const ChannelReference& reference,
                         const ParameterImage& image);

} // namespace quarvel::sampling
