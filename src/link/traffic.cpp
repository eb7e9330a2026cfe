#include "link/traffic.h"

#include <cstdio>

namespace quarvel::link {

std::string describeRequest(const Frame& frame)
{
    const auto n = [](std::uint8_t b) { return std::to_string(b); };
    const bool fixedTail = frame[1] == 1 && frame[2] == 2 && frame[3] == 3;
    // The fixed command shares the write code; its bytes tell it apart from a write of cell 223.
    if (frame == tsmrFrame()) return "TSMR";
    switch (frame[0]) {
    case command::kRead:
        return "read cell " + n(frame[1]);
    case command::kWrite:
        return "write cell " + n(frame[1]) + " = " + n(frame[3]);
    case command::kEndProgramming:
        if (fixedTail) return "end of programming";
        break;
    case command::kStartSampling:
        if (fixedTail) return "start sampling";
        break;
    case command::kEndSampling:
        if (fixedTail) return "end sampling";
        break;
    default:
        break;
    }
    return "unknown command";
}

const char* faultMeaning(ExchangeFault fault)
{
    switch (fault) {
    case ExchangeFault::TimeOut:
        return "time out";
    case ExchangeFault::BadChecksum:
        return "bad checksum";
    case ExchangeFault::WrongEcho:
        return "wrong echo";
    case ExchangeFault::Echoed:
        return "echo of the request";
    }
    return "";
}

std::string formatTraffic(const TrafficEntry& entry)
{
    char head[48];
    const int fraction = entry.fractionUs < 0 || entry.fractionUs > 999 ? 0 : entry.fractionUs;
    std::snprintf(head, sizeof head, "%8lld.%03d %s", static_cast<long long>(entry.timeMs), fraction,
                  entry.direction == Direction::Sent ? "->" : "<-");
    std::string line = head;
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::uint8_t b : entry.bytes) {
        line += ' ';
        line += kHex[b >> 4];
        line += kHex[b & 0x0F];
    }
    if (!entry.meaning.empty()) line += "  " + entry.meaning;
    return line;
}

} // namespace quarvel::link
