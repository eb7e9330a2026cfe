#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

namespace quarvel::sim {

// std::mt19937's output sequence is fixed by the standard, but the <random> distributions are
// not. Doing the conversions here keeps a seed's draws the same on every standard library.

// Uniform in (0, 1), never exactly 0 or 1.
inline double uniform01(std::mt19937& rng)
{
    return (static_cast<double>(rng()) + 0.5) / 4294967296.0;
}

// Uniform whole number in [low, high]; the modulo bias is far below anything a test could see.
inline std::int64_t uniformInt(std::mt19937& rng, std::int64_t low, std::int64_t high)
{
    if (high <= low) return low;
    const auto span = static_cast<std::uint64_t>(high - low) + 1;
    const std::uint64_t wide = (static_cast<std::uint64_t>(rng()) << 32) | rng();
    return low + static_cast<std::int64_t>(wide % span);
}

// Normal deviate by the Box-Muller transform.
inline double normal(std::mt19937& rng, double mean, double spread)
{
    const double u1 = uniform01(rng);
    const double u2 = uniform01(rng);
    return mean + spread * std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

} // namespace quarvel::sim
