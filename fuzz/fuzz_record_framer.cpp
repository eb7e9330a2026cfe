// The record framer against a selector model of its own: the input shapes a sampling run as a
// selector and a line make it (the pause between a record's halves, coins by a feeder or by
// hand, a start answer repeated inside the handshake window with other bytes 1 to 3, records
// of any type whose halves may read as start answers, every byte in any chunking) and damages
// it (bits flipped, bytes lost, a few bytes of noise put in, a whole half lost where the pauses
// around it are unlike the half gap, so that the rhythm can tell), each damage a record or more away from the
// next, none in the first two, which teach the rhythm; the technician goes on inserting coins until the run
// counts, so the last two come clean.
//
// The oracle knows nothing of the framer's way: it holds what was sent and checks, for every
// input,
// - never a record the selector did not send: every record counted is one sent, byte for byte,
//   in the order sent;
// - every coin not counted is said: the coins the framer names, with those it still holds for
//   the next coin to decide, are at least those it lost;
// - on a clean line every record is counted; a damage costs at most two coins (three where
//   a window across it passes its checksum by chance). A start reply that may be a record half
//   costs what it costs until the rhythm or a long pause shows where records begin.
#include "fuzz_input.h"
#include "link/frame.h"
#include "link/record_framer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <span>
#include <vector>

namespace {

namespace link = quarvel::link;
using quarvel::fuzz::check;
using quarvel::fuzz::Input;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kAnswerAtMs = 1000;
constexpr std::int64_t kWindowMs = 200; // the host takes start replies as answers this long

struct Byte
{
    std::int64_t atMs;
    std::uint8_t value;
};

// What the selector sends, and what the line makes of it.
class Selector
{
public:
    explicit Selector(Input& in) : m_in(in), m_random(in.byte()), m_spare(in.byte()) {}

    void run()
    {
        const std::int64_t gaps[] = {0, 3, 30, 100, 300, 1000};
        const std::int64_t halfGap = gaps[m_in.byte() % 6];
        const int spacing = m_in.byte();
        const bool byHand = spacing % 2 == 0;
        const std::int64_t feeder = std::int64_t{1} + spacing % 200;
        // The technician inserts coins until the run counts: the last two come clean.
        const int records = 3 + m_in.byte() % 14;
        const int damages = m_in.byte() % 4;
        std::int64_t at = kAnswerAtMs + 5 + m_in.byte() * 8;
        // A repeated answer, its bytes 1 to 3 the selector's, inside the window.
        if (m_in.byte() % 4 == 0) {
            const std::int64_t when = kAnswerAtMs + 5 + m_in.byte() % (kWindowMs - 10);
            Bytes answer{link::command::kStartSampling, m_in.byte(), m_in.byte(), m_in.byte(), 0};
            answer[4] = link::checksum(answer[0], answer[1], answer[2], answer[3]);
            m_repeats.push_back({when, answer});
            m_repeated = true;
            ++m_answersAmong;
        }
        // The first records teach the rhythm (the third confirms the first two); damage comes
        // later. Earlier damage makes no coin up either, but a feeder's records may then go
        // uncounted until it pauses: the framer's tests show both.
        int nextDamage = damages > 0 ? 4 + m_in.byte() % 4 : -1;
        int damaged = 0;
        // The pause after each coin, drawn up front: a lost half shows only between pauses unlike it.
        std::vector<std::int64_t> pauses;
        for (int n = 0; n <= records; ++n)
            pauses.push_back(byHand ? 300 + m_in.u16() % 2700 : feeder);
        const auto unlike = [halfGap](std::int64_t pause) {
            // A pause stands out beyond the line's jitter: a USB tick or two, and an eighth of a
            // long one.
            return std::abs(pause - halfGap) > 100 && std::min(pause, halfGap) + 3 >= 40 + halfGap / 8;
        };
        m_rhythmTells = std::all_of(pauses.begin(), pauses.end(), unlike);
        for (int n = 1; n <= records; ++n) {
            const Bytes r = record(n);
            m_sent.push_back(r);
            for (int h = 0; h < 2; ++h) {
                Bytes half(r.begin() + h * 5, r.begin() + h * 5 + 5);
                const bool damageHere = n == nextDamage && n <= records - 2 && h == m_in.byte() % 2;
                if (damageHere) {
                    ++m_damages;
                    ++damaged;
                    nextDamage = damaged < damages ? n + 2 + m_in.byte() % 4 : -1;
                }
                // A whole half goes missing only where the rhythm can tell (the pauses beside it
                // unlike the half gap) and the framer could learn it: a start reply among the
                // first records may have been a half, and then nothing learnt tells.
                const auto k = static_cast<std::size_t>(n);
                const bool visible = unlike(pauses[k - 1]) && unlike(pauses[k]) && m_answersAmong == 0;
                const bool lost = damageHere && damage(half, visible);
                // One line: a repeated answer due now goes out first, the half after it.
                if (!m_repeats.empty() && m_repeats.front().first <= at + 3) {
                    const auto repeat = m_repeats.front();
                    m_repeats.clear();
                    put(repeat.second, std::min(repeat.first, at));
                    at = std::max(repeat.first, at) + 4;
                }
                if (!lost) put(half, at);
                // A half that reads as a start reply inside the window may be one.
                if (!lost && half[0] == link::command::kStartSampling && at <= kAnswerAtMs + kWindowMs)
                    ++m_answersAmong;
                at += 3 + (h == 0 ? halfGap : 0);
            }
            at += pauses[static_cast<std::size_t>(n)];
        }
        for (const auto& [when, answer] : m_repeats)
            put(answer, when);
        std::stable_sort(m_line.begin(), m_line.end(),
                         [](const Byte& a, const Byte& b) { return a.atMs < b.atMs; });
    }

    const std::vector<Byte>& line() const { return m_line; }
    const std::vector<Bytes>& sent() const { return m_sent; }
    int damages() const { return m_damages; }
    int answersAmong() const { return m_answersAmong; }
    bool repeated() const { return m_repeated; }
    // Every pause between coins unlike the half gap, beyond the line's jitter.
    bool rhythmTells() const { return m_rhythmTells; }

private:
    // A record as a selector measures a coin: its values vary as coins do, not as a fuzzer
    // would choose them (bytes that pass checksums in every window are no line's).
    Bytes record(int n)
    {
        static constexpr std::uint8_t kTypes[] = {0x00, 0x10, 0x92, link::command::kStartSampling};
        const std::uint8_t type = kTypes[m_in.byte() % 4];
        Bytes r(10);
        r[0] = type;
        r[1] = static_cast<std::uint8_t>(m_random() & 0x7F);
        r[2] = static_cast<std::uint8_t>(m_random());
        r[3] = static_cast<std::uint8_t>(m_random());
        r[4] = link::checksum(r[0], r[1], r[2], r[3]);
        r[5] = m_in.byte() % 4 == 0 ? link::command::kStartSampling : m_spare;
        r[6] = static_cast<std::uint8_t>(n); // tells the records apart
        r[7] = static_cast<std::uint8_t>(m_random());
        r[8] = static_cast<std::uint8_t>(m_random());
        r[9] = link::checksum(r[5], r[6], r[7], r[8]);
        return r;
    }

    // One damage to this half; true when the whole half is lost.
    bool damage(Bytes& half, bool canLoseHalf)
    {
        switch (m_in.byte() % 4) {
        case 0:
            half[m_in.byte() % 5] ^= static_cast<std::uint8_t>(1 + m_random() % 255);
            return false;
        case 1:
            half.erase(half.begin() + m_in.byte() % 5);
            return false;
        case 2: {
            // Five bytes of noise that pass their own checksum would be a half to anyone.
            const int noise = 1 + m_in.byte() % 4;
            const auto where = half.begin() + m_in.byte() % 6;
            Bytes bytes;
            for (int i = 0; i < noise; ++i)
                bytes.push_back(static_cast<std::uint8_t>(m_random()));
            half.insert(where, bytes.begin(), bytes.end());
            return false;
        }
        default:
            return canLoseHalf;
        }
    }

    // At wire pace, two bytes a millisecond, handed over in chunks of any size.
    void put(const Bytes& bytes, std::int64_t at)
    {
        std::int64_t t = at;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i % 2 == 1) ++t;
            m_line.push_back({t, bytes[i]});
        }
    }

    Input& m_in;
    std::minstd_rand m_random;
    std::uint8_t m_spare; // byte 5, whatever this selector puts there
    std::vector<Byte> m_line;
    std::vector<Bytes> m_sent;
    std::vector<std::pair<std::int64_t, Bytes>> m_repeats;
    int m_damages = 0;
    int m_answersAmong = 0;
    bool m_repeated = false;
    bool m_rhythmTells = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    Selector selector(in);
    selector.run();

    link::RecordFramer framer;
    // The host sent a second start frame where the model answers twice.
    framer.begin(kAnswerAtMs + kWindowMs, selector.repeated() ? 1 : 0);
    std::vector<Bytes> counted;
    int said = 0;
    const auto note = [&](const std::vector<link::RecordFramer::Event>& events) {
        for (const auto& e : events) {
            if (e.kind == link::RecordFramer::Event::Kind::NotCounted) said += e.coins;
            if (e.kind == link::RecordFramer::Event::Kind::Record &&
                e.decoded.check == quarvel::sampling::RecordCheck::Accepted)
                counted.push_back(e.bytes);
        }
    };
    const auto& line = selector.line();
    for (std::size_t i = 0; i < line.size();) {
        for (auto due = framer.dueMs(); due && *due <= line[i].atMs; due = framer.dueMs())
            note(framer.silence(*due));
        // The bytes of one moment, in chunks of any size.
        std::size_t end = i;
        while (end < line.size() && line[end].atMs == line[i].atMs)
            ++end;
        while (i < end) {
            const std::size_t take = std::min<std::size_t>(end - i, 1 + in.byte() % 8);
            Bytes chunk;
            for (std::size_t k = i; k < i + take; ++k)
                chunk.push_back(line[k].value);
            note(framer.arrived(chunk, line[i].atMs));
            i += take;
        }
    }
    for (auto due = framer.dueMs(); due; due = framer.dueMs())
        note(framer.silence(*due));

    // Never a record not sent, and in order.
    const auto& sent = selector.sent();
    int last = 0;
    for (const Bytes& r : counted) {
        const int n = r[6];
        check(n > last && n <= static_cast<int>(sent.size()));
        check(r == sent[static_cast<std::size_t>(n - 1)]);
        last = n;
    }
    const int lost = static_cast<int>(sent.size() - counted.size());
    // A first pair on trial waits for the next coin to show its rhythm: held, not yet lost.
    const int held = static_cast<int>((framer.held() + 9) / 10);
    check(said + held >= lost);
    // Two coins a damage, and one more where a window across it passes its checksum by chance,
    // wherever the rhythm tells halves from records. Where records follow as closely as halves,
    // or a start reply among them may be a half, where records begin can be unknown until the
    // next long pause: no bound holds there but that every coin not counted is said.
    if (selector.rhythmTells() && selector.answersAmong() == 0) check(lost <= 3 * selector.damages());
    return 0;
}
