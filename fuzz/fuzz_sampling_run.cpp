// The link engine running sampling jobs under arbitrary line events: noise, good and spoiled
// records of any type byte, start answers, in any chunking at arrival times the input picks;
// timer firings (a timer fires only when the clock reaches its due time, or later if the input
// stalls the event loop), cancels, lost ports and time passing.
//
// Checked on every action: the only frames are the start and end of sampling; nothing follows
// the end frame, which closes every run except one whose port was lost; a run succeeds with
// exactly twelve samples of A below 32768 and otherwise leaves none; every run finishes once;
// the traffic entries name the bytes fed to the run in order, each once; and while records are
// collected, ten or more bytes are held unnamed only while a timer waits for the line's silence,
// which, once it fires, settles everything held.
//
// Exactness. The input feeds well-formed pieces, each normally as its own burst (after at least
// kLineQuietMs of silence, its chunks closer together than that): one to three whole records
// (any type byte, any byte 5, A maybe out of range, each maybe spoiled by one flipped bit),
// maybe led by a start answer; a start answer alone, maybe spoiled; a record with one byte lost;
// raw noise. Every burst after the start answer is held exactly: each whole record in it is
// named as a record with its own values, an A out of range as rejected, a spoiled one as a bad
// checksum, each start answer as a late one, and nothing else is named a record. So the samples
// of a successful run are exactly the good records fed after its start answer, in order. Bursts
// are judged one by one, so a burst exempt from this (below) must not spoil the ones after it.
//
// Exempt, held only to the checks above, are the bursts whose bytes the line's timing alone
// cannot tell apart:
// - raw noise in which some ten bytes pass both checksums: it is a record as far as any
//   receiver can know;
// - pieces fed less than kLineQuietMs apart, which merge into one burst, unless the burst is
//   still a start answer followed by whole records, whole records alone, or whole records
//   followed by a start answer where the first record does not itself begin like one. Two
//   answers back to back are a record of type 0xE3; a record of type 0xE3 followed by an answer
//   is an answer followed by a record whose type is the first record's byte 5; noise, a spoiled
//   answer or a record with a lost byte shifts everything after it in the burst;
// - the rest of the burst in which the run's start answer came, when the five bytes taken as
//   that answer end inside a piece: the first half of a record of type 0xE3 fed while the
//   answer was awaited is a start answer byte for byte, and a wait for the line to fall quiet
//   gives up after an exchange time-out on a line that keeps talking, so the request may go
//   out, and its answer be looked for, in the middle of a burst.
// Which answer starts a run is not held exactly either, only that it is five bytes that read
// as one: before the start, bytes come and go with the handshake's retries.
#include "fuzz_input.h"
#include "link/frame.h"
#include "link/link_engine.h"
#include "link/sampling_transfer.h"
#include "link/traffic.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
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
using quarvel::sampling::Sample;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRecord = 10;
constexpr std::size_t kAnswer = 5;

// What a run of fed bytes is, as its sender made it.
struct Atom
{
    enum class Kind
    {
        Answer,     // a whole start answer
        Record,     // a whole record, checksums good, A below 32768: a coin
        OutOfRange, // a whole record, checksums good, A too large
        Corrupt,    // a whole record with one bit flipped
        Other,      // noise, a spoiled answer, a record with a byte lost
    };
    Kind kind = Kind::Other;
    std::size_t offset = 0; // in what the run was fed
    std::size_t size = 0;
    Sample sample = {};
    bool answerLike = false; // its first five bytes read as a start answer
    bool ambiguous = false;  // Other that holds ten bytes passing both checksums
};

bool answerLike(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= kAnswer && bytes[0] == link::command::kStartSampling &&
           link::hasValidChecksum(bytes);
}

bool passesBoth(std::span<const std::uint8_t> ten)
{
    return link::hasValidChecksum(ten) && link::hasValidChecksum(ten.subspan(5));
}

// Whether a burst made of these atoms can be framed by timing alone (see the top).
bool decidable(std::span<const Atom> atoms)
{
    using Kind = Atom::Kind;
    if (atoms.empty()) return true;
    if (atoms.size() == 1) return !atoms[0].ambiguous;
    const auto whole = [](const Atom& a) { return a.kind != Kind::Answer && a.kind != Kind::Other; };
    if (atoms.front().kind == Kind::Answer) return std::all_of(atoms.begin() + 1, atoms.end(), whole);
    if (!whole(atoms.front())) return false;
    const bool answerLast = atoms.back().kind == Kind::Answer;
    if (answerLast && atoms.front().answerLike) return false;
    return std::all_of(atoms.begin() + 1, atoms.end() - (answerLast ? 1 : 0), whole);
}

class Harness
{
public:
    explicit Harness(Input& in) : m_in(in) {}

    void step()
    {
        switch (m_in.byte() % 16) {
        case 0:
            if (!m_engine.isRunning()) start();
            break;
        case 1:
            noise();
            break;
        case 2:
            answerAlone();
            break;
        case 3:
            lostByte();
            break;
        case 4:
            if (m_armed) fire();
            break;
        case 5: {
            // Rarely: a run cut short proves less than one that reaches its twelfth coin.
            const int how = m_in.byte() % 8;
            if (how == 0) apply(m_engine.abort(link::Transfer::AbortReason::UserCancel, m_now));
            if (how == 1) {
                if (m_inTransfer) m_portLost = true;
                apply(m_engine.abort(link::Transfer::AbortReason::PortLost, m_now));
            }
            break;
        }
        case 6:
        case 7: {
            // Time passing; now and then the event loop stalls and a due timer fires late.
            const bool stall = m_in.byte() % 4 == 0;
            moveClockTo(m_now + m_in.millis(), !stall);
            break;
        }
        default:
            records();
            break;
        }
        checkAfterEvent();
    }

    // A run still going is cancelled and waited out; it must end.
    void drain()
    {
        apply(m_engine.abort(link::Transfer::AbortReason::UserCancel, m_now));
        for (int i = 0; i < 100 && m_engine.isRunning(); ++i) {
            check(m_armed.has_value());
            fire();
        }
        check(!m_engine.isRunning());
        check(m_finished == m_started);
    }

private:
    void start()
    {
        Engine::Jobs jobs;
        jobs.push_back(std::make_unique<link::SamplingTransfer>(m_samples));
        ++m_started;
        apply(m_engine.run(std::move(jobs), m_now).value());
    }

    // ---- The pieces the line carries ----------------------------------------------------

    std::uint8_t recordType()
    {
        switch (m_in.byte() % 8) {
        case 0:
            return quarvel::sampling::kIrregularSpeed;
        case 1:
            return link::command::kStartSampling;
        case 2:
            return 0x00;
        default:
            return m_in.byte();
        }
    }

    // A whole record of any type and any byte 5; A out of range now and then.
    std::array<std::uint8_t, kRecord> record()
    {
        std::array<std::uint8_t, kRecord> r{};
        r[0] = recordType();
        const std::uint8_t high = m_in.byte();
        r[1] = m_in.byte() % 8 == 0 ? high : high & 0x7F;
        r[2] = m_in.byte();
        r[3] = m_in.byte();
        r[4] = link::checksum(r[0], r[1], r[2], r[3]);
        r[5] = m_in.byte() % 4 == 0 ? link::command::kStartSampling : m_in.byte();
        r[6] = m_in.byte();
        r[7] = m_in.byte();
        r[8] = m_in.byte();
        r[9] = link::checksum(r[5], r[6], r[7], r[8]);
        return r;
    }

    std::array<std::uint8_t, kAnswer> answer()
    {
        std::array<std::uint8_t, kAnswer> a{link::command::kStartSampling};
        for (const std::size_t i : {1u, 2u, 3u})
            a[i] = m_in.byte();
        a[4] = link::checksum(a[0], a[1], a[2], a[3]);
        return a;
    }

    // One flipped bit: every half checksum it touches fails.
    void spoil(std::span<std::uint8_t> bytes)
    {
        const std::size_t at = m_in.byte() % bytes.size();
        bytes[at] ^= static_cast<std::uint8_t>(1u << (m_in.byte() % 8));
    }

    // One to three whole records in one burst, maybe led by a start answer.
    void records()
    {
        Bytes bytes;
        std::vector<Atom> atoms;
        const int shape = m_in.byte();
        if (shape % 4 == 0) {
            const auto a = answer();
            atoms.push_back({Atom::Kind::Answer, 0, kAnswer});
            bytes.assign(a.begin(), a.end());
        }
        const int count = 1 + (shape / 4) % 5 / 3 + (shape / 4) % 5 / 4; // mostly one, then two, three
        for (int i = 0; i < count; ++i) {
            auto r = record();
            Atom atom{Atom::Kind::Record, bytes.size(), kRecord};
            atom.sample =
                Sample{r[1] * 256 + r[2], r[6], r[7], r[8], r[0] == quarvel::sampling::kIrregularSpeed};
            if (r[1] >= 128) atom.kind = Atom::Kind::OutOfRange;
            if (m_in.byte() % 8 == 0) {
                spoil(r);
                atom.kind = Atom::Kind::Corrupt;
            }
            atom.answerLike = answerLike(r);
            atoms.push_back(atom);
            bytes.insert(bytes.end(), r.begin(), r.end());
        }
        feed(bytes, atoms);
    }

    void answerAlone()
    {
        auto a = answer();
        const bool spoiled = m_in.byte() % 4 == 0;
        if (spoiled) spoil(a);
        feed(a, {{spoiled ? Atom::Kind::Other : Atom::Kind::Answer, 0, kAnswer}});
    }

    void lostByte()
    {
        auto r = record();
        Bytes bytes(r.begin(), r.end());
        bytes.erase(bytes.begin() + m_in.byte() % kRecord);
        feed(bytes, {{Atom::Kind::Other, 0, bytes.size()}});
    }

    void noise()
    {
        Bytes bytes(m_in.byte() % 24);
        for (auto& b : bytes)
            b = m_in.byte();
        Atom atom{Atom::Kind::Other, 0, bytes.size()};
        for (std::size_t i = 0; i + kRecord <= bytes.size(); ++i)
            atom.ambiguous |= passesBoth(std::span(bytes).subspan(i, kRecord));
        feed(bytes, {atom});
    }

    // ---- Feeding and time ----------------------------------------------------------------

    // A piece comes as its own burst, after the line's silence, or now and then right away,
    // which may merge it into the burst before. Its chunks come closer together than that.
    void feed(std::span<const std::uint8_t> bytes, std::vector<Atom> atoms)
    {
        if (bytes.empty()) return;
        const int gap = m_in.byte();
        if (gap % 8 != 0 && m_lastArrival)
            moveClockTo(std::max(m_now, *m_lastArrival + link::kLineQuietMs + (gap % 3 == 0 ? 0 : gap % 50)),
                        true);
        bool first = true;
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + m_in.byte() % 12);
            if (at > 0) {
                const int pause = m_in.byte();
                if (pause % 2 == 0) moveClockTo(m_now + pause % link::kLineQuietMs, true);
            }
            if (m_inTransfer) {
                if (first) place(atoms);
                m_stream.insert(m_stream.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
            }
            first = false;
            m_lastArrival = m_now;
            apply(m_engine.bytesArrived(bytes.subspan(at, n), m_now));
            at += n;
            checkAfterEvent();
        }
    }

    // Where a piece's atoms fall in what the run was fed, and in which burst.
    void place(std::vector<Atom>& atoms)
    {
        if (m_bursts.empty() || m_now - *m_lastArrival >= link::kLineQuietMs) m_bursts.emplace_back();
        for (auto& atom : atoms) {
            atom.offset += m_stream.size();
            m_bursts.back().push_back(atom);
        }
    }

    // The clock moves on; a timer due on the way fires at its due time, unless the event loop
    // stalls (it fires later, when next asked to).
    void moveClockTo(std::int64_t t, bool onTime)
    {
        while (onTime && m_armed && m_armedDue <= t)
            fire();
        m_now = std::max(m_now, t);
    }

    void fire()
    {
        const auto tag = *m_armed;
        m_now = std::max(m_now, m_armedDue);
        m_armed.reset();
        const bool collecting = m_inTransfer && m_startEnd;
        apply(m_engine.timerFired(tag, m_now));
        // The silence has come: whatever the burst held is judged now.
        if (collecting && m_inTransfer) check(m_consumed == m_stream.size());
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
                check(!m_inTransfer);
                m_inTransfer = true;
                m_endSent = false;
                m_portLost = false;
                m_stream.clear();
                m_bursts.clear();
                m_named.clear();
                m_consumed = 0;
                m_startEnd.reset();
            } else if (const auto* traffic = std::get_if<Engine::Traffic>(&action)) {
                if (m_inTransfer && traffic->entry.direction == link::Direction::Received)
                    onReceived(traffic->entry);
            } else if (const auto* write = std::get_if<Engine::Write>(&action)) {
                onWrite(write->frame);
            } else if (const auto* finished = std::get_if<Engine::TransferFinished>(&action)) {
                onFinished(*finished);
            } else if (std::holds_alternative<Engine::RunFinished>(action)) {
                check(!m_inTransfer);
                ++m_finished;
                check(m_finished == m_started);
            }
        }
    }

    void onWrite(const link::Frame& frame)
    {
        check(m_inTransfer);
        check(!m_endSent);
        if (frame == link::endSamplingFrame())
            m_endSent = true;
        else
            check(frame == link::startSamplingFrame());
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
            check(!m_startEnd && entry.bytes.size() == kAnswer && answerLike(entry.bytes));
            m_startEnd = m_consumed;
        }
        m_named[at] = {entry.bytes.size(), entry.meaning};
    }

    void onFinished(const Engine::TransferFinished& finished)
    {
        check(m_inTransfer);
        m_inTransfer = false;
        const bool succeeded = finished.summary.reason == link::EndReason::Succeeded;
        check((finished.outcome == link::Outcome::Succeeded) == succeeded);
        check(m_samples.size() == (succeeded ? 12u : 0u));
        for (const auto& s : m_samples)
            check(s.a >= 0 && s.a < 32768);
        check(m_endSent == (finished.summary.reason != link::EndReason::PortLost));
        check(!m_portLost || finished.summary.reason == link::EndReason::PortLost);
        checkExact(succeeded);
    }

    static bool isRecordName(const std::string& meaning)
    {
        return meaning.starts_with("record: ") || meaning.starts_with("record (irregular speed): ");
    }

    // Every burst after the start answer that timing alone can frame is framed exactly.
    void checkExact(bool succeeded)
    {
        std::vector<std::size_t> records; // where each record named as a coin starts
        for (const auto& [at, named] : m_named)
            if (isRecordName(named.meaning)) records.push_back(at);
        check(!succeeded || records.size() == m_samples.size());
        if (!m_startEnd) {
            check(records.empty());
            return;
        }
        for (const auto& burst : m_bursts) {
            // Only what came after the start answer; the rest of its burst is framed on its own.
            auto from = std::find_if(burst.begin(), burst.end(),
                                     [&](const Atom& a) { return a.offset >= *m_startEnd; });
            if (from == burst.end()) continue;
            // The start answer ended inside a piece: the rest of its burst is exempt.
            if (from != burst.begin() && std::prev(from)->offset + std::prev(from)->size > *m_startEnd)
                continue;
            if (!decidable(std::span(from, burst.end()))) continue;
            for (auto atom = from; atom != burst.end(); ++atom)
                checkAtom(*atom, records, succeeded);
        }
    }

    void checkAtom(const Atom& atom, const std::vector<std::size_t>& records, bool succeeded)
    {
        if (atom.offset + atom.size > m_consumed) return; // not reached before the run ended
        const auto named = m_named.find(atom.offset);
        const auto namedAs = [&](const char* meaning) {
            check(named != m_named.end() && named->second.size == atom.size &&
                  named->second.meaning == meaning);
        };
        switch (atom.kind) {
        case Atom::Kind::Answer:
            namedAs(link::kLateHandshakeAnswer);
            break;
        case Atom::Kind::Record: {
            check(named != m_named.end() && named->second.size == kRecord &&
                  isRecordName(named->second.meaning));
            check(named->second.meaning.starts_with("record (irregular") == atom.sample.irregular);
            if (!succeeded) break;
            const auto index = std::find(records.begin(), records.end(), atom.offset) - records.begin();
            check(m_samples[static_cast<std::size_t>(index)] == atom.sample);
            break;
        }
        case Atom::Kind::OutOfRange:
            namedAs("record rejected: A out of range");
            break;
        case Atom::Kind::Corrupt:
            namedAs(link::faultMeaning(link::ExchangeFault::BadChecksum));
            break;
        case Atom::Kind::Other:
            for (auto it = m_named.lower_bound(atom.offset);
                 it != m_named.end() && it->first < atom.offset + atom.size; ++it)
                check(!it->second.meaning.starts_with("record"));
            break;
        }
    }

    void checkAfterEvent()
    {
        check(m_engine.isRunning() == (m_finished < m_started));
        check(m_samples.size() <= 12);
        if (!m_inTransfer) return;
        check(m_engine.bufferedBytes() == 0);
        // Held unnamed: part of an answer while it is awaited; while collecting, the short rest
        // of a burst, or a burst whose lead reads as a start answer until the silence after it.
        const std::size_t held = m_stream.size() - m_consumed;
        if (!m_startEnd) check(held < kAnswer);
        if (m_startEnd && held >= kRecord)
            check(m_armed && m_armedDue == *m_lastArrival + link::kLineQuietMs);
    }

    Input& m_in;
    std::vector<Sample> m_samples; // before the engine: its jobs refer to it
    Engine m_engine;
    std::int64_t m_now = 0;
    std::optional<std::int64_t> m_lastArrival;
    std::optional<Engine::TimerTag> m_armed;
    std::int64_t m_armedDue = 0;
    int m_started = 0;
    int m_finished = 0;
    bool m_inTransfer = false;
    bool m_endSent = false;
    bool m_portLost = false;

    // What the running transfer was fed, and how the engine named it.
    struct Named
    {
        std::size_t size = 0;
        std::string meaning;
    };
    Bytes m_stream;
    std::vector<std::vector<Atom>> m_bursts;
    std::map<std::size_t, Named> m_named;  // by where each named run starts in m_stream
    std::size_t m_consumed = 0;            // bytes named so far
    std::optional<std::size_t> m_startEnd; // where the start answer that began collecting ends
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    Harness harness(in);
    while (!in.empty())
        harness.step();
    harness.drain();
    return 0;
}
