#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quarvel::sampling {

// The reference values of one coin channel, reduced from the samples of one sampling run.
// Each quantity is a trimmed mean: the two highest and two lowest samples are dropped.
struct ChannelReference
{
    static constexpr int kSampleCount = 12; // coins per run
    static constexpr int kMinSamples = 5;   // smallest run that leaves a trimmed range
    static constexpr int kMaxSamples = 80;  // what a run's series can hold
    static constexpr int kAWindow = 10;

    int aReference = 0; // trimmed mean of A, rounded down
    int aHigh = 0;      // aReference / 256
    int aLow = 0;       // aReference % 256
    int aWindow = kAWindow;
    int xReference = 0;  // trimmed mean of X, rounded down
    int yReference = 0;  // trimmed mean of Y, raised above it, at most 255
    int dhReference = 0; // likewise for dH
    int ySpread = 0;     // spread figures, shown to the technician only
    int dhSpread = 0;

    // Computes the references from the four series of one run, all of the same length
    // between kMinSamples and kMaxSamples (runs collect kSampleCount). The series are
    // copied, not sorted in place. Empty when the lengths differ or are out of range, or
    // when an A value is not a finite number within 0..65535 (two record bytes).
    static std::optional<ChannelReference> compute(std::span<const float> a, std::span<const std::int16_t> x,
                                                   std::span<const std::int16_t> y,
                                                   std::span<const std::int16_t> dh);

    // "Sampling ok :" followed by the values in upper-case hexadecimal, e.g.
    // "Sampling ok :BF 13 A 0 0 29 (0 2A) (1 30)".
    std::string successText() const;

    bool operator==(const ChannelReference&) const = default;
};

} // namespace quarvel::sampling
