#include "sim/line_schedule.h"

#include <algorithm>

namespace quarvel::sim {

std::int64_t LineSchedule::requestArrivalUs(std::int64_t nowUs, std::size_t bytes)
{
    if (!m_wireTime) return nowUs;
    // Bytes written while the previous ones are still on the line queue behind them.
    const std::int64_t start = std::max(nowUs, m_hostLineFreeUs);
    m_hostLineFreeUs = start + wireTimeUs(bytes);
    return m_hostLineFreeUs;
}

LineSchedule::Slot LineSchedule::placeReply(std::int64_t atUs, std::int64_t delayUs, std::size_t bytes)
{
    if (!m_wireTime) return {atUs + delayUs, atUs + delayUs};
    const std::int64_t start = std::max(atUs + m_turnaroundUs + delayUs, m_deviceLineFreeUs);
    m_deviceLineFreeUs = start + wireTimeUs(bytes);
    return {start, m_deviceLineFreeUs};
}

void LineSchedule::reset()
{
    m_hostLineFreeUs = 0;
    m_deviceLineFreeUs = 0;
}

} // namespace quarvel::sim
