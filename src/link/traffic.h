#pragma once

#include "link/frame.h"
#include "link/transfer.h"

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
    int fractionUs = 0;      // 0..999: microseconds past timeMs, when the clock has them
    Direction direction = Direction::Sent;
    std::vector<std::uint8_t> bytes;
    // What it means: "read cell 17", "write cell 3 = 44", "start sampling", "end of programming",
    // "cell 17 = 44", "record: A=5055 X=41 Y=42 dH=48", "bad checksum", "noise dropped"
    std::string meaning;
    bool operator==(const TrafficEntry&) const = default;
};

// What a run of bytes was when it was not a good reply.
inline constexpr char kNoiseDropped[] = "noise dropped";
// Bytes that came while the line was to fall quiet, or before a request went out: the late
// answer to an earlier request, never this one's.
inline constexpr char kStaleDropped[] = "stale bytes dropped";
// A late or repeated answer to the start of sampling, met where the records come.
inline constexpr char kLateHandshakeAnswer[] = "sampling answer set aside";
// "time out", "bad checksum", "wrong echo", "echo of the request".
const char* faultMeaning(ExchangeFault fault);

// The meaning of a frame the host sends.
std::string describeRequest(const Frame& frame);

// One line, no newline: the time in milliseconds with three decimals, right-aligned in eight
// digits before the point; "->" (sent) or "<-" (received); the bytes in two-digit upper-case
// hex, one blank apart; two blanks and the meaning (left out when empty):
// "    1234.567 -> E1 11 08 06 00  read cell 17"
// "    1234.589 <- E1 11 00 2C 0E  cell 17 = 44"
std::string formatTraffic(const TrafficEntry& entry);

} // namespace quarvel::link
