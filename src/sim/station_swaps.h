#pragma once

#include <cstdint>
#include <random>
#include <set>

namespace quarvel::sim {

// How the operator of a station changes selectors on the virtual selector's port.
struct SwapPlan
{
    std::int64_t minGapMs = 300;  // a unit is away this long at least before the next is on
    std::int64_t maxGapMs = 3000; // and at most this long (drawn, seeded)
    std::int64_t quietMs = 400;   // the host has finished a unit once two gaps this long follow
    std::uint32_t seed = 1;
    // Units (1 = the first on the port) taken off too early, after cutAfterWrites writes, and
    // put back as they are once the host has finished with them, instead of a new one.
    std::set<int> putBack;
    int cutAfterWrites = 50;
};

// The operator as the selector sees it, from the frames it receives: a unit that was written to
// is taken off once the host only polls it, and the next is put on after the drawn gap. Time
// comes in with each frame; nothing here reads a clock.
class StationSwaps
{
public:
    enum class Action
    {
        None,
        TakeOff,
        PutOnNew,
        PutBack
    };

    explicit StationSwaps(SwapPlan plan) : m_plan(std::move(plan)), m_rng(m_plan.seed) {}

    // A frame arrives at nowMs (writes: a write or end of programming); what happens to the
    // selector before it is answered.
    Action frame(std::int64_t nowMs, bool writes);

    bool away() const { return m_away; }
    int unit() const { return m_unit; }        // the unit on the port (or last taken off)
    int unitsPutOn() const { return m_putOn; } // every unit put on, the first and put back included
    int unitsTakenOff() const { return m_takenOff; }

private:
    // Counts a gap of quietMs or more since the last frame; true once gaps came in a row.
    bool hostQuiet(std::int64_t nowMs, int gaps);
    std::int64_t drawGap();

    SwapPlan m_plan;
    std::mt19937 m_rng;
    bool m_away = false;
    bool m_cut = false; // the unit away was taken off too early and comes back
    bool m_backKnown = false;
    int m_writes = 0; // since it was put on
    bool m_heard = false;
    std::int64_t m_lastMs = 0;
    std::int64_t m_backAtMs = 0;
    int m_quietGaps = 0;
    int m_unit = 1;
    int m_putOn = 1;
    int m_takenOff = 0;
};

} // namespace quarvel::sim
