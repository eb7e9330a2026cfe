#pragma once

#include "link/frame.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::link {

enum class Direction
{
    Sent,
    Received
};

// One frame (or run of bytes) on the line, for a traffic log and `quarvelctl --trace`.
struct TrafficEntry
{
    std::int64_t timeMs = 0; // on the link's monotonic clock
    Direction direction = Direction::Sent;
    std::vector<std::uint8_t> bytes;
    // What it means: "read cell 17", "write cell 3 = 44", "start sampling", "end of programming",
    // "reply: cell 17 = 44", "record: A=5055 X=41 Y=42 dH=48", "bad checksum", "noise dropped"
    std::string meaning;
    bool operator==(const TrafficEntry&) const = default;
};

// The meaning of a frame the host sends.
std::string describeRequest(const Frame& frame);

// One line: time in ms, "->" or "<-", the bytes in upper-case hex, then the meaning:
// "    1234.567 -> E1 11 08 06 00  read cell 17"
std::string formatTraffic(const TrafficEntry& entry);

} // namespace quarvel::link
