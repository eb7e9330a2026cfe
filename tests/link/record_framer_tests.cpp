#include "link/record_framer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace quarvel;
using namespace quarvel::link;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A selector's run as it reaches the host: each half a burst of bytes 1 ms apart, its record
// numbered in bytes 2 (A low) and 6 (X), so that a counted record names the coin it is.
struct Half
{
    int coin;
    std::int64_t atMs;
    Bytes bytes;
    std::int64_t tailLateMs = 0; // its last two bytes handed over this much later
};

Bytes record(int coin, std::uint8_t type, std::uint8_t aHigh = 0x13)
{
    const auto n = static_cast<std::uint8_t>(coin);
    Bytes r{type, aHigh, n, 7, 0, 0x5A, n, 42, 48, 0};
    r[4] = checksum(r[0], r[1], r[2], r[3]);
    r[9] = checksum(r[5], r[6], r[7], r[8]);
    return r;
}

// Twelve coins, the first 1 s after the answer; `coinGapMs` from one record's end to the next
// (by a hand: that much or up to half again, varying).
std::vector<Half> run(std::int64_t halfGapMs, std::int64_t coinGapMs, int coins = 12, bool hand = false)
{
    std::vector<Half> halves;
    std::int64_t at = 1000;
    for (int coin = 1; coin <= coins; ++coin) {
        const Bytes r = record(coin, static_cast<std::uint8_t>(0x30 + coin));
        halves.push_back({coin, at, Bytes(r.begin(), r.begin() + 5)});
        at += 4 + halfGapMs;
        halves.push_back({coin, at, Bytes(r.begin() + 5, r.end())});
        at += 4 + coinGapMs + (hand ? coinGapMs * ((coin * 7) % 5) / 8 : 0);
    }
    return halves;
}

struct Result
{
    std::string counted; // the coins counted, in order
    int notCounted = 0;  // coins the user was told to insert again
};

// answersUntilMs: the end of the handshake window, where another start frame went out.
Result feed(const std::vector<Half>& halves, std::optional<std::int64_t> answersUntilMs = std::nullopt)
{
    RecordFramer framer;
    framer.begin(answersUntilMs.value_or(0), answersUntilMs ? 1 : 0);
    Result result;
    std::map<int, Bytes> sent;
    for (const Half& h : halves)
        sent[h.coin].insert(sent[h.coin].end(), h.bytes.begin(), h.bytes.end());
    const auto note = [&](const std::vector<RecordFramer::Event>& events) {
        for (const auto& e : events) {
            if (e.kind == RecordFramer::Event::Kind::NotCounted) result.notCounted += e.coins;
            if (e.kind == RecordFramer::Event::Kind::Record &&
                e.decoded.check == sampling::RecordCheck::Accepted) {
                // Every record counted is one the selector sent, whole.
                EXPECT_EQ(e.bytes, sent[e.bytes[2]]);
                result.counted += std::to_string(e.bytes[2]) + " ";
            }
        }
    };
    for (const Half& h : halves) {
        // The timer the transfer arms fires on time, during the silence.
        for (auto due = framer.dueMs(); due && *due <= h.atMs; due = framer.dueMs())
            note(framer.silence(*due));
        for (std::size_t i = 0; i < h.bytes.size(); ++i)
            note(framer.arrived(std::span(h.bytes).subspan(i, 1),
                                h.atMs + static_cast<std::int64_t>(i) + (i >= 3 ? h.tailLateMs : 0)));
    }
    for (auto due = framer.dueMs(); due; due = framer.dueMs())
        note(framer.silence(*due));
    EXPECT_EQ(framer.held(), 0U);
    return result;
}

std::string coins(std::initializer_list<int> skipped, int last = 12)
{
    std::string s;
    for (int c = 1; c <= last; ++c)
        if (std::find(skipped.begin(), skipped.end(), c) == skipped.end()) s += std::to_string(c) + " ";
    return s;
}

// The stream with something done to one half of one coin (0: its first half, 1: its second).
std::vector<Half> with(std::vector<Half> halves, int coin, int which, const auto& change)
{
    auto it = std::find_if(halves.begin(), halves.end(), [coin](const Half& h) { return h.coin == coin; });
    change(halves, it + which);
    return halves;
}
const auto spoil = [](std::vector<Half>&, auto h) { h->bytes[2] ^= 0x10; };
const auto loseByte = [](std::vector<Half>&, auto h) { h->bytes.erase(h->bytes.begin() + 1); };
const auto loseHalf = [](std::vector<Half>& all, auto h) { all.erase(h); };
const auto likeAnswer = [](std::vector<Half>&, auto h) { h->bytes = {0xE3, 0, 0, 0, 0xE3}; };
// An adapter hands a half over in two chunks, a latency tick and more apart.
const auto chunked = [](std::vector<Half>& all, auto h) {
    h->tailLateMs = 25;
    for (auto later = h + 1; later != all.end(); ++later)
        later->atMs += 25;
};

} // namespace

TEST(RecordFramer, CountsWhatIsCertainAndSaysWhatIsNot)
{
    struct Case
    {
        const char* name;
        std::vector<Half> stream;
        std::string counted;
        int notCounted;
    };
    const std::vector<Case> cases{
        {"halves together, coins 30 ms apart", run(0, 30), coins({}), 0},
        {"halves 300 ms apart, coins 30 ms apart", run(300, 30), coins({}), 0},
        {"halves 1 s apart, coins 800 ms apart", run(1000, 800), coins({}), 0},
        {"back to back", run(0, 0), coins({}), 0},
        {"halves and coins alike, 100 ms", run(100, 100), coins({}), 0},
        {"a spoiled byte, coins 30 ms apart", with(run(0, 30), 5, 1, spoil), coins({5}), 1},
        {"a spoiled first half, halves 300 ms apart", with(run(300, 30), 5, 0, spoil), coins({5}), 1},
        {"a spoiled byte in the first record", with(run(0, 30), 1, 0, spoil), coins({1}), 1},
        {"a spoiled byte in the second record", with(run(0, 30), 2, 1, spoil), coins({2}), 1},
        {"a spoiled byte, back to back", with(run(0, 0), 6, 0, spoil), coins({6}), 1},
        {"a lost byte, coins 30 ms apart", with(run(0, 30), 5, 1, loseByte), coins({5, 6}), 2},
        {"a lost byte, halves 1 s apart", with(run(1000, 300), 7, 0, loseByte), coins({6, 7}), 2},
        {"a lost second half, coins 150 ms apart", with(run(0, 150), 4, 1, loseHalf), coins({4}), 1},
        {"a lost first half, coins 150 ms apart", with(run(0, 150), 4, 0, loseHalf), coins({4}), 1},
        {"a lost second half, halves 300 ms apart", with(run(300, 30), 3, 1, loseHalf), coins({3, 4}), 2},
        // Where records follow as closely as halves, nothing shows which end of the run lost it.
        {"a lost half, halves and coins alike", with(run(100, 100), 6, 1, loseHalf),
         coins({1, 2, 3, 4, 5, 6}), 6},
        {"a lost second half of the first record, by hand", with(run(0, 400, 12, true), 1, 1, loseHalf),
         coins({1, 2}), 2},
        {"a half like the answer, after the handshake", with(run(0, 800), 1, 1, likeAnswer), coins({}), 0},
        // The pause between halves counts from a half's last byte.
        {"a first half in two chunks", with(run(0, 60), 4, 0, chunked), coins({}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = feed(c.stream);
        EXPECT_EQ(r.counted, c.counted);
        EXPECT_EQ(r.notCounted, c.notCounted);
    }
}

TEST(RecordFramer, AStartAnswerCountsOnlyInTheHandshakeWindow)
{
    const auto answer = [](std::int64_t at, Bytes bytes) { return Half{0, at, std::move(bytes)}; };
    // Three more coins by a feeder, 3 s after the others: a pause no half gap spans.
    const auto andLater = [](std::vector<Half> stream) {
        const std::int64_t end = stream.back().atMs;
        for (Half h : run(0, 30, 3)) {
            h.coin += 6;
            h.bytes[h.bytes[0] == 0x5A ? 1 : 2] = static_cast<std::uint8_t>(h.coin);
            h.bytes[4] = checksum(h.bytes[0], h.bytes[1], h.bytes[2], h.bytes[3]);
            h.atMs += end + 2000;
            stream.push_back(h);
        }
        return stream;
    };
    // Answers to two start frames, differing in the bytes the selector chooses: alone, the
    // second is set aside.
    std::vector<Half> stream = run(0, 300, 3);
    stream.insert(stream.begin() + 2, answer(1150, {0xE3, 0, 0, 1, 0xE4}));
    Result r = feed(stream, 1200);
    EXPECT_EQ(r.counted, coins({}, 3));
    EXPECT_EQ(r.notCounted, 0);
    // Among records 30 ms apart it may be a half: then nothing shows where the feeder's records
    // begin until a long pause, and every coin until then is said.
    stream = run(0, 30, 6);
    stream.insert(stream.begin() + 2, answer(1020, {0xE3, 0, 0, 1, 0xE4}));
    r = feed(andLater(stream), 1100);
    EXPECT_EQ(r.counted, "7 8 9 ");
    EXPECT_EQ(r.notCounted, 7); // had the answer been a half, its partner would be lost too

    // A record whose first half reads as a start reply may be an answer and an orphan half.
    stream = run(0, 30, 6);
    const Bytes e3 = record(1, 0xE3);
    stream[0].bytes.assign(e3.begin(), e3.begin() + 5);
    EXPECT_EQ(feed(andLater(stream), 1100).counted, "7 8 9 ");
    EXPECT_EQ(feed(stream, 900).counted, coins({}, 6));
}

TEST(RecordFramer, ARecordWhoseAValueDoesNotFitIsSaid)
{
    std::vector<Half> stream = run(0, 30, 3);
    const Bytes wide = record(2, 0x33, 0x80);
    stream[2].bytes.assign(wide.begin(), wide.begin() + 5);
    const Result r = feed(stream);
    EXPECT_EQ(r.counted, "1 3 ");
    EXPECT_EQ(r.notCounted, 1);
}
