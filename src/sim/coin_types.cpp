#include "sim/coin_types.h"

#include "link/frame.h"
#include "sim/seeded_random.h"

#include <algorithm>
#include <cmath>

namespace quarvel::sim {

namespace {

// A coins and references rise with the coin's size; the byte quantities stay well inside
// 0..255 even at several spreads from the mean.
constexpr std::array<CoinType, 12> kCoinTypes{{
    {"coin 1", 1, 3120, 18, 42, 2, 61, 2, 88, 2, 35, 1.5},
    {"coin 2", 2, 3610, 20, 47, 2, 70, 2, 95, 2, 41, 1.5},
    {"coin 5", 5, 4050, 22, 51, 2, 78, 2, 104, 2, 47, 1.5},
    {"coin 10", 10, 4580, 24, 55, 2, 86, 2, 112, 2, 52, 1.5},
    {"coin 20", 20, 5130, 26, 60, 2, 95, 2, 121, 2, 58, 1.5},
    {"coin 50", 50, 5640, 28, 64, 2, 104, 2, 129, 2, 64, 1.5},
    {"coin 100", 100, 6170, 30, 69, 2, 112, 2, 138, 2, 70, 1.5},
    {"coin 200", 200, 6720, 32, 73, 2, 121, 2, 146, 2, 76, 1.5},
    {"token 5", 5, 7260, 34, 78, 2, 130, 2, 155, 2, 82, 1.5},
    {"token 10", 10, 7810, 36, 82, 2, 139, 2, 163, 2, 88, 1.5},
    {"token 20", 20, 8340, 38, 87, 2, 147, 2, 172, 2, 94, 1.5},
    {"token 50", 50, 8890, 40, 91, 2, 156, 2, 180, 2, 100, 1.5},
}};

std::uint8_t toByte(double value)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

} // namespace

MeasurementRecord measurementRecord(const CoinSample& s)
{
    const auto high = static_cast<std::uint8_t>(s.a >> 8);
    const auto low = static_cast<std::uint8_t>(s.a & 0xFF);
    return {s.type,   high, low, s.c,  link::checksum(s.type, high, low, s.c),
            s.unused, s.x,  s.y, s.dh, link::checksum(s.unused, s.x, s.y, s.dh)};
}

std::span<const CoinType> coinTypes()
{
    return kCoinTypes;
}

CoinSample drawSample(const CoinType& type, bool irregular, std::mt19937& rng)
{
    const double widen = irregular ? 2.0 : 1.0;
    CoinSample s;
    s.a = static_cast<std::uint16_t>(
        std::clamp(std::lround(normal(rng, type.meanA, type.spreadA * widen)), 0L, 32767L));
    s.c = toByte(normal(rng, type.meanC, type.spreadC * widen));
    s.x = toByte(normal(rng, type.meanX, type.spreadX * widen));
    s.y = toByte(normal(rng, type.meanY, type.spreadY * widen));
    s.dh = toByte(normal(rng, type.meanDh, type.spreadDh * widen));
    return s;
}

} // namespace quarvel::sim
