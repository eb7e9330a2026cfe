#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <string_view>

namespace quarvel::sim {

// One coin as the selector's sensors measured it.
struct CoinSample
{
    std::uint8_t type = 0x00; // the record type: the documented 0x92 marks a coin of irregular speed
    std::uint16_t a = 0;      // sent as two bytes, high first; the host expects 0..32767
    std::uint8_t c = 0;
    std::uint8_t unused = 0;
    std::uint8_t x = 0;
    std::uint8_t y = 0;
    std::uint8_t dh = 0;
    bool operator==(const CoinSample&) const = default;
};

// A regular coin's record type is the selector's own choice, and a setting of the virtual
// selector; its default is no value the program knows, so nothing can come to depend on one.
constexpr std::uint8_t kDefaultRecordType = 0x00;
// The type the selector's documentation gives a coin of irregular speed; also a setting, so
// tests can hold the program to the device's byte rather than to this one.
constexpr std::uint8_t kDefaultIrregularRecordType = 0x92;
constexpr int kMeasurementRecordSize = 10;
using MeasurementRecord = std::array<std::uint8_t, kMeasurementRecordSize>;

// The ten bytes the selector sends for one coin: two halves, each closed by the checksum of
// its own first four bytes.
MeasurementRecord measurementRecord(const CoinSample& sample);

// A kind of coin: the mean and spread of each measured quantity over many insertions.
struct CoinType
{
    std::string_view name;
    int value; // coin value in currency units
    double meanA, spreadA;
    double meanC, spreadC;
    double meanX, spreadX;
    double meanY, spreadY;
    double meanDh, spreadDh;
};

// Twelve coin types, one for each channel of the factory memory (index = channel - 1).
std::span<const CoinType> coinTypes();

// The measurements of one insertion of a coin of the given type; its record type is the
// selector's setting, chosen by the caller. Irregular coins measure with twice the usual spread,
// as a coin rolling too fast or too slow would.
CoinSample drawSample(const CoinType& type, bool irregular, std::mt19937& rng);

} // namespace quarvel::sim
