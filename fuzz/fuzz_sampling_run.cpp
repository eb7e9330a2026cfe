// The link engine running sampling jobs under arbitrary line events: noise, good and spoiled
// records and handshake answers in any chunking, timer firings, cancels, lost ports and time
// passing.
//
// Checked on every action: the only frames are the start and end of sampling; nothing follows
// the end frame, which closes every run except one whose port was lost; a run succeeds with
// exactly twelve samples of A below 32768 and otherwise leaves none; every run finishes once;
// and the engine never sits on a whole record's worth of bytes unexamined.
//
// The samples must also be exactly the coins that were sent. Records, answers and noise are
// built without the bytes that can open a record or an answer (0x91, 0x92, 0xE3) anywhere but
// at their own start, spoiled ones too, so the stream holds no false record: every record the
// run takes must start at a whole record that was fed, and a successful run takes every whole
// record fed between its start answer and its last coin, and drops every start answer there as
// a late one. The engine names every byte it takes or drops, in order, so each named run of
// bytes has a known place in what was fed. A little raw noise still comes (any bytes at all);
// a run that meets it is only held to the checks above.
#include "fuzz_input.h"
#include "link/frame.h"
#include "link/link_engine.h"
#include "link/sampling_transfer.h"

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

bool opensSomething(std::uint8_t b)
{
    return b == quarvel::sampling::kRegularSpeed || b == quarvel::sampling::kIrregularSpeed ||
           b == link::command::kStartSampling;
}

std::uint8_t safe(std::uint8_t b)
{
    return opensSomething(b) ? static_cast<std::uint8_t>(b ^ 0x40) : b;
}

// Closes a five-byte half with its checksum, nudging its free byte until the checksum is safe too.
void seal(std::span<std::uint8_t, 5> half, int freeAt)
{
    for (;;) {
        half[4] = link::checksum(half[0], half[1], half[2], half[3]);
        if (!opensSomething(half[static_cast<std::size_t>(freeAt)]) && !opensSomething(half[4])) return;
        ++half[static_cast<std::size_t>(freeAt)];
    }
}

enum class Piece
{
    Noise,
    Record,     // whole, of a known type, A below 32768: a coin the run must take
    OutOfRange, // whole, of a known type, A too large: must be rejected
    Other,      // spoiled, of no known type, or the first half of a record cut short
    Answer,     // a whole start answer
};

class Harness
{
public:
    explicit Harness(Input& in) : m_in(in) {}

    void step()
    {
        switch (m_in.byte() % 9) {
        case 0:
            if (!m_engine.isRunning()) start();
            break;
        case 1:
            noise();
            break;
        case 2:
        case 3:
            record();
            break;
        case 4:
            handshakeAnswer();
            break;
        case 5:
            if (m_armed) fire();
            break;
        case 6:
            apply(m_engine.abort(link::Transfer::AbortReason::UserCancel, m_now));
            break;
        case 7:
            if (m_in.byte() % 4 == 0) {
                if (m_inTransfer) m_portLost = true;
                apply(m_engine.abort(link::Transfer::AbortReason::PortLost, m_now));
            }
            break;
        default:
            m_now += m_in.millis();
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

    // Pieces fed during a run are remembered by their place in what the run was fed.
    void feed(std::span<const std::uint8_t> bytes, Piece piece, Sample sample = {})
    {
        if (m_inTransfer) {
            m_pieces[m_stream.size()] = {piece, sample};
            m_stream.insert(m_stream.end(), bytes.begin(), bytes.end());
        }
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + m_in.byte() % 12);
            apply(m_engine.bytesArrived(std::span(bytes).subspan(at, n), m_now));
            at += n;
            checkAfterEvent();
        }
    }

    void noise()
    {
        const bool raw = m_in.byte() % 16 == 0;
        std::vector<std::uint8_t> bytes(m_in.byte() % 24);
        for (auto& b : bytes)
            b = raw ? m_in.byte() : safe(m_in.byte());
        if (raw && m_inTransfer) m_exact = false;
        feed(bytes, Piece::Noise);
    }

    // A well-formed record of either type or none, A maybe too large; maybe spoiled by one
    // flipped bit, or cut short after its first half and followed by a late start answer.
    void record()
    {
        namespace sampling = quarvel::sampling;
        std::array<std::uint8_t, 10> r{};
        const int type = m_in.byte() % 8;
        r[0] = type == 0 ? safe(m_in.byte()) : type < 3 ? sampling::kIrregularSpeed : sampling::kRegularSpeed;
        for (const int i : {2, 3, 6, 7, 8})
            r[static_cast<std::size_t>(i)] = safe(m_in.byte());
        r[1] = m_in.byte() % 8 == 0 ? safe(m_in.byte()) : m_in.byte() & 0x7F; // A high byte
        seal(std::span(r).first<5>(), 3);
        seal(std::span(r).last<5>(), 0);
        const Sample sample{r[1] * 256 + r[2], r[6], r[7], r[8], r[0] == sampling::kIrregularSpeed};
        Piece piece = type == 0 ? Piece::Other : r[1] < 128 ? Piece::Record : Piece::OutOfRange;
        switch (m_in.byte() % 16) {
        case 0:
            spoil(r, m_in.byte() % 10);
            piece = Piece::Other;
            break;
        case 1:
            feed(std::span(r).first<5>(), Piece::Other);
            handshakeAnswer(false);
            return;
        default:
            break;
        }
        feed(r, piece, sample);
    }

    void handshakeAnswer(bool spoilable = true)
    {
        std::array<std::uint8_t, 5> answer{link::command::kStartSampling};
        for (const std::size_t i : {1u, 2u, 3u})
            answer[i] = safe(m_in.byte());
        seal(answer, 3);
        const bool spoiled = spoilable && m_in.byte() % 4 == 0;
        if (spoiled) spoil(answer, 4); // only its checksum: its first byte must stay where answers start
        feed(answer, spoiled ? Piece::Other : Piece::Answer);
    }

    // Flips one bit of bytes[at], one that leaves it safe.
    void spoil(std::span<std::uint8_t> bytes, std::size_t at)
    {
        auto bit = static_cast<std::uint8_t>(1u << (m_in.byte() % 8));
        while (opensSomething(static_cast<std::uint8_t>(bytes[at] ^ bit)))
            bit = static_cast<std::uint8_t>(bit << 1 | bit >> 7);
        bytes[at] ^= bit;
    }

    void fire()
    {
        const auto tag = *m_armed;
        m_now += m_armedMs;
        m_armed.reset();
        apply(m_engine.timerFired(tag, m_now));
    }

    void apply(const Engine::Actions& actions)
    {
        for (const auto& action : actions) {
            if (const auto* arm = std::get_if<Engine::ArmTimer>(&action)) {
                m_armed = arm->tag;
                m_armedMs = arm->ms;
            } else if (std::holds_alternative<Engine::StopTimer>(action)) {
                m_armed.reset();
            } else if (std::holds_alternative<Engine::TransferStarted>(action)) {
                check(!m_inTransfer);
                m_inTransfer = true;
                m_endSent = false;
                m_portLost = false;
                m_exact = true;
                m_stream.clear();
                m_pieces.clear();
                m_consumed = 0;
                m_startedAt.reset();
                m_taken.clear();
                m_late.clear();
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
        if (!succeeded || !m_exact) return;
        // Exactly the coins between the start answer and the last one taken, in order, and
        // every start answer among them dropped as a late one.
        check(m_startedAt.has_value() && m_taken.size() == m_samples.size());
        std::vector<std::size_t> coins;
        std::vector<std::size_t> answers;
        for (auto it = m_pieces.lower_bound(*m_startedAt); it != m_pieces.upper_bound(m_taken.back()); ++it) {
            if (it->second.kind == Piece::Record) coins.push_back(it->first);
            if (it->second.kind == Piece::Answer) answers.push_back(it->first);
        }
        check(coins == m_taken && answers == m_late);
        for (std::size_t i = 0; i < m_taken.size(); ++i)
            check(m_samples[i] == m_pieces[m_taken[i]].sample);
    }

    // Every run of bytes the engine names comes next in what was fed.
    void onReceived(const link::TrafficEntry& entry)
    {
        const std::size_t at = m_consumed;
        check(at + entry.bytes.size() <= m_stream.size());
        check(std::equal(entry.bytes.begin(), entry.bytes.end(),
                         m_stream.begin() + static_cast<std::ptrdiff_t>(at)));
        m_consumed += entry.bytes.size();
        if (!m_exact) return;
        const auto piece = m_pieces.find(at);
        const auto kindHere = [&] { return piece == m_pieces.end() ? Piece::Other : piece->second.kind; };
        const std::string& meaning = entry.meaning;
        if (meaning == "sampling started") {
            check(kindHere() == Piece::Answer);
            m_startedAt = m_consumed;
        } else if (meaning.starts_with("record:") || meaning.starts_with("record (irregular")) {
            check(kindHere() == Piece::Record && entry.bytes.size() == 10);
            m_taken.push_back(at);
        } else if (meaning == link::kLateHandshakeAnswer) {
            check(kindHere() == Piece::Answer);
            m_late.push_back(at);
        } else if (meaning.starts_with("record rejected")) {
            check(kindHere() == Piece::OutOfRange);
        }
    }

    void checkAfterEvent()
    {
        check(m_engine.isRunning() == (m_finished < m_started));
        if (m_inTransfer) check(m_engine.bufferedBytes() < 10);
        check(m_samples.size() <= 12);
    }

    Input& m_in;
    std::vector<quarvel::sampling::Sample> m_samples; // before the engine: its jobs refer to it
    Engine m_engine;
    std::int64_t m_now = 0;
    std::optional<Engine::TimerTag> m_armed;
    int m_armedMs = 0;
    int m_started = 0;
    int m_finished = 0;
    bool m_inTransfer = false;
    bool m_endSent = false;
    bool m_portLost = false;

    // What the running transfer was fed since it started, piece by piece.
    struct Fed
    {
        Piece kind = Piece::Noise;
        Sample sample;
    };
    bool m_exact = true; // no raw noise was fed to this run
    std::vector<std::uint8_t> m_stream;
    std::map<std::size_t, Fed> m_pieces; // by where each starts in m_stream
    std::size_t m_consumed = 0;          // bytes the engine has named so far
    std::optional<std::size_t> m_startedAt;
    std::vector<std::size_t> m_taken; // where each coin the run took starts
    std::vector<std::size_t> m_late;  // where each answer it dropped as late starts
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
