#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace quarvel::sampling {

constexpr int kRecordSize = 10;
// The one record type with a meaning of its own: a coin of irregular speed. Every other value
// of byte 0 is a record type too; selectors differ in what they send for a regular coin.
constexpr std::uint8_t kIrregularSpeed = 0x92;

// One accepted coin of a sampling run.
struct Sample
{
    int a = 0; // 0..32767
    int x = 0;
    int y = 0;
    int dh = 0;
    bool irregular = false; // the record was of type 0x92
    bool operator==(const Sample&) const = default;
};

enum class RecordCheck
{
    Accepted,
    BadChecksum, // either half's checksum is wrong: skip silently
    UnknownType, // both checksums pass but byte 0 is no record type: not a record boundary
    AOutOfRange  // A high byte 128 or more: does not fit the A value; rejected
};

struct DecodedRecord
{
    RecordCheck check = RecordCheck::BadChecksum;
    Sample sample;         // meaningful when Accepted
    std::string speedText; // "speed strange : A=..B=..C=..X=..Y=..dH=.." for type 0x92, else ""
};

DecodedRecord decodeRecord(std::span<const std::uint8_t, kRecordSize> record);

} // namespace quarvel::sampling
