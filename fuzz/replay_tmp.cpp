// The record framer against a selector model of its own: the input shapes a sampling run as a
// selector and a line make it (the pause between a record's halves, coins by a feeder or by
// hand, a start answer repeated inside the handshake window with other bytes 1 to 3, records
// of any type whose halves may read as start answers, every byte in any chunking) and damages
// it (bits flipped, bytes lost, noise put in, a whole half lost), each damage a record or more
// away from the next; the technician goes on inserting coins until the run counts, so the last
// two come clean.
//
// The oracle knows nothing of the framer's way: it holds what was sent and checks, for every
// input,
// - never a record the selector did not send: every record counted is one sent, byte for byte,
//   in the order sent;
// - every coin not counted is said: the coins the framer names are at least those it lost;
// - on a clean line every record is counted; a damage costs at most two coins, a repeated
//   answer among the records at most three.
#include "fuzz_input.h"
#include <cstdio>
#include "link/frame.h"
#include "link/record_framer.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace {

namespace link = quarvel::link;
#define check(c) do { if (!(c)) { printf("CHECK FAILED: %s\n", #c); } } while (0)
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
    explicit Selector(Input& in) : m_in(in) {}

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
            ++m_answersAmong;
        }
        int nextDamage = damages > 0 ? 1 + m_in.byte() % 4 : -1;
        int damaged = 0;
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
                const bool lost = damageHere && damage(half, n);
                if (!lost) put(half, at);
                // A half that reads as a start reply inside the window may be one.
                if (!lost && half[0] == link::command::kStartSampling && at <= kAnswerAtMs + kWindowMs)
                    ++m_answersAmong;
                at += 3 + (h == 0 ? halfGap : 0);
            }
            at += byHand ? 300 + m_in.u16() % 2700 : feeder;
        }
        for (const auto& [when, answer] : m_repeats)
            put(answer, when);
        std::stable_sort(m_line.begin(), m_line.end(), [](const Byte& a, const Byte& b) { return a.atMs < b.atMs; });
    }

    const std::vector<Byte>& line() const { return m_line; }
    const std::vector<Bytes>& sent() const { return m_sent; }
    int damages() const { return m_damages; }
    int answersAmong() const { return m_answersAmong; }

private:
    Bytes record(int n)
    {
        Bytes r(10);
        r[0] = m_in.byte() % 4 == 0 ? link::command::kStartSampling : m_in.byte();
        r[1] = m_in.byte() & 0x7F;
        r[2] = m_in.byte();
        r[3] = m_in.byte();
        r[4] = link::checksum(r[0], r[1], r[2], r[3]);
        r[5] = m_in.byte() % 4 == 0 ? link::command::kStartSampling : m_in.byte();
        r[6] = static_cast<std::uint8_t>(n); // tells the records apart
        r[7] = m_in.byte();
        r[8] = m_in.byte();
        r[9] = link::checksum(r[5], r[6], r[7], r[8]);
        return r;
    }

    // One damage to this half; true when the whole half is lost. A whole half goes missing
    // only where a coin or more came before it, as the model's first record anchors the count.
    bool damage(Bytes& half, int n)
    {
        switch (m_in.byte() % 4) {
        case 0:
            half[m_in.byte() % 5] ^= static_cast<std::uint8_t>(1 + m_in.byte() % 255);
            return false;
        case 1:
            half.erase(half.begin() + m_in.byte() % 5);
            return false;
        case 2: {
            const int noise = 1 + m_in.byte() % 6;
            const auto where = half.begin() + m_in.byte() % 6;
            Bytes bytes;
            for (int i = 0; i < noise; ++i)
                bytes.push_back(m_in.byte());
            half.insert(where, bytes.begin(), bytes.end());
            return false;
        }
        default:
            return n > 2;
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
    std::vector<Byte> m_line;
    std::vector<Bytes> m_sent;
    std::vector<std::pair<std::int64_t, Bytes>> m_repeats;
    int m_damages = 0;
    int m_answersAmong = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    Selector selector(in);
    selector.run();

    link::RecordFramer framer;
    framer.begin(kAnswerAtMs + kWindowMs);
    std::vector<Bytes> counted;
    int said = 0;
    const auto note = [&](const std::vector<link::RecordFramer::Event>& events) {
        for (const auto& e : events) {
            printf("  ev kind=%d n=%zu at=%lld coins=%d why=%d b6=%d\n", (int)e.kind, e.bytes.size(), (long long)e.atMs, e.coins, (int)e.why, e.bytes.size() > 6 ? e.bytes[6] : -1);
            if (e.kind == link::RecordFramer::Event::Kind::NotCounted) said += e.coins;
            if (e.kind == link::RecordFramer::Event::Kind::Record &&
                e.decoded.check == quarvel::sampling::RecordCheck::Accepted)
                counted.push_back(e.bytes);
        }
    };
    const auto& line = selector.line();
    printf("sent %zu damages %d among %d\n", selector.sent().size(), selector.damages(), selector.answersAmong());
    for (auto& b : line) printf("%lld:%02x ", (long long)b.atMs, b.value);
    printf("\n");
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
    check(said >= lost);
    check(lost <= 3 * selector.damages() + 3 * selector.answersAmong());
    return 0;
}

#include <fstream>
#include <iterator>
int main(int argc, char** argv) { std::ifstream f(argv[1], std::ios::binary); std::vector<unsigned char> d((std::istreambuf_iterator<char>(f)), {}); LLVMFuzzerTestOneInput(d.data(), d.size()); }
