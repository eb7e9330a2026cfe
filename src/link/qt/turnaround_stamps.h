#pragma once

#include <cstdint>
#include <vector>

// Where the host's time goes between a reply and the next request, for the benches. Only the
// benches' build of the serial link (quarvel_serial_stamped, QUARVEL_TURNAROUND_STAMPS) records;
// everywhere else mark() is empty and compiles away.
namespace quarvel::link::turnaround {

// The steady clock (ns) when the reply's bytes were taken from the device, when the engine had
// decided, and when the write of the next frame began (its traffic and status noted) and when
// it returned.
struct Stamp
{
    std::int64_t seenNs = 0;
    std::int64_t decidedNs = 0;
    std::int64_t writingNs = 0;
    std::int64_t writtenNs = 0;
};

enum class Point
{
    Seen, // opens the stamp of a reply
    Decided,
    Writing, // the first of each is kept
    Written,
    Done // closes it; kept when a write followed
};

#ifdef QUARVEL_TURNAROUND_STAMPS
void mark(Point point);
// Kept only while switched on; switching drops what was kept.
void record(bool on);
std::vector<Stamp> take();
#else
inline void mark(Point) {}
#endif

} // namespace quarvel::link::turnaround
