#include "session/station_presence.h"

#include "image/address_map.h"
#include "image/cell_byte.h"

#include <algorithm>
#include <vector>

namespace quarvel::session {

using address::kIdentityCells;

void SelectorPresence::answered(std::int64_t nowMs)
{
    m_missed = 0;
    m_heardMs = nowMs;
}

// The silence is measured from the last time the selector was heard of, not between the misses:
// polls a few milliseconds quicker than their interval must not keep a selector that was away
// for seconds from counting as gone.
bool SelectorPresence::unanswered(std::int64_t nowMs)
{
    if (!m_heardMs) m_heardMs = nowMs;
    if (++m_missed >= m_rule.polls && nowMs - *m_heardMs >= m_rule.ms) m_gone = true;
    return m_gone;
}

void SelectorPresence::reset(bool gone, std::int64_t nowMs)
{
    m_gone = gone;
    m_missed = 0;
    m_heardMs = nowMs;
}

void SelectorFingerprint::learn(const ParameterImage& read)
{
    for (int cell = 0; cell < ParameterImage::kSelectorCells; ++cell)
        m_cells[static_cast<std::size_t>(cell)] = cellByte(read.text(cell));
}

void SelectorFingerprint::learnProgrammed(const ParameterImage& sent, const ProgramResult& result)
{
    for (const RangeResult& range : result.ranges) {
        if (range.cellsWritten == 0) continue;
        const bool whole = range.reason == link::EndReason::Succeeded;
        for (int cell = range.first; cell <= range.last; ++cell)
            m_cells[static_cast<std::size_t>(cell)] =
                whole ? std::optional<std::uint8_t>(cellByte(sent.text(cell))) : std::nullopt;
    }
}

bool SelectorFingerprint::matches(const ParameterImage& read) const
{
    for (const int cell : kIdentityCells)
        if (!m_cells[static_cast<std::size_t>(cell)]) return false;
    for (int cell = 0; cell < ParameterImage::kSelectorCells; ++cell) {
        const auto& known = m_cells[static_cast<std::size_t>(cell)];
        if (known && *known != cellByte(read.text(cell))) return false;
    }
    return true;
}

int SelectorFingerprint::pollCell(std::uint64_t n) const
{
    const auto isIdentity = [](int cell) {
        return std::find(kIdentityCells.begin(), kIdentityCells.end(), cell) != kIdentityCells.end();
    };
    std::vector<int> known;
    for (int cell = 0; cell < ParameterImage::kSelectorCells; ++cell)
        if (m_cells[static_cast<std::size_t>(cell)] && !isIdentity(cell)) known.push_back(cell);
    if (n % 2 == 0 || known.empty()) return kIdentityCells[(n / 2) % kIdentityCells.size()];
    return known[(n / 2) % known.size()];
}

bool SelectorFingerprint::differs(int cell, std::uint8_t value) const
{
    const auto& known = m_cells.at(static_cast<std::size_t>(cell));
    return known && *known != value;
}

} // namespace quarvel::session
