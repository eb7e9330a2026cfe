#include "sim/station_swaps.h"

#include <algorithm>

namespace quarvel::sim {

StationSwaps::Action StationSwaps::frame(std::int64_t nowMs, bool writes)
{
    if (m_away) {
        if (nowMs < m_backAtMs) return Action::None;
        m_away = false;
        m_worked = writes;
        m_quietGaps = 0;
        m_heard = true;
        m_lastMs = nowMs;
        ++m_putOn;
        if (m_putBackNext) return Action::PutBack;
        ++m_unit;
        return Action::PutOnNew;
    }
    // Polls come slowly; a unit's own exchanges, retries and pauses included, come faster.
    if (m_heard && m_worked) m_quietGaps = nowMs - m_lastMs >= m_plan.quietMs ? m_quietGaps + 1 : 0;
    m_heard = true;
    m_lastMs = nowMs;
    if (writes) {
        m_worked = true;
        m_quietGaps = 0;
    }
    if (!m_worked || m_quietGaps < 2) return Action::None;
    std::uniform_int_distribution<std::int64_t> gap(m_plan.minGapMs,
                                                    std::max(m_plan.minGapMs, m_plan.maxGapMs));
    m_away = true;
    m_backAtMs = nowMs + gap(m_rng);
    ++m_takenOff;
    m_putBackNext = m_plan.putBack.erase(m_unit) > 0;
    return Action::TakeOff;
}

} // namespace quarvel::sim
