#include "link/qt/turnaround_stamps.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <utility>

namespace quarvel::link::turnaround {

namespace {

std::mutex g_mutex;
bool g_on = false;
std::optional<Stamp> g_open; // of the reply being handled
std::vector<Stamp> g_stamps;

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void mark(Point point)
{
    const std::int64_t ns = steadyNs();
    const std::lock_guard lock(g_mutex);
    if (!g_on) return;
    if (point == Point::Seen) {
        g_open = Stamp{ns, 0, 0, 0};
        return;
    }
    if (!g_open) return;
    auto& stamp = *g_open;
    switch (point) {
    case Point::Decided:
        stamp.decidedNs = ns;
        break;
    case Point::Writing:
        if (stamp.writingNs == 0) stamp.writingNs = ns;
        break;
    case Point::Written:
        if (stamp.writtenNs == 0 && stamp.writingNs != 0) stamp.writtenNs = ns;
        break;
    case Point::Seen:
    case Point::Done:
        if (stamp.writtenNs != 0) g_stamps.push_back(stamp);
        g_open.reset();
        break;
    }
}

void record(bool on)
{
    const std::lock_guard lock(g_mutex);
    g_on = on;
    g_open.reset();
    g_stamps.clear();
}

std::vector<Stamp> take()
{
    const std::lock_guard lock(g_mutex);
    return std::exchange(g_stamps, {});
}

} // namespace quarvel::link::turnaround
