#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace quarvel::link {

// Every request and reply on the line is five bytes: command, three data bytes, checksum.
using Frame = std::array<std::uint8_t, 5>;
constexpr int kFrameSize = 5;

// How long the line must stay silent for what the selector was sending to be over. A selector
// sends a frame, or a measurement record, as one burst (ten bytes take about 5.2 ms at 19200
// baud), and coins pass far further apart than that; a USB adapter may still hand over one
// burst in two chunks one 16 ms latency-timer tick apart. So: well over one tick, and well
// under the time between two coins.
constexpr std::int64_t kLineQuietMs = 40;

// How long a request waits for its reply, unless a run is timed otherwise.
constexpr int kReplyTimeoutMs = 200;

// Low 8 bits of the sum of the four bytes before it.
constexpr std::uint8_t checksum(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3)
{
    return static_cast<std::uint8_t>((b0 + b1 + b2 + b3) & 0xFF);
}

constexpr Frame makeFrame(std::uint8_t command, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3)
{
    return Frame{command, b1, b2, b3, checksum(command, b1, b2, b3)};
}

// True when bytes holds at least five bytes and the fifth is the checksum of the first four.
constexpr bool hasValidChecksum(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 5 && bytes[4] == checksum(bytes[0], bytes[1], bytes[2], bytes[3]);
}

namespace command {
constexpr std::uint8_t kRead = 0xE1;           // 225: addr, 8, 6 -> 225, addr, any, value
constexpr std::uint8_t kWrite = 0xE2;          // 226: addr, 85, v -> 226, any, any, any
constexpr std::uint8_t kEndProgramming = 0x89; // 137: 1, 2, 3, no reply
constexpr std::uint8_t kStartSampling = 0xE3;  // 227: 1, 2, 3 -> 227, any, any, any
constexpr std::uint8_t kEndSampling = 0x84;    // 132: 1, 2, 3, no reply
} // namespace command

constexpr Frame readRequest(std::uint8_t address)
{
    return makeFrame(command::kRead, address, 8, 6);
}
constexpr Frame writeRequest(std::uint8_t address, std::uint8_t value)
{
    return makeFrame(command::kWrite, address, 85, value);
}
constexpr Frame endOfProgrammingFrame()
{
    return makeFrame(command::kEndProgramming, 1, 2, 3);
}
constexpr Frame startSamplingFrame()
{
    return makeFrame(command::kStartSampling, 1, 2, 3);
}
constexpr Frame endSamplingFrame()
{
    return makeFrame(command::kEndSampling, 1, 2, 3);
}
// The fixed one-frame command of the sampling window ("TSMR"); no reply.
constexpr Frame tsmrFrame()
{
    return makeFrame(command::kWrite, 223, 1, 239);
}

} // namespace quarvel::link
