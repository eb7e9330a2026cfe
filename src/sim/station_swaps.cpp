#include "sim/station_swaps.h"

#include <algorithm>

namespace quarvel::sim {

bool StationSwaps::hostQuiet(std::int64_t nowMs, int gaps)
{
    // Polls come slowly; a unit's own exchanges, retries and pauses included, come faster.
    if (m_heard) m_quietGaps = nowMs - m_lastMs >= m_plan.quietMs ? m_quietGaps + 1 : 0;
    m_heard = true;
    m_lastMs = nowMs;
    return m_quietGaps >= gaps;
}

std::int64_t StationSwaps::drawGap()
{
    std::uniform_int_distribution<std::int64_t> gap(m_plan.minGapMs,
                                                    std::max(m_plan.minGapMs, m_plan.maxGapMs));
    return gap(m_rng);
}

StationSwaps::Action StationSwaps::frame(std::int64_t nowMs, bool writes)
{
    if (m_away) {
        // One taken off too early comes back once the host has reported it and polled a while:
        // the operator reads the result first.
        if (!m_backKnown && hostQuiet(nowMs, 3)) {
            m_backKnown = true;
            m_backAtMs = nowMs + drawGap();
        }
        if (!m_backKnown || nowMs < m_backAtMs) return Action::None;
        m_away = false;
        m_writes = writes ? 1 : 0;
        m_quietGaps = 0;
        m_heard = true;
        m_lastMs = nowMs;
        ++m_putOn;
        if (m_cut) return Action::PutBack;
        ++m_unit;
        return Action::PutOnNew;
    }
    const bool quiet = hostQuiet(nowMs, 2);
    if (writes) {
        ++m_writes;
        m_quietGaps = 0;
    }
    m_cut = m_writes >= m_plan.cutAfterWrites && m_plan.putBack.count(m_unit) > 0;
    if (m_cut) {
        m_plan.putBack.erase(m_unit);
        m_backKnown = false;
        m_quietGaps = 0;
    } else if (m_writes == 0 || !quiet) {
        return Action::None;
    } else {
        m_backKnown = true;
        m_backAtMs = nowMs + drawGap();
    }
    m_away = true;
    ++m_takenOff;
    return Action::TakeOff;
}

} // namespace quarvel::sim
