#include "link/record_framer.h"

#include <algorithm>
#include <utility>

namespace quarvel::link {

namespace {

constexpr auto kHalf = static_cast<std::size_t>(kFrameSize);
constexpr auto kRecord = static_cast<std::size_t>(sampling::kRecordSize);

// A selector's pause between halves wanders with the line's and the host's timing: a USB
// adapter's latency tick (16 ms) always, and an eighth of a long pause.
constexpr std::int64_t kJitterMs = 20;
std::int64_t slack(std::int64_t gapMs)
{
    return kJitterMs + gapMs / 8;
}

} // namespace

bool RecordFramer::Gap::fits(std::int64_t gapMs) const
{
    return gapMs >= least - slack(least) && gapMs <= most + slack(most);
}

void RecordFramer::begin(std::int64_t answersUntilMs, int moreAnswers)
{
    reset();
    m_answersUntilMs = answersUntilMs;
    m_moreAnswers = moreAnswers;
    m_answersExpected = moreAnswers;
}

void RecordFramer::reset()
{
    *this = RecordFramer{};
}

std::size_t RecordFramer::held() const
{
    return m_bytes.size() + m_damage.size() + kHalf * (m_group.size() + m_trial.size());
}

std::vector<RecordFramer::Event> RecordFramer::arrived(std::span<const std::uint8_t> bytes,
                                                       std::int64_t nowMs)
{
    std::vector<Event> out;
    if (bytes.empty()) return out;
    // What the silence before these bytes settled comes first: nothing links across it.
    settle(nowMs, out);
    for (const std::uint8_t b : bytes)
        take(b, nowMs, out);
    tell(out);
    return out;
}

std::vector<RecordFramer::Event> RecordFramer::silence(std::int64_t nowMs)
{
    std::vector<Event> out;
    settle(nowMs, out);
    tell(out);
    return out;
}

void RecordFramer::settle(std::int64_t nowMs, std::vector<Event>& out)
{
    if (!m_lastMs) return;
    // A half goes out as one block: bytes left over when the line falls quiet are no unit.
    if (nowMs - *m_lastMs >= kLineQuietMs && !(m_bytes.empty() && m_damage.empty())) {
        drop(m_bytes.size());
        endDamage(out);
    }
    // Bytes held after the group's last unit end it, once they are a unit or damage.
    if (!m_group.empty() && m_bytes.empty() && nowMs - m_group.back().endMs > waitForGroupMs())
        closeGroup(false, false, out, nowMs - m_group.back().endMs);
    // No half gap spans a silence this long: a record begins after it.
    if (m_group.empty() && m_bytes.empty() && nowMs - *m_lastMs > kMaxHalfGapMs) m_parity = 0;
}

std::optional<std::int64_t> RecordFramer::dueMs() const
{
    if (m_lastMs && !(m_bytes.empty() && m_damage.empty())) return *m_lastMs + kLineQuietMs;
    if (!m_group.empty()) return m_group.back().endMs + waitForGroupMs() + 1;
    return std::nullopt;
}

void RecordFramer::take(std::uint8_t byte, std::int64_t atMs, std::vector<Event>& out)
{
    m_lastMs = atMs;
    m_bytes.push_back(byte);
    m_byteMs.push_back(atMs);
    while (m_bytes.size() >= kHalf) {
        const auto five = std::span<const std::uint8_t>(m_bytes).first<kFrameSize>();
        if (!hasValidChecksum(five)) {
            drop(1); // slide: the next byte may begin a unit
            continue;
        }
        Unit unit;
        std::copy(five.begin(), five.end(), unit.bytes.begin());
        unit.atMs = m_byteMs.front();
        unit.endMs = m_byteMs[kHalf - 1];
        // Only where another start frame went out may another answer come.
        unit.likeAnswer = unit.bytes[0] == command::kStartSampling && unit.atMs <= m_answersUntilMs &&
                          m_answersExpected > 0;
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + kFrameSize);
        m_byteMs.erase(m_byteMs.begin(), m_byteMs.begin() + kFrameSize);
        endDamage(out);
        addUnit(unit, out);
    }
}

void RecordFramer::drop(std::size_t count)
{
    if (count == 0) return;
    if (m_damage.empty()) m_damageAtMs = m_byteMs.front();
    m_damage.insert(m_damage.end(), m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(count));
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(count));
    m_byteMs.erase(m_byteMs.begin(), m_byteMs.begin() + static_cast<std::ptrdiff_t>(count));
}

// A run of dropped bytes ends with the next unit that passes, or with the line's silence.
// Where it is no whole number of halves long, the grid of
// units moved: the unit on either side of the damage may be one that passed its checksum by
// chance across the damage, so neither is trusted.
void RecordFramer::endDamage(std::vector<Event>& out)
{
    if (m_damage.empty()) return;
    const std::size_t length = m_damage.size();
    const bool gridMoved = length % kHalf != 0;
    if (!m_group.empty()) closeGroup(true, gridMoved, out);
    lose(static_cast<int>((length + kHalf - 1) / kHalf), NotCountedWhy::Noise);
    if (m_parity && length % kHalf == 0)
        m_parity = static_cast<int>((static_cast<std::size_t>(*m_parity) + length / kHalf) % 2);
    else
        loseCount(out);
    out.push_back(Event{Event::Kind::Dropped, std::exchange(m_damage, {}), m_damageAtMs});
    m_damagedBeforeGroup = true;
    m_suspectGroupStart = gridMoved;
}

// Where records begin is unknown until a long pause: a first pair on trial could only be
// confirmed by a group after it, and none counts before then.
void RecordFramer::loseCount(std::vector<Event>& out)
{
    m_parity.reset();
    if (!m_halfGap) uncounted(std::exchange(m_trial, {}), NotCountedWhy::OutOfStep, out);
}

void RecordFramer::addUnit(const Unit& unit, std::vector<Event>& out)
{
    if (!m_group.empty() && !linked(m_group.back(), unit))
        closeGroup(false, false, out, unit.atMs - m_group.back().endMs);
    if (m_group.empty()) {
        m_groupCounted = m_parity.has_value();
    }
    const bool second = m_group.empty() && m_parity == 1;
    m_group.push_back(unit);
    if (m_parity) m_parity = 1 - *m_parity;
    // A second half whose first was damaged: nothing can complete it.
    if (second) closeGroup(false, false, out);
}

// Units are halves of one record, or of records that follow each other as closely, when the
// pause between them is this selector's half gap.
bool RecordFramer::linked(const Unit& before, const Unit& unit) const
{
    const std::int64_t gap = unit.atMs - before.endMs;
    if (const auto known = knownGap()) return known->fits(gap);
    // Before the rhythm is known, what may be an answer is a half only in the same burst.
    return gap <= (before.likeAnswer ? kLineQuietMs : kMaxHalfGapMs);
}

// The half gap learnt, the one of the first pair on trial, or the one of this group's first pair.
std::optional<RecordFramer::Gap> RecordFramer::knownGap() const
{
    if (m_halfGap) return m_halfGap;
    const auto pairGap = [](const std::vector<Unit>& units) {
        const std::int64_t gap = units[1].atMs - units[0].endMs;
        return Gap{gap, gap};
    };
    if (m_trial.size() == 2) return pairGap(m_trial);
    if (m_group.size() >= 2) return pairGap(m_group);
    return std::nullopt;
}

// How long a group waits for its next unit: as long as the unit might link to it.
std::int64_t RecordFramer::waitForGroupMs() const
{
    const auto known = knownGap();
    return known ? known->most + slack(known->most) : kMaxHalfGapMs;
}

void RecordFramer::closeGroup(bool damagedAfter, bool suspectEnd, std::vector<Event>& out,
                              std::optional<std::int64_t> gapAfter)
{
    const Count count = settleGroup(damagedAfter, suspectEnd, out);
    if (count == Count::Unknown) return loseCount(out);
    if (damagedAfter) return; // the count goes on across the damaged units
    // A pause that is no half gap of the known rhythm, or longer than any, falls between
    // records: one begins after it; so does the pause after a group that showed a half lost
    // without trace. A unit that may have been an answer or a half leaves the count unknown.
    // A half left alone while answers may come may have been split from its partner by one,
    // not lost: then where records begin is unknown.
    const bool broken = count == Count::Broken && m_groupCounted;
    const bool answersAround =
        m_answersExpected > 0 && m_lastMs && *m_lastMs <= m_answersUntilMs + kMaxHalfGapMs;
    if (broken && answersAround) return loseCount(out);
    if (m_halfGap || (gapAfter && *gapAfter > kMaxHalfGapMs) || broken) m_parity = 0;
}

// Names the group's units, and says what became of the count of units since the last certain
// start of a record.
RecordFramer::Count RecordFramer::settleGroup(bool damagedAfter, bool suspectEnd, std::vector<Event>& out)
{
    std::vector<Unit> units = std::exchange(m_group, {});
    const bool damagedBefore = std::exchange(m_damagedBeforeGroup, false);
    bool suspectStart = std::exchange(m_suspectGroupStart, false);
    if (std::any_of(units.begin(), units.end(), [](const Unit& u) { return u.likeAnswer; })) {
        // Alone, it answered a start frame; beside another unit it may be a half. Each start
        // frame is answered once at most: with more such units than answers still to come, any
        // of them may have been the half.
        if (units.size() == 1 && m_moreAnswers > 0) {
            --m_moreAnswers;
            out.push_back(
                Event{Event::Kind::Answer, {units[0].bytes.begin(), units[0].bytes.end()}, units[0].atMs});
            // Alone, it is no unit of a record (that would take a half lost without trace).
            if (m_parity) m_parity = 1 - *m_parity;
            return Count::Stands;
        }
        uncounted(units, NotCountedWhy::LikeAnswer, out);
        // Whether it was a half, no one can say: nor where the next record begins.
        return Count::Unknown;
    }
    std::span<const Unit> rest(units);

    if (rest.size() % 2 == 1) {
        // One half has lost its partner. Damage on one side only shows which end it is.
        if (damagedBefore && !damagedAfter) {
            uncounted(rest.first(1), NotCountedWhy::HalfMissing, out);
            rest = rest.subspan(1);
            suspectStart = false;
        } else if (damagedAfter && !damagedBefore && rest.size() > 1) {
            uncounted(rest.last(1), NotCountedWhy::HalfMissing, out);
            rest = rest.first(rest.size() - 1);
            suspectEnd = false;
        } else {
            uncounted(rest, rest.size() == 1 ? NotCountedWhy::HalfMissing : NotCountedWhy::OutOfStep, out);
            // Without damage beside it, an odd group says a half went missing without trace:
            // the first pair's rhythm may be wrong, and the count of units is.
            if (damagedBefore || damagedAfter) return Count::Stands;
            if (!m_halfGap) uncounted(std::exchange(m_trial, {}), NotCountedWhy::OutOfStep, out);
            return Count::Broken;
        }
    }
    // Damage on both sides, and no count of units to say whether the first was a half whose
    // partner the damage took: pairs either way.
    if (damagedBefore && damagedAfter && !m_groupCounted && !rest.empty()) {
        uncounted(rest, NotCountedWhy::OutOfStep, out);
        return Count::Unknown;
    }
    if (suspectStart && !rest.empty()) {
        uncounted(rest.first(2), NotCountedWhy::Noise, out);
        rest = rest.subspan(2);
    }
    if (suspectEnd && !rest.empty()) {
        uncounted(rest.last(2), NotCountedWhy::Noise, out);
        rest = rest.first(rest.size() - 2);
    }
    if (rest.empty()) return Count::Stands;
    if (!m_halfGap) {
        // Neither the count of units nor a rhythm shows where this group's records begin:
        // nothing counts until a pause longer than any half gap does.
        if (!m_groupCounted) {
            uncounted(rest, NotCountedWhy::OutOfStep, out);
            return Count::Stands;
        }
        // Nothing tells the first pair from a second half and the next first half but the
        // next group's agreement, or the group's own repetition.
        if (m_trial.empty() && rest.size() == 2) {
            m_trial.assign(rest.begin(), rest.end());
            return Count::Stands;
        }
        const std::vector<Unit> trial = std::exchange(m_trial, {});
        m_halfGap = Gap{rest[1].atMs - rest[0].endMs, rest[1].atMs - rest[0].endMs};
        count(trial, out);
    }
    count(rest, out);
    return Count::Stands;
}

void RecordFramer::count(std::span<const Unit> units, std::vector<Event>& out)
{
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
        const Unit& first = units[i];
        const Unit& second = units[i + 1];
        const std::int64_t gap = second.atMs - first.endMs;
        m_halfGap->least = std::min(m_halfGap->least, gap);
        m_halfGap->most = std::max(m_halfGap->most, gap);
        // A counted record closes what was lost before it: the user hears of it first.
        tell(out);
        m_lostHalves = 0;
        m_coinsSaid = 0;
        std::array<std::uint8_t, kRecord> record{};
        std::copy(first.bytes.begin(), first.bytes.end(), record.begin());
        std::copy(second.bytes.begin(), second.bytes.end(), record.begin() + kHalf);
        Event event{
            Event::Kind::Record, {record.begin(), record.end()}, first.atMs, sampling::decodeRecord(record)};
        const bool fits = event.decoded.check != sampling::RecordCheck::AOutOfRange;
        out.push_back(std::move(event));
        if (!fits)
            out.push_back(Event{Event::Kind::NotCounted, {}, first.atMs, {}, 1, NotCountedWhy::AOutOfRange});
    }
}

void RecordFramer::uncounted(std::span<const Unit> units, NotCountedWhy why, std::vector<Event>& out)
{
    if (units.empty()) return;
    Event event{Event::Kind::Dropped, {}, units.front().atMs};
    for (const Unit& unit : units)
        event.bytes.insert(event.bytes.end(), unit.bytes.begin(), unit.bytes.end());
    event.why = why;
    out.push_back(std::move(event));
    // Units out of step may each belong to another coin, whose partner went without trace:
    // the group's coins are rounded up on their own.
    const int halves = static_cast<int>(units.size());
    lose(why == NotCountedWhy::OutOfStep ? halves + halves % 2 : halves, why);
}

void RecordFramer::lose(int halves, NotCountedWhy why)
{
    // The first cause between two counted records; damage, where there was any, for it is what
    // left halves alone.
    if (m_lostHalves == 0 || why == NotCountedWhy::Noise) m_lostWhy = why;
    m_lostHalves += halves;
}

// What was lost between two counted records: two halves are a coin, a half left over another.
void RecordFramer::tell(std::vector<Event>& out)
{
    const int coins = (m_lostHalves + 1) / 2;
    if (coins <= m_coinsSaid) return;
    out.push_back(
        Event{Event::Kind::NotCounted, {}, m_lastMs.value_or(0), {}, coins - m_coinsSaid, m_lostWhy});
    m_coinsSaid = coins;
}

} // namespace quarvel::link
