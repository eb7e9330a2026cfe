#include "link/link_engine.h"
#include "link/sampling_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using namespace quarvel;
using namespace quarvel::link;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Engine = LinkEngine;

const Bytes kStarted{0xE3, 0, 0, 0, 0xE3};
const Bytes kWrongEcho{0xE1, 0, 0, 0, 0xE1};
const Frame kStart{0xE3, 1, 2, 3, 0xE9};
const Frame kEnd{0x84, 1, 2, 3, 0x8A};
// Written out by hand: A = 0x13BF = 5055, C = 7, X = 41, Y = 42, dH = 48.
const Bytes kCoin{0x91, 0x13, 0xBF, 0x07, 0x6A, 0x00, 0x29, 0x2A, 0x30, 0x83};
const sampling::Sample kCoinSample{5055, 41, 42, 48, false};

// A valid record for coin n of a run, so that each accepted sample can be told apart.
Bytes coin(int n, std::uint8_t type = 0x00, std::uint8_t aHigh = 0x13, std::uint8_t spare = 0)
{
    Bytes r{type, aHigh, static_cast<std::uint8_t>(n), 7, 0, spare, static_cast<std::uint8_t>(40 + n), 42,
            48,   0};
    r[4] = static_cast<std::uint8_t>(r[0] + r[1] + r[2] + r[3]);
    r[9] = static_cast<std::uint8_t>(r[5] + r[6] + r[7] + r[8]);
    return r;
}
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One sampling job on the engine, on a clock that moves only when the test says so; a timer
// the engine armed fires when the clock passes it, as the driver's would.
struct Bench
{
    Engine engine;
    std::int64_t now = 0;
    std::optional<Engine::ArmTimer> timer;
    std::int64_t timerDue = 0;
    std::vector<Frame> sent;
    std::vector<std::string> texts;
    std::vector<TrafficEntry> traffic;
    std::optional<TransferSummary> end;

    Bench()
    {
        Engine::Jobs jobs;
        jobs.push_back(std::make_unique<SamplingTransfer>());
        apply(engine.run(std::move(jobs), now).value());
    }
    void apply(const Engine::Actions& actions)
    {
        for (const auto& action : actions) {
            if (const auto* a = std::get_if<Engine::ArmTimer>(&action)) {
                timer = *a;
                timerDue = now + a->ms;
            }
            if (std::holds_alternative<Engine::StopTimer>(action)) timer.reset();
            if (const auto* w = std::get_if<Engine::Write>(&action)) sent.push_back(w->frame);
            if (const auto* t = std::get_if<Engine::Traffic>(&action)) traffic.push_back(t->entry);
            if (const auto* f = std::get_if<Engine::TransferFinished>(&action)) end = f->summary;
            if (const auto* s = std::get_if<Engine::Status>(&action))
                if (const auto* shown = std::get_if<ShowText>(&s->report)) texts.push_back(shown->text);
        }
    }
    void wait(std::int64_t ms)
    {
        const std::int64_t until = now + ms;
        while (timer && timerDue <= until) {
            now = timerDue;
            const auto tag = timer->tag;
            timer.reset();
            apply(engine.timerFired(tag, now));
        }
        now = until;
    }
    void feed(const Bytes& bytes)
    {
        fed.insert(fed.end(), bytes.begin(), bytes.end());
        apply(engine.bytesArrived(bytes, now));
    }
    Bytes fed;
    // What the run handed over when it ended.
    std::vector<sampling::Sample> samples() const
    {
        return end ? std::get<std::vector<sampling::Sample>>(end->output) : std::vector<sampling::Sample>{};
    }
    // Long enough for a quiet wait before a retry and the retry's own time-out.
    void expire()
    {
        ASSERT_TRUE(timer) << "nothing to time out";
        wait(250);
    }
};

const std::string kInsert = "Insert 12 Coins !!";
const std::string kTimeOut = "communication time out !";
const std::string kOneLost = "1 coin not counted: line noise; insert it again";

} // namespace

TEST(SamplingTransfer, Runs)
{
    enum Kind
    {
        Burst, // after a pause between coins
        Chunk, // ms after the last bytes
        Expire,
        Cancel,
        Lose
    };
    struct Event
    {
        Kind kind;
        Bytes bytes = {};
        std::int64_t ms = 0;
    };
    struct Case
    {
        const char* name;
        std::vector<Event> events;
        EndReason reason;
        std::vector<int> accepted; // coin numbers of the samples kept, in order
        std::vector<std::string> texts;
        int startFrames;
    };
    // Coins from..to, each as its own burst, of one record type.
    const auto coins = [](int from, int to, std::uint8_t type = 0x00) {
        std::vector<Event> events;
        for (int n = from; n <= to; ++n)
            events.push_back({Burst, coin(n, type)});
        return events;
    };
    const auto join = [](std::vector<Event> a, const std::vector<Event>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const auto started = [&](std::vector<Event> rest) { return join({{Chunk, kStarted, 1}}, rest); };
    Bytes badSecond = coin(99);
    ++badSecond[9];
    Bytes lostByte = coin(98);
    lostByte.erase(lostByte.begin() + 3);
    // Its first half reads as a start answer until the burst ends.
    const Bytes third = coin(3, 0xE3);
    const std::vector<int> all12{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::string speed = "speed strange : A=19B=12C=7X=52Y=42dH=48";
    std::vector<Case> cases;
    // Byte 0 is the selector's own: only 0x92 means something, and no value may stop a run.
    for (const std::uint8_t type : {0x00, 0x10, 0x90, 0x91, 0xE3, 0xFF})
        cases.push_back(
            {"regular record type", started(coins(1, 12, type)), EndReason::Succeeded, all12, {kInsert}, 1});
    const std::vector<Case> more{
        {"handshake at the fifth attempt",
         join({{Expire}, {Expire}, {Expire}, {Chunk, kWrongEcho, 1}, {Chunk, kStarted, 50}}, coins(1, 12)),
         EndReason::Succeeded,
         all12,
         {kInsert, kTimeOut, kTimeOut, kTimeOut},
         5},
        {"coins behind the handshake answer in one read, a record split 16 ms apart, two in one burst",
         join({{Chunk, kStarted + coin(1) + coin(2), 1},
               {Burst, Bytes(third.begin(), third.begin() + 5)},
               {Chunk, Bytes(third.begin() + 5, third.end()), 16},
               {Burst, coin(4) + coin(5)}},
              coins(6, 12)),
         EndReason::Succeeded,
         all12,
         {kInsert},
         1},
        {"irregular speed shows its text and counts; byte 5 may be 0xE3",
         started(join(coins(1, 10), {{Burst, coin(11, 0x00, 0x13, 0xE3)}, {Burst, coin(12, 0x92)}})),
         EndReason::Succeeded,
         all12,
         {kInsert, speed},
         1},
        {"bad checksum, A out of range, a lost byte and noise cost only their own bursts",
         started(join(coins(1, 3), join({{Burst, badSecond},
                                         {Burst, coin(97, 0x00, 0x80)},
                                         {Burst, lostByte},
                                         {Burst, Bytes{0x55, 0xAA, 0x00}},
                                         {Burst, Bytes{0x10, 0x20, 0x30, 0x40, 0xA0}}},
                                        coins(4, 12)))),
         EndReason::Succeeded,
         all12,
         {kInsert, kOneLost, "1 coin not counted: A out of range; insert it again", kOneLost, kOneLost,
          kOneLost},
         1},
        {"irregular speed with A out of range shows its text, counts nothing",
         started(join({{Burst, coin(96, 0x92, 0x80)}}, coins(1, 12))),
         EndReason::Succeeded,
         all12,
         {kInsert, "speed strange : A=128B=96C=7X=136Y=42dH=48",
          "1 coin not counted: A out of range; insert it again"},
         1},
        {"handshake answered twice, the second within a time-out of the first",
         join({{Expire}, {Chunk, kStarted, 1}, {Chunk, kStarted, 150}}, coins(1, 12, 0xE3)),
         EndReason::Succeeded,
         all12,
         {kInsert, kTimeOut},
         2},
        // The retry's answer, among the records, may be a record half: the coins beside it
        // are not counted, and the user is told; where records begin is certain again after
        // a pause longer than any half gap.
        {"an answer cut by the time-out, coins right behind it: the retry keeps it",
         join({{Chunk, Bytes(kStarted.begin(), kStarted.begin() + 2), 199},
               {Chunk, Bytes(kStarted.begin() + 2, kStarted.end()) + coin(1), 2},
               {Chunk, kStarted + coin(2), 3},
               {Chunk, coin(3), 2000}},
              coins(4, 14)),
         EndReason::Succeeded,
         {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14},
         {kInsert, kTimeOut, "3 coins not counted: a record like the start answer; insert them again"},
         2},
        // Out of the handshake window a start reply is a record half, whose coin the user inserts again.
        {"handshake answer between two coins",
         started(join(coins(1, 6), join({{Burst, kStarted}}, coins(7, 12)))),
         EndReason::Succeeded,
         all12,
         {kInsert, "1 coin not counted: half a record missing; insert it again"},
         1},
        {"cancel before any coin",
         {{Chunk, kStarted, 1}, {Cancel}},
         EndReason::Cancelled,
         {},
         {kInsert, "User terminate Insert !"},
         1},
        {"cancel during the handshake",
         {{Expire}, {Cancel}},
         EndReason::Cancelled,
         {},
         {kInsert, kTimeOut, "User terminate Insert !"},
         2},
        {"five failed handshakes",
         {{Expire}, {Chunk, kWrongEcho, 1}, {Expire}, {Chunk, Bytes{0xE3, 0, 0, 0, 0}, 1}, {Expire}},
         EndReason::HandshakeFailed,
         {},
         {kInsert, kTimeOut, kTimeOut, kTimeOut, "Coin Selector error"},
         5},
        {"port lost with coins taken",
         started(join(coins(1, 5), {{Lose}})),
         EndReason::PortLost,
         {},
         {kInsert},
         1},
    };
    cases.insert(cases.end(), more.begin(), more.end());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        for (const auto& e : c.events) {
            if (e.kind == Burst) b.wait(1000);
            if (e.kind == Chunk) b.wait(e.ms);
            if (e.kind == Burst || e.kind == Chunk) b.feed(e.bytes);
            if (e.kind == Expire) b.expire();
            if (e.kind == Cancel) b.apply(b.engine.abort(Transfer::AbortReason::UserCancel, b.now));
            if (e.kind == Lose) b.apply(b.engine.abort(Transfer::AbortReason::PortLost, b.now));
        }
        b.wait(1000);
        std::vector<int> accepted;
        for (const auto& s : b.samples())
            accepted.push_back(s.x - 40);
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(b.texts, c.texts);
        // The trace names every byte that came once, in order; at most a partial half is held.
        Bytes traced;
        for (const auto& t : b.traffic)
            if (t.direction == Direction::Received)
                traced.insert(traced.end(), t.bytes.begin(), t.bytes.end());
        ASSERT_LE(traced.size(), b.fed.size());
        EXPECT_TRUE(std::equal(traced.begin(), traced.end(), b.fed.begin()));
        // A lost port leaves what the framer held unnamed.
        if (c.reason != EndReason::PortLost) {
            EXPECT_LT(b.fed.size() - traced.size(), 5u);
        }
        if (c.reason == EndReason::None) {
            EXPECT_FALSE(b.end);
            continue;
        }
        ASSERT_TRUE(b.end) << "the run did not end";
        EXPECT_EQ(b.end->reason, c.reason);
        // Spoiled bytes are failed exchanges of the run, as many as the coins they cost at least.
        const auto noise = std::count(c.texts.begin(), c.texts.end(), kOneLost);
        EXPECT_GE(b.end->count(ExchangeFault::BadChecksum), noise);
        // The end frame closes every run but one on a lost port; nothing is sent after it.
        std::vector<Frame> expected(c.startFrames, kStart);
        if (c.reason != EndReason::PortLost) expected.push_back(kEnd);
        EXPECT_EQ(b.sent, expected);
    }
}

TEST(SamplingTransfer, CollectionWaitsWithoutTimeLimitAndReportsEachCoin)
{
    Bench b;
    b.feed(kStarted);
    EXPECT_FALSE(b.timer) << "coins may take as long as the technician needs";
    b.wait(3'600'000);
    b.feed(kCoin);
    b.wait(500);
    b.feed(coin(2));
    b.wait(50); // the first record counts once the second shows the same rhythm
    EXPECT_FALSE(b.end);
    EXPECT_EQ(b.traffic[b.traffic.size() - 2].meaning, "record: A=5055 X=41 Y=42 dH=48");
    for (int n = 3; n <= 12; ++n) {
        b.wait(500);
        b.feed(coin(n));
    }
    b.wait(50);
    ASSERT_TRUE(b.end);
    EXPECT_EQ(b.end->cellsDone, 12);
    EXPECT_EQ(b.samples().front(), kCoinSample);
}
