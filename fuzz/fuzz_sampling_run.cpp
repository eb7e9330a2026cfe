// One sampling run on the link engine against a line the input shapes: a selector that answers
// each start request after a delay of its own (or never), then sends records whose halves come
// any time apart, back to back or spaced, with its start answer repeated at any unit boundary;
// every unit's bytes in any chunking. Some runs also suffer damage: bits flipped, bytes lost,
// noise inserted anywhere.
//
// Checked always: the only frames are the start and end of sampling, the end frame closes the
// run (nothing after it), the run finishes once, with twelve samples on success and none
// otherwise, and the traffic entries name the bytes fed to the run in order, each once.
//
// Never a record the selector did not send: every record counted is the two halves of one
// record sent, from their first byte to their last. Exempt only what no receiver can tell:
// a run in which a five-byte window touching damage passes its checksum by chance or reads as
// the start answer (the one the run started on included), or a record half that is the start answer byte for
// byte; and, after damage between the halves of a record whose halves came further apart than any record
// before had shown, its second half taken for a first (the silence after damage is the only hint there is),
// with the records paired after it.
//
// Liveness: on a clean line (no damage) whose start answer the host took whole, every record
// sent after it is counted, in order, whatever the timing; twelve good ones end the run.
//
// On damaged runs a half's bytes come less than the line's quiet time apart: silence is the
// hint that re-aligns the halves after damage.
#include "fuzz_input.h"
#include "link/frame.h"
#include "link/link_engine.h"
#include "link/sampling_transfer.h"
#include "link/traffic.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace {

namespace link = quarvel::link;
using Engine = link::LinkEngine;
using quarvel::fuzz::check;
using quarvel::fuzz::Input;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHalf = 5;
constexpr int kMaxRecords = 20;

// Where a received byte came from.
struct Origin
{
    enum class Kind
    {
        Answer,
        Record,
        Noise
    };
    Kind kind = Kind::Noise;
    int record = -1; // Record: its number
    int offset = 0;  // Record: 0..9
    bool damaged = false;
    int unit = -1; // which transmission it was part of
    std::int64_t atMs = 0;
};

struct Unit
{
    Bytes bytes;
    std::vector<Origin> origins;
    std::int64_t delayMs = 0; // after the previous unit of its source ends (records), or absolute
};

struct Chunk
{
    std::int64_t atMs;
    Bytes bytes;
    std::vector<Origin> origins;
};

bool passes(std::span<const std::uint8_t> w)
{
    return link::hasValidChecksum(w);
}

class Harness
{
public:
    explicit Harness(Input& in) : m_in(in)
    {
        m_answer = {link::command::kStartSampling, m_in.byte(), m_in.byte(), m_in.byte(), 0};
        m_answer[4] = link::checksum(m_answer[0], m_answer[1], m_answer[2], m_answer[3]);
        const int shape = m_in.byte();
        m_damaged = shape % 3 == 0;
        m_bigPauses = shape % 5 == 0 && !m_damaged;
        const int gaps[] = {0, 5, 60, 250, 1000};
        m_halfGapMs = gaps[(shape / 3) % 5];
        m_varyGaps = shape % 7 == 0;
        m_cancelAtMs = shape % 11 == 0 ? std::optional<std::int64_t>(m_in.u16() * 2) : std::nullopt;
    }

    void run()
    {
        Engine::Jobs jobs;
        jobs.push_back(std::make_unique<link::SamplingTransfer>());
        apply(m_engine.run(std::move(jobs), m_now).value());
        for (int guard = 0; guard < 100000 && m_engine.isRunning(); ++guard) {
            std::optional<std::int64_t> next;
            const auto consider = [&next](std::optional<std::int64_t> t) {
                if (t && (!next || *t < *next)) next = t;
            };
            if (m_armed) consider(m_armedDue);
            if (!m_chunks.empty()) consider(m_chunks.front().atMs);
            if (m_chunks.empty()) consider(nextUnitReady());
            if (m_cancelAtMs && !m_cancelled) consider(*m_cancelAtMs);
            if (!next) break;
            m_now = std::max(m_now, *next);
            if (m_cancelAtMs && !m_cancelled && *m_cancelAtMs <= m_now) {
                m_cancelled = true;
                apply(m_engine.abort(link::Transfer::AbortReason::UserCancel, m_now));
            } else if (m_armed && m_armedDue <= m_now) {
                const auto tag = *m_armed;
                m_armed.reset();
                apply(m_engine.timerFired(tag, m_now));
            } else if (!m_chunks.empty() && m_chunks.front().atMs <= m_now) {
                deliver();
            } else {
                startUnit();
            }
        }
        const bool stillRunning = m_engine.isRunning();
        if (stillRunning) {
            // Out of line events: the run waits for coins; the user ends it.
            apply(m_engine.abort(link::Transfer::AbortReason::UserCancel, m_now));
            for (int i = 0; i < 10 && m_engine.isRunning(); ++i) {
                check(m_armed.has_value());
                const auto tag = *m_armed;
                m_armed.reset();
                m_now = std::max(m_now, m_armedDue);
                apply(m_engine.timerFired(tag, m_now));
            }
        }
        check(!m_engine.isRunning() && m_finished);
        checkRecords(stillRunning);
    }

private:
    // ---- The selector and its line -------------------------------------------------------

    Bytes record(int n)
    {
        Bytes r(10);
        r[0] = m_in.byte() % 4 == 0 ? link::command::kStartSampling : m_in.byte();
        r[1] = m_in.byte() % 8 == 0 ? m_in.byte() : m_in.byte() & 0x7F;
        r[2] = m_in.byte();
        r[3] = m_in.byte();
        r[4] = link::checksum(r[0], r[1], r[2], r[3]);
        r[5] = m_in.byte();
        r[6] = static_cast<std::uint8_t>(n); // tells the records apart
        r[7] = m_in.byte();
        r[8] = m_in.byte();
        r[9] = link::checksum(r[5], r[6], r[7], r[8]);
        return r;
    }

    Unit answerUnit() const
    {
        return Unit{Bytes(m_answer.begin(), m_answer.end()),
                    std::vector<Origin>(kHalf, {Origin::Kind::Answer})};
    }

    // The records, planned once the host collects; the start answer repeated now and then.
    void planRecords()
    {
        const int count = 1 + m_in.byte() % kMaxRecords;
        for (int n = 0; n < count; ++n) {
            if (m_in.byte() % 8 == 0) m_chain.push_back(answerUnit());
            const Bytes r = record(n);
            m_sent.push_back(r);
            for (int h = 0; h < 2; ++h) {
                Unit u;
                u.bytes.assign(r.begin() + h * 5, r.begin() + h * 5 + 5);
                for (int i = 0; i < 5; ++i)
                    u.origins.push_back({Origin::Kind::Record, n, h * 5 + i});
                const int spacing = m_in.byte();
                if (h == 1)
                    u.delayMs = m_varyGaps ? spacing * 4 : m_halfGapMs;
                else
                    u.delayMs = spacing % 3 == 0 ? 0 : spacing % 3 == 1 ? 30 : spacing * 4;
                m_chain.push_back(std::move(u));
                if (h == 0 && m_in.byte() % 16 == 0) m_chain.push_back(answerUnit());
            }
            if (Bytes(r.begin(), r.begin() + 5) == Bytes(m_answer.begin(), m_answer.end()) ||
                Bytes(r.begin() + 5, r.end()) == Bytes(m_answer.begin(), m_answer.end()))
                m_exempt = true;
        }
    }

    std::optional<std::int64_t> nextUnitReady() const
    {
        std::optional<std::int64_t> t;
        if (!m_answers.empty()) t = m_answers.front().delayMs;
        if (!m_chain.empty()) {
            const std::int64_t c = m_chainFrom + m_chain.front().delayMs;
            if (!t || c < *t) t = c;
        }
        if (t) t = std::max(*t, m_lineFree);
        return t;
    }

    // The next unit goes on the line: damaged, maybe, and cut into chunks.
    void startUnit()
    {
        Unit unit;
        const bool chainFirst =
            !m_chain.empty() &&
            (m_answers.empty() || m_chainFrom + m_chain.front().delayMs < m_answers.front().delayMs);
        if (chainFirst) {
            unit = std::move(m_chain.front());
            m_chain.pop_front();
        } else {
            unit = std::move(m_answers.front());
            m_answers.pop_front();
        }
        if (m_damaged) damage(unit);
        for (auto& o : unit.origins)
            o.unit = m_units;
        ++m_units;
        std::int64_t t = m_now;
        std::size_t at = 0;
        while (at < unit.bytes.size()) {
            const std::size_t n = std::min<std::size_t>(unit.bytes.size() - at, 1 + m_in.byte() % 5);
            if (at > 0) {
                const int pause = m_in.byte();
                t += m_bigPauses ? pause * 3 : pause % link::kLineQuietMs;
            }
            m_chunks.push_back(Chunk{t,
                                     {unit.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                      unit.bytes.begin() + static_cast<std::ptrdiff_t>(at + n)},
                                     {unit.origins.begin() + static_cast<std::ptrdiff_t>(at),
                                      unit.origins.begin() + static_cast<std::ptrdiff_t>(at + n)}});
            at += n;
        }
        m_lineFree = t;
        if (chainFirst) m_chainFrom = t;
    }

    void damage(Unit& unit)
    {
        const int what = m_in.byte();
        if (what % 4 != 0 || unit.bytes.empty()) return;
        const std::size_t at = m_in.byte() % unit.bytes.size();
        switch ((what / 4) % 3) {
        case 0:
            unit.bytes[at] ^= static_cast<std::uint8_t>(1u << (m_in.byte() % 8));
            unit.origins[at].damaged = true;
            break;
        case 1:
            unit.bytes.erase(unit.bytes.begin() + static_cast<std::ptrdiff_t>(at));
            unit.origins.erase(unit.origins.begin() + static_cast<std::ptrdiff_t>(at));
            if (at > 0) unit.origins[at - 1].damaged = true;
            if (at < unit.origins.size()) unit.origins[at].damaged = true;
            break;
        default: {
            Bytes noise(1 + m_in.byte() % 12);
            for (auto& b : noise)
                b = m_in.byte();
            unit.bytes.insert(unit.bytes.begin() + static_cast<std::ptrdiff_t>(at), noise.begin(),
                              noise.end());
            unit.origins.insert(unit.origins.begin() + static_cast<std::ptrdiff_t>(at), noise.size(),
                                Origin{Origin::Kind::Noise, -1, 0, true});
            break;
        }
        }
    }

    void deliver()
    {
        Chunk chunk = std::move(m_chunks.front());
        m_chunks.pop_front();
        if (m_inTransfer) {
            for (auto& o : chunk.origins)
                o.atMs = m_now;
            m_stream.insert(m_stream.end(), chunk.bytes.begin(), chunk.bytes.end());
            m_origins.insert(m_origins.end(), chunk.origins.begin(), chunk.origins.end());
        }
        apply(m_engine.bytesArrived(chunk.bytes, m_now));
    }

    // ---- What the engine does ------------------------------------------------------------

    void apply(const Engine::Actions& actions)
    {
        for (const auto& action : actions) {
            if (const auto* arm = std::get_if<Engine::ArmTimer>(&action)) {
                m_armed = arm->tag;
                m_armedDue = m_now + arm->ms;
            } else if (std::holds_alternative<Engine::StopTimer>(action)) {
                m_armed.reset();
            } else if (std::holds_alternative<Engine::TransferStarted>(action)) {
                m_inTransfer = true;
            } else if (const auto* traffic = std::get_if<Engine::Traffic>(&action)) {
                if (m_inTransfer && traffic->entry.direction == link::Direction::Received)
                    onReceived(traffic->entry);
            } else if (const auto* write = std::get_if<Engine::Write>(&action)) {
                onWrite(write->frame);
            } else if (const auto* finished = std::get_if<Engine::TransferFinished>(&action)) {
                check(m_inTransfer);
                m_inTransfer = false;
                m_reason = finished->summary.reason;
                const bool succeeded = m_reason == link::EndReason::Succeeded;
                check((finished->outcome == link::Outcome::Succeeded) == succeeded);
                const auto* samples =
                    std::get_if<std::vector<quarvel::sampling::Sample>>(&finished->summary.output);
                check(samples && samples->size() == (succeeded ? 12u : 0u));
                check(m_endSent);
            } else if (std::holds_alternative<Engine::RunFinished>(action)) {
                check(!m_inTransfer && !m_finished);
                m_finished = true;
            }
        }
    }

    void onWrite(const link::Frame& frame)
    {
        check(m_inTransfer && !m_endSent);
        if (frame == link::endSamplingFrame()) {
            m_endSent = true;
            return;
        }
        check(frame == link::startSamplingFrame());
        // The selector answers every start request, after its own delay, or not at all.
        const int delay = m_in.byte();
        if (delay % 8 == 7) return;
        const std::int64_t delays[] = {1, 20, 150, 250, 400, 700, delay * 3};
        Unit answer = answerUnit();
        answer.delayMs = m_now + delays[delay % 7];
        m_answers.push_back(std::move(answer));
    }

    // Every run of bytes the engine names comes next in what was fed.
    void onReceived(const link::TrafficEntry& entry)
    {
        const std::size_t at = m_consumed;
        check(!entry.bytes.empty() && at + entry.bytes.size() <= m_stream.size());
        check(std::equal(entry.bytes.begin(), entry.bytes.end(),
                         m_stream.begin() + static_cast<std::ptrdiff_t>(at)));
        m_consumed += entry.bytes.size();
        if (entry.meaning == "sampling started") {
            check(m_state == Collect::Before && entry.bytes.size() == kHalf);
            m_state = Collect::During;
            m_startAt = at;
            m_startEnd = m_consumed;
            m_chainFrom = m_now;
            planRecords();
        } else if (entry.meaning == link::kFirstHalf) {
            check(entry.bytes.size() == kHalf);
            m_firstHalfAt = at;
        } else if (entry.meaning.starts_with("record: ") || entry.meaning.starts_with("record (irregular")) {
            check(entry.bytes.size() == kHalf || entry.bytes.size() == 2 * kHalf);
            const std::size_t first = entry.bytes.size() == kHalf ? m_firstHalfAt.value() : at;
            const std::size_t second = entry.bytes.size() == kHalf ? at : at + kHalf;
            m_counted.push_back({first, second});
        }
    }

    // ---- The properties ------------------------------------------------------------------

    struct Counted
    {
        std::size_t first;
        std::size_t second;
    };

    bool genuine(const Counted& c, int& record) const
    {
        const Origin& o = m_origins[c.first];
        if (o.kind != Origin::Kind::Record || o.offset != 0) return false;
        record = o.record;
        for (std::size_t i = 0; i < kHalf; ++i) {
            const Origin& a = m_origins[c.first + i];
            const Origin& b = m_origins[c.second + i];
            if (a.kind != Origin::Kind::Record || a.record != record || a.offset != static_cast<int>(i) ||
                a.damaged)
                return false;
            if (b.kind != Origin::Kind::Record || b.record != record || b.offset != static_cast<int>(5 + i) ||
                b.damaged)
                return false;
        }
        return true;
    }

    // Damage that reads as a half or as the answer by chance: no receiver can tell. That
    // includes noise taken for the start answer itself, which then sets the alignment.
    bool chanceWindow() const
    {
        if (!m_startEnd) return false;
        if (!wholeAnswerStarted()) return true;
        for (std::size_t i = *m_startEnd; i + kHalf <= m_stream.size(); ++i) {
            const auto w = std::span(m_stream).subspan(i, kHalf);
            bool touches = false;
            for (std::size_t k = 0; k < kHalf; ++k)
                touches |= m_origins[i + k].damaged;
            if (touches && (passes(w) || std::equal(w.begin(), w.end(), m_answer.begin()))) return true;
        }
        return false;
    }

    // The second half of a record whose first was spoiled, taken for the first half of the next
    // record after a silence: excusable only when that record's halves came further apart than
    // any record before had shown (the silence is then all a receiver has to go by).
    bool unforeseenOrphan(const Counted& c, std::int64_t longestGap) const
    {
        const Origin& a = m_origins[c.first];
        const Origin& b = m_origins[c.second];
        if (a.kind != Origin::Kind::Record || a.offset != 5 || b.kind != Origin::Kind::Record ||
            b.offset != 0)
            return false;
        for (std::size_t i = 0; i < c.first; ++i) {
            const Origin& o = m_origins[i];
            if (o.kind == Origin::Kind::Record && o.record == a.record && o.offset < 5)
                return a.atMs - o.atMs >= link::kLineQuietMs + 2 * longestGap;
        }
        return true; // its first half never came
    }

    bool wholeAnswerStarted() const
    {
        for (std::size_t i = 0; i < kHalf; ++i) {
            const Origin& o = m_origins[*m_startAt + i];
            if (o.kind != Origin::Kind::Answer || o.damaged || o.unit != m_origins[*m_startAt].unit)
                return false;
        }
        return true;
    }

    void checkRecords(bool waitedOut)
    {
        const bool exempt = m_exempt || chanceWindow();
        std::vector<int> counted;
        std::int64_t longestGap = 0;
        bool misled = false; // by an unforeseen orphan: the pairing stays shifted after it
        for (const auto& c : m_counted) {
            int record = -1;
            const bool real = genuine(c, record);
            misled = misled || (!real && unforeseenOrphan(c, longestGap));
            check(real || exempt || misled);
            if (real) counted.push_back(record);
            longestGap = std::max(longestGap, m_origins[c.second].atMs - m_origins[c.first + kHalf - 1].atMs);
        }
        // Liveness: a clean line, the start answer taken whole.
        if (m_damaged || m_exempt || !m_startAt || m_cancelled || !wholeAnswerStarted()) return;
        std::vector<int> expected;
        for (std::size_t n = 0; n < m_sent.size() && expected.size() < 12; ++n)
            if (m_sent[n][1] < 128) expected.push_back(static_cast<int>(n));
        if (expected.size() == 12) check(m_reason == link::EndReason::Succeeded);
        if (waitedOut || m_reason == link::EndReason::Succeeded) check(counted == expected);
    }

    Input& m_in;
    Engine m_engine;
    std::int64_t m_now = 0;
    std::optional<Engine::TimerTag> m_armed;
    std::int64_t m_armedDue = 0;
    bool m_inTransfer = false;
    bool m_endSent = false;
    bool m_finished = false;
    bool m_cancelled = false;
    link::EndReason m_reason = link::EndReason::None;

    std::array<std::uint8_t, kHalf> m_answer{};
    bool m_damaged = false;
    bool m_bigPauses = false;
    bool m_varyGaps = false;
    bool m_exempt = false;
    int m_units = 0;
    std::int64_t m_halfGapMs = 0;
    std::optional<std::int64_t> m_cancelAtMs;

    std::deque<Unit> m_answers; // delayMs: when ready, absolute
    std::deque<Unit> m_chain;   // records and repeated answers, each delayMs after the one before
    std::int64_t m_chainFrom = 0;
    std::int64_t m_lineFree = 0;
    std::deque<Chunk> m_chunks;
    std::vector<Bytes> m_sent;

    enum class Collect
    {
        Before,
        During
    };
    Collect m_state = Collect::Before;
    Bytes m_stream;
    std::vector<Origin> m_origins;
    std::size_t m_consumed = 0;
    std::optional<std::size_t> m_startAt;
    std::optional<std::size_t> m_startEnd;
    std::optional<std::size_t> m_firstHalfAt;
    std::vector<Counted> m_counted;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    Harness harness(in);
    harness.run();
    return 0;
}
