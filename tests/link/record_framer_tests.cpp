#include "link/record_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quarvel;
using namespace quarvel::link;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Its bytes 1 to 3 are the selector's own; a late answer repeats them.
const Bytes kAnswer{0xE3, 0x07, 0x00, 0x01, 0xEB};

Bytes record(int n, std::uint8_t type = 0x00, std::uint8_t aHigh = 0x13)
{
    Bytes r{type, aHigh, static_cast<std::uint8_t>(n), 7, 0, 0, static_cast<std::uint8_t>(40 + n), 42, 48, 0};
    r[4] = static_cast<std::uint8_t>(r[0] + r[1] + r[2] + r[3]);
    r[9] = static_cast<std::uint8_t>(r[5] + r[6] + r[7] + r[8]);
    return r;
}
Bytes half(const Bytes& r, int which)
{
    return Bytes(r.begin() + which * 5, r.begin() + which * 5 + 5);
}
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One arrival: after gapMs of silence, these bytes, split into chunks of `chunk` bytes 1 ms apart.
struct Arrival
{
    std::int64_t gapMs;
    Bytes bytes;
    std::size_t chunk = 64;
};

// The events, one letter each: F first half, R record counted (its coin number), r record
// rejected, L late answer, D dropped, N<coins> counting resumed.
std::string run(const std::vector<Arrival>& arrivals)
{
    RecordFramer framer;
    framer.begin(std::span<const std::uint8_t, kFrameSize>(kAnswer.data(), kFrameSize));
    std::string trace;
    const auto note = [&trace](const std::vector<RecordFramer::Event>& events) {
        using Kind = RecordFramer::Event::Kind;
        for (const auto& e : events) {
            if (e.kind == Kind::FirstHalf) trace += "F ";
            if (e.kind == Kind::LateAnswer) trace += "L ";
            if (e.kind == Kind::Dropped) trace += "D ";
            if (e.kind == Kind::Resumed) trace += "N" + std::to_string(e.coinsLost) + " ";
            if (e.kind == Kind::Record)
                trace += e.decoded.check == sampling::RecordCheck::Accepted
                             ? "R" + std::to_string(e.decoded.sample.x - 40) + " "
                             : std::string("r ");
        }
    };
    std::int64_t now = 0;
    for (const auto& a : arrivals) {
        // The timer the transfer arms fires on time, during the silence.
        const auto due = framer.resumeDueMs();
        if (due && *due <= now + a.gapMs) note(framer.silence(*due));
        now += a.gapMs;
        for (std::size_t at = 0; at < a.bytes.size(); at += a.chunk, ++now)
            note(framer.arrived(std::span(a.bytes).subspan(at, std::min(a.chunk, a.bytes.size() - at)), now));
    }
    return trace;
}

} // namespace

TEST(RecordFramer, CountsOnlyWhatIsCertain)
{
    const Bytes r1 = record(1), r2 = record(2), r3 = record(3);
    Bytes lostByte = record(9);
    lostByte.erase(lostByte.begin() + 6);
    // A record of the start command's type that reads as an answer, but not this selector's.
    const Bytes e3 = record(4, 0xE3);
    struct Case
    {
        const char* name;
        std::vector<Arrival> arrivals;
        std::string trace;
    };
    const std::vector<Case> cases{
        {"late answer between records 30 ms apart, in one read",
         {{0, r1 + kAnswer + r2 + r3}},
         "R1 L R2 R3 "},
        {"late answer between the halves, byte by byte",
         {{0, half(r1, 0) + kAnswer + half(r1, 1) + r2, 1}},
         "F L R1 F R2 "},
        {"halves 250 ms apart, then 1 s apart",
         {{0, half(r1, 0)}, {250, half(r1, 1)}, {600, half(r2, 0)}, {1000, half(r2, 1)}},
         "F R1 F R2 "},
        {"a half split by a long pause is kept",
         {{0, Bytes(r1.begin(), r1.begin() + 3)}, {5000, Bytes(r1.begin() + 3, r1.end())}},
         "R1 "},
        {"a first half that reads as an answer is a half", {{0, e3 + r1}}, "R4 R1 "},
        {"A out of range is a rejected record, not damage", {{0, record(5, 0x92, 0x80) + r1}}, "r R1 "},
        {"noise inside a burst: the rest of it is not counted, the next burst counts",
         {{0, r1 + Bytes{0x55} + r2 + r3}, {200, r1}},
         "R1 D N3 R1 "},
        // Before a record has shown the pause between halves, only a long silence re-aligns.
        {"a lost byte costs its coin", {{0, lostByte}, {200, r2}, {2000, r3}}, "F D N2 R3 "},
        {"damage between the first record's halves, 250 ms apart: its second half is no first",
         {{0, half(r1, 0) + Bytes{0x55}},
          {250, half(r1, 1)},
          {600, half(r2, 0)},
          {250, half(r2, 1)},
          {2000, r3}},
         "F D D D N3 R3 "},
        // Halves seen 250 ms apart: damage between the next halves must not turn its second
        // half into the first of a shifted record.
        {"after damage, a second half after a pause is not taken for a first",
         {{0, half(r1, 0)},
          {250, half(r1, 1)},
          {600, half(r2, 0) + Bytes{0x55, 0x01}},
          {250, half(r2, 1)},
          {600, half(r3, 0)},
          {250, half(r3, 1)}},
         "F R1 F D N2 F R3 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(c.arrivals), c.trace);
    }
}
