#include "link/record_framer.h"

#include <algorithm>
#include <utility>

namespace quarvel::link {

namespace {
constexpr auto kHalf = static_cast<std::size_t>(kFrameSize);
constexpr auto kRecord = static_cast<std::size_t>(sampling::kRecordSize);
// Until a record of the run has shown how far apart this selector sends its halves, a short
// silence proves nothing: the second half of the record that the damage hit may still come.
constexpr std::int64_t kUntaughtResyncQuietMs = 1500;
} // namespace

void RecordFramer::begin(std::span<const std::uint8_t, kFrameSize> answer)
{
    reset();
    std::copy(answer.begin(), answer.end(), m_answer.begin());
}

void RecordFramer::reset()
{
    m_answer = {};
    m_unit.clear();
    m_unitSplit = 0;
    m_first.reset();
    m_lastMs.reset();
    m_lost = false;
    m_dropped.clear();
    m_lostBytes = 0;
    m_longestHalfGapMs = 0;
    m_halfGapKnown = false;
    m_resumed = false;
}

std::vector<RecordFramer::Event> RecordFramer::arrived(std::span<const std::uint8_t> bytes,
                                                       std::int64_t nowMs)
{
    std::vector<Event> out;
    if (bytes.empty()) return out;
    const bool afterSilence = m_lastMs && nowMs - *m_lastMs >= resyncQuietMs();
    if (afterSilence) giveUpFirstHalf(out);
    if (m_lost && afterSilence) resume(out);
    // A half may pause in the middle; should it then fail, the damage lies before the pause.
    if (afterSilence && !m_unit.empty()) m_unitSplit = m_unit.size();
    m_lastMs = nowMs;
    for (const std::uint8_t b : bytes) {
        if (m_lost) {
            if (m_dropped.empty()) m_droppedAtMs = nowMs;
            m_dropped.push_back(b);
            ++m_lostBytes;
            continue;
        }
        if (m_unit.empty()) m_unitAtMs = nowMs;
        m_unit.push_back(b);
        if (m_unit.size() == kHalf) settleUnit(out);
    }
    flushDropped(out);
    // A first half is named as it comes, so the log keeps the line's order and times.
    if (m_first && !m_first->named) {
        out.push_back(
            Event{Event::Kind::FirstHalf, {m_first->bytes.begin(), m_first->bytes.end()}, m_first->atMs});
        m_first->named = true;
    }
    return out;
}

std::vector<RecordFramer::Event> RecordFramer::silence(std::int64_t nowMs)
{
    std::vector<Event> out;
    if (!m_lastMs || nowMs - *m_lastMs < resyncQuietMs()) return out;
    giveUpFirstHalf(out);
    if (m_lost) resume(out);
    return out;
}

// After damage the silence only suggests where a record begins. A first half then left alone
// for well beyond the longest pause between halves (or the long wait before that is known) is no first half:
// the second half of a record whose first was spoiled, or noise that passed its checksum by
// chance. Pairing it would count shifted records from here on.
void RecordFramer::giveUpFirstHalf(std::vector<Event>& out)
{
    if (!m_first || !m_unit.empty() || !m_resumed) return;
    if (!m_first->named) {
        m_droppedAtMs = m_first->atMs;
        m_dropped.assign(m_first->bytes.begin(), m_first->bytes.end());
    }
    m_first.reset();
    m_lost = true;
    m_lostBytes = kHalf;
    flushDropped(out);
}

std::optional<std::int64_t> RecordFramer::resumeDueMs() const
{
    const bool lonelyHalf = m_first && m_unit.empty() && m_resumed;
    if (!(m_lost || lonelyHalf) || !m_lastMs) return std::nullopt;
    return *m_lastMs + resyncQuietMs();
}

// A second half may come after a pause as long as the longest seen: only a silence well beyond
// it shows that no record is half way through.
std::int64_t RecordFramer::resyncQuietMs() const
{
    const std::int64_t taught = kLineQuietMs + 2 * m_longestHalfGapMs;
    return m_halfGapKnown ? taught : std::max(taught, kUntaughtResyncQuietMs);
}

void RecordFramer::settleUnit(std::vector<Event>& out)
{
    Half unit;
    std::copy(m_unit.begin(), m_unit.end(), unit.bytes.begin());
    unit.atMs = m_unitAtMs;
    unit.endMs = m_lastMs.value_or(m_unitAtMs);
    const std::size_t split = std::exchange(m_unitSplit, 0);
    m_unit.clear();

    if (split > 0 && !hasValidChecksum(unit.bytes) && unit.bytes != m_answer) {
        // What came before the silence is lost; the silence re-aligns what came after it.
        m_lost = true;
        m_lostBytes = split;
        if (m_first) {
            if (!m_first->named) m_dropped.assign(m_first->bytes.begin(), m_first->bytes.end());
            m_droppedAtMs = m_first->atMs;
            m_lostBytes += kHalf;
            m_first.reset();
        }
        if (m_dropped.empty()) m_droppedAtMs = unit.atMs;
        m_dropped.insert(m_dropped.end(), unit.bytes.begin(),
                         unit.bytes.begin() + static_cast<std::ptrdiff_t>(split));
        resume(out);
        m_unit.assign(unit.bytes.begin() + static_cast<std::ptrdiff_t>(split), unit.bytes.end());
        m_unitAtMs = *m_lastMs;
        return;
    }
    if (unit.bytes == m_answer) {
        // Between two halves as well: name the first so the log keeps the line's order.
        if (m_first && !m_first->named) {
            out.push_back(
                Event{Event::Kind::FirstHalf, {m_first->bytes.begin(), m_first->bytes.end()}, m_first->atMs});
            m_first->named = true;
        }
        out.push_back(Event{Event::Kind::LateAnswer, {unit.bytes.begin(), unit.bytes.end()}, unit.atMs});
        return;
    }
    if (!hasValidChecksum(unit.bytes)) {
        // A spoiled byte, a lost one or noise: from here on no one can tell where halves begin.
        m_lost = true;
        m_lostBytes = 0;
        if (m_first) {
            if (!m_first->named) {
                m_droppedAtMs = m_first->atMs;
                m_dropped.assign(m_first->bytes.begin(), m_first->bytes.end());
            }
            m_lostBytes += kHalf;
            m_first.reset();
        }
        if (m_dropped.empty()) m_droppedAtMs = unit.atMs;
        m_dropped.insert(m_dropped.end(), unit.bytes.begin(), unit.bytes.end());
        m_lostBytes += kHalf;
        return;
    }
    if (!m_first) {
        m_first = unit;
        return;
    }

    const Half first = *m_first;
    m_first.reset();
    std::array<std::uint8_t, kRecord> record{};
    std::copy(first.bytes.begin(), first.bytes.end(), record.begin());
    std::copy(unit.bytes.begin(), unit.bytes.end(), record.begin() + kHalf);
    m_longestHalfGapMs = std::max(m_longestHalfGapMs, unit.atMs - first.endMs);
    m_halfGapKnown = true;
    m_resumed = false;
    Event event{
        Event::Kind::Record, {}, first.named ? unit.atMs : first.atMs, sampling::decodeRecord(record)};
    if (first.named)
        event.bytes.assign(unit.bytes.begin(), unit.bytes.end());
    else
        event.bytes.assign(record.begin(), record.end());
    out.push_back(std::move(event));
}

void RecordFramer::flushDropped(std::vector<Event>& out)
{
    if (m_dropped.empty()) return;
    out.push_back(Event{Event::Kind::Dropped, std::move(m_dropped), m_droppedAtMs});
    m_dropped.clear();
}

void RecordFramer::resume(std::vector<Event>& out)
{
    flushDropped(out);
    Event event{Event::Kind::Resumed, {}, m_lastMs.value_or(0)};
    event.coinsLost = std::max(1, static_cast<int>((m_lostBytes + kRecord - 1) / kRecord));
    out.push_back(std::move(event));
    m_lost = false;
    m_resumed = true;
    m_lostBytes = 0;
    m_unit.clear();
}

} // namespace quarvel::link
