#include "link/link_engine.h"
#include "link/sampling_transfer.h"

#include <gtest/gtest.h>

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
Bytes coin(int n, std::uint8_t type = 0x91, std::uint8_t aHigh = 0x13)
{
    Bytes r{type, aHigh, static_cast<std::uint8_t>(n), 7, 0, 0, static_cast<std::uint8_t>(40 + n), 42, 48, 0};
    r[4] = static_cast<std::uint8_t>(r[0] + r[1] + r[2] + r[3]);
    r[9] = static_cast<std::uint8_t>(r[5] + r[6] + r[7] + r[8]);
    return r;
}
Bytes coins(int from, int to)
{
    Bytes all;
    for (int n = from; n <= to; ++n) {
        const Bytes r = coin(n);
        all.insert(all.end(), r.begin(), r.end());
    }
    return all;
}
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One sampling job on the engine, on a clock that moves only when the test says so.
struct Bench
{
    Engine engine;
    std::vector<sampling::Sample> samples;
    std::int64_t now = 0;
    std::optional<Engine::ArmTimer> timer;
    std::vector<Frame> sent;
    std::vector<std::string> texts;
    std::vector<TrafficEntry> traffic;
    std::optional<TransferSummary> end;

    Bench()
    {
        Engine::Jobs jobs;
        jobs.push_back(std::make_unique<SamplingTransfer>(samples));
        apply(engine.run(std::move(jobs), now).value());
    }
    void apply(const Engine::Actions& actions)
    {
        for (const auto& action : actions) {
            if (const auto* a = std::get_if<Engine::ArmTimer>(&action)) timer = *a;
            if (std::holds_alternative<Engine::StopTimer>(action)) timer.reset();
            if (const auto* w = std::get_if<Engine::Write>(&action)) sent.push_back(w->frame);
            if (const auto* t = std::get_if<Engine::Traffic>(&action)) traffic.push_back(t->entry);
            if (const auto* f = std::get_if<Engine::TransferFinished>(&action)) end = f->summary;
            if (const auto* s = std::get_if<Engine::Status>(&action))
                if (const auto* shown = std::get_if<ShowText>(&s->report)) texts.push_back(shown->text);
        }
    }
    void feed(const Bytes& bytes) { apply(engine.bytesArrived(bytes, now)); }
    // In uneven pieces, as a serial driver may deliver them.
    void trickle(const Bytes& bytes)
    {
        for (std::size_t at = 0, n = 1; at < bytes.size(); at += n, n = n % 7 + 1)
            feed(Bytes(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + n)));
    }
    void expire()
    {
        ASSERT_TRUE(timer) << "nothing to time out";
        now += timer->ms;
        const auto tag = timer->tag;
        timer.reset();
        apply(engine.timerFired(tag, now));
    }
};

const std::string kInsert = "Insert 12 Coins !!";
const std::string kTimeOut = "communication time out !";

} // namespace

TEST(SamplingTransfer, Runs)
{
    enum Kind
    {
        Feed,
        Trickle,
        Expire,
        Cancel,
        Lose
    };
    struct Event
    {
        Kind kind;
        Bytes bytes = {};
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
    Bytes badSecond = coin(99);
    ++badSecond[9];
    const std::vector<int> all12{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::string speed = "speed strange : A=19B=12C=7X=52Y=42dH=48";
    const std::vector<Case> cases{
        {"handshake at the fifth attempt, then a coin per read",
         {{Expire}, {Expire}, {Expire}, {Feed, kWrongEcho}, {Feed, kStarted}, {Feed, coins(1, 12)}},
         EndReason::Succeeded,
         all12,
         {kInsert, kTimeOut, kTimeOut, kTimeOut},
         5},
        {"split, merged, after noise and one stray byte",
         {{Feed, kStarted},
          {Trickle,
           Bytes{0x55, 0xAA, 0x00} + coins(1, 4) + Bytes{0xE3} + coins(5, 9) + Bytes{0x92} + coins(10, 12)}},
         EndReason::Succeeded,
         all12,
         {kInsert},
         1},
        {"records behind the handshake answer in one read",
         {{Feed, kStarted + coins(1, 12)}},
         EndReason::Succeeded,
         all12,
         {kInsert},
         1},
        {"irregular speed shows its text and counts",
         {{Feed, kStarted}, {Feed, coins(1, 11)}, {Feed, coin(12, 0x92)}},
         EndReason::Succeeded,
         all12,
         {kInsert, speed},
         1},
        {"bad second checksum and A out of range are not counted",
         {{Feed, kStarted}, {Trickle, coins(1, 3) + badSecond + coin(98, 0x91, 0x80) + coins(4, 12)}},
         EndReason::Succeeded,
         all12,
         {kInsert},
         1},
        // A second answer to the start must never be read as half a record: the stream would
        // slip by five bytes and every later pair of halves would pass as a record.
        {"handshake answered late, its second answer merged with the first coins",
         {{Expire}, {Feed, kStarted}, {Trickle, kStarted + coins(1, 12)}},
         EndReason::Succeeded,
         all12,
         {kInsert, kTimeOut},
         2},
        {"handshake answer between two coins",
         {{Feed, kStarted}, {Feed, coins(1, 6) + kStarted + coins(7, 12)}},
         EndReason::Succeeded,
         all12,
         {kInsert},
         1},
        {"five stray bytes that pass a checksum, then a record of no known type",
         {{Feed, kStarted},
          {Trickle,
           coins(1, 3) + Bytes{0x10, 0x20, 0x30, 0x40, 0xA0} + coins(4, 8) + coin(97, 0x01) + coins(9, 12)}},
         EndReason::Succeeded,
         all12,
         {kInsert},
         1},
        {"cancel before any coin",
         {{Feed, kStarted}, {Cancel}},
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
         {{Expire}, {Feed, kWrongEcho}, {Expire}, {Feed, Bytes{0xE3, 0, 0, 0, 0}}, {Expire}},
         EndReason::HandshakeFailed,
         {},
         {kInsert, kTimeOut, kTimeOut, kTimeOut, "Coin Selector error"},
         5},
        {"port lost with coins taken",
         {{Feed, kStarted}, {Feed, coins(1, 5)}, {Lose}},
         EndReason::PortLost,
         {},
         {kInsert},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        for (const auto& e : c.events) {
            if (e.kind == Feed) b.feed(e.bytes);
            if (e.kind == Trickle) b.trickle(e.bytes);
            if (e.kind == Expire) b.expire();
            if (e.kind == Cancel) b.apply(b.engine.abort(Transfer::AbortReason::UserCancel, b.now));
            if (e.kind == Lose) b.apply(b.engine.abort(Transfer::AbortReason::PortLost, b.now));
        }
        ASSERT_TRUE(b.end) << "the run did not end";
        EXPECT_EQ(b.end->reason, c.reason);
        std::vector<int> accepted;
        for (const auto& s : b.samples)
            accepted.push_back(s.x - 40);
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(b.texts, c.texts);
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
    b.now += 3'600'000;
    b.feed(kCoin);
    ASSERT_EQ(b.samples, std::vector{kCoinSample});
    EXPECT_FALSE(b.end);
    EXPECT_EQ(b.traffic.back().meaning, "record: A=5055 X=41 Y=42 dH=48");
    b.feed(coins(2, 12));
    ASSERT_TRUE(b.end);
    EXPECT_EQ(b.end->cellsDone, 12);
}
