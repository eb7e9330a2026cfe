#include "link/link_engine.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

using namespace quarvel::link;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Engine = LinkEngine;
using Actions = Engine::Actions;
using Log = std::vector<std::string>;

std::string decimal(std::span<const std::uint8_t> bytes)
{
    std::string text;
    for (auto b : bytes)
        text += (text.empty() ? "" : " ") + std::to_string(b);
    return text;
}

const Frame kRequest{225, 7, 8, 6, 246};
const Bytes kReply{225, 7, 0, 42, 18};
const Bytes kOther{225, 8, 0, 43, 20};
const Frame kClosing{132, 1, 2, 3, 138};

Step ask()
{
    Step step;
    step.send = kRequest;
    step.replyBytes = 5;
    return step;
}

Step done(Outcome outcome, Pause pause = Pause::None, std::optional<Frame> send = std::nullopt)
{
    Step step;
    step.outcome = outcome;
    step.pause = pause;
    step.send = send;
    return step;
}

// Logs every event and answers from its script; with the script spent it keeps asking.
class StubTransfer final : public Transfer
{
public:
    StubTransfer(std::string name, std::shared_ptr<Log> log, std::deque<Step> script)
        : m_name(std::move(name)), m_log(std::move(log)), m_script(std::move(script))
    {}
    Step start() override { return next("start"); }
    Step reply(std::span<const std::uint8_t> bytes) override { return next("reply " + decimal(bytes)); }
    Step timeout(std::int64_t) override { return next("timeout"); }
    Step abort(AbortReason reason) override
    {
        next(reason == AbortReason::PortLost ? "abort lost" : "abort cancel");
        Step step = done(Outcome::Failed, Pause::FromNow, kClosing); // goes out on cancel only
        step.reports = {ShowText{m_name + " failed", StatusColour::Red}};
        return step;
    }

private:
    Step next(const std::string& event)
    {
        m_log->push_back(m_name + ": " + event);
        if (m_script.empty()) return ask();
        Step step = std::move(m_script.front());
        m_script.pop_front();
        return step;
    }

    std::string m_name;
    std::shared_ptr<Log> m_log;
    std::deque<Step> m_script;
};

template <typename T> std::vector<T> only(const Actions& actions)
{
    std::vector<T> found;
    for (const auto& action : actions)
        if (const T* a = std::get_if<T>(&action)) found.push_back(*a);
    return found;
}

// The engine as a driver would run it, on a clock that moves only when the test says so.
struct Bench
{
    Engine engine;
    std::shared_ptr<Log> log = std::make_shared<Log>();
    std::int64_t now = 0;
    std::optional<Engine::ArmTimer> timer;
    std::int64_t timerSetAt = 0;
    Engine::TimerTag previousTag = 0;
    Actions all;

    Actions apply(Actions actions)
    {
        for (const auto& action : actions) {
            if (const auto* arm = std::get_if<Engine::ArmTimer>(&action)) {
                previousTag = timer ? timer->tag : previousTag;
                timer = *arm;
                timerSetAt = now;
            } else if (std::holds_alternative<Engine::StopTimer>(action)) {
                previousTag = timer ? timer->tag : previousTag;
                timer.reset();
            }
        }
        all.insert(all.end(), actions.begin(), actions.end());
        return actions;
    }
    void add(Engine::Jobs& jobs, const std::string& name, std::deque<Step> script = {})
    {
        jobs.push_back(std::make_unique<StubTransfer>(name, log, std::move(script)));
    }
    Actions run(Engine::Jobs jobs) { return apply(engine.run(std::move(jobs), now).value()); }
    Actions feed(const Bytes& bytes) { return apply(engine.bytesArrived(bytes, now)); }
    Actions expire()
    {
        if (!timer) return {};
        now = timerSetAt + timer->ms;
        const auto tag = timer->tag;
        timer.reset();
        return apply(engine.timerFired(tag, now));
    }
    Actions finished() const
    {
        Actions ends;
        for (const auto& a : all)
            if (std::holds_alternative<Engine::TransferFinished>(a) ||
                std::holds_alternative<Engine::RunFinished>(a))
                ends.push_back(a);
        return ends;
    }
};

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes part(const Bytes& b, std::size_t from, std::size_t to)
{
    return Bytes(b.begin() + from, b.begin() + to);
}

// What reaches the transfer for a given sequence of line events. One job that asks again
// after every event, so each reply() or timeout() is one more exchange.
TEST(LinkEngine, RepliesAreTakenWholeFromWhatArrived)
{
    enum Kind
    {
        Feed,
        Expire,
        FireStale
    };
    struct Event
    {
        Kind kind;
        Bytes bytes = {};
    };
    struct Case
    {
        const char* name;
        Bytes before; // on the line before the run starts
        std::vector<Event> events;
        Log expected;
    };
    const std::string r = "a: reply " + decimal(kReply);
    const std::vector<Case> cases{
        {"stray frame is flushed", kOther, {{Feed, kReply}}, {"a: start", r}},
        {"split 1+4", {}, {{Feed, part(kReply, 0, 1)}, {Feed, part(kReply, 1, 5)}}, {"a: start", r}},
        {"split 2+2+1",
         {},
         {{Feed, part(kReply, 0, 2)}, {Feed, part(kReply, 2, 4)}, {Feed, part(kReply, 4, 5)}},
         {"a: start", r}},
        {"two replies in one arrival: the second is dropped",
         {},
         {{Feed, cat(kReply, kOther)}, {Feed, kReply}},
         {"a: start", r, r}},
        {"garbage before the reply is judged with it",
         {},
         {{Feed, cat({0, 255}, kReply)}},
         {"a: start", "a: reply 0 255 225 7 0"}},
        {"short reply ends in a time-out",
         {},
         {{Feed, part(kReply, 0, 4)}, {Expire}},
         {"a: start", "a: timeout"}},
        {"bytes waiting when the request is repeated are never its reply",
         {},
         {{Feed, part(kReply, 0, 3)}, {Expire}, {Feed, kReply}},
         {"a: start", "a: timeout", r}},
        {"stale time-out is ignored", {}, {{Feed, kReply}, {FireStale}}, {"a: start", r}},
    };
    for (const auto& c : cases) {
        Bench b;
        b.feed(c.before);
        Engine::Jobs jobs;
        b.add(jobs, "a");
        b.run(std::move(jobs));
        for (const auto& e : c.events) {
            if (e.kind == Feed)
                b.feed(e.bytes);
            else if (e.kind == Expire)
                b.expire();
            else
                EXPECT_TRUE(b.engine.timerFired(b.previousTag, b.now + 1000).empty()) << c.name;
        }
        EXPECT_EQ(*b.log, c.expected) << c.name;
        EXPECT_EQ(only<Engine::Write>(b.all).size(), c.expected.size()) << c.name;
        ASSERT_TRUE(b.timer) << c.name << ": the last request waits with its time-out";
        EXPECT_EQ(b.timer->ms, 200) << c.name;
    }
}

// Nothing takes bytes while no job waits: a chattering line leaves only its newest 4096.
TEST(LinkEngine, BufferStaysBoundedWhileNoJobWaits)
{
    Bench b;
    Bytes chatter(5000);
    for (std::size_t i = 0; i < chatter.size(); ++i)
        chatter[i] = static_cast<std::uint8_t>(i % 251);
    b.feed(chatter);
    EXPECT_EQ(b.engine.bufferedBytes(), 4096u);
    Engine::Jobs jobs;
    b.add(jobs, "a");
    b.run(std::move(jobs));
    const auto traffic = only<Engine::Traffic>(b.all);
    ASSERT_FALSE(traffic.empty());
    EXPECT_EQ(traffic.front().entry.bytes, part(chatter, 5000 - 4096, 5000));
}

TEST(LinkEngine, ClosingPauseLength)
{
    struct Case
    {
        const char* name;
        Pause pause;
        std::int64_t replyAfterMs; // from the last request to the finishing reply
        bool finalFrame;           // the finishing step sends one more frame
        int pauseMs;               // 0: the next job starts at once
    };
    const std::vector<Case> cases{
        {"from last send", Pause::FromLastSend, 120, false, 180},
        {"from last send, final frame", Pause::FromLastSend, 120, true, 300},
        {"from last send, already over", Pause::FromLastSend, 310, false, 0},
        {"from now", Pause::FromNow, 120, false, 300},
        {"none", Pause::None, 120, false, 0},
    };
    for (const auto& c : cases) {
        Bench b;
        b.now = 5000;
        Engine::Jobs jobs;
        b.add(jobs, "a",
              {ask(),
               done(Outcome::Succeeded, c.pause, c.finalFrame ? std::optional(kRequest) : std::nullopt)});
        b.add(jobs, "b", {done(Outcome::Succeeded)});
        b.run(std::move(jobs));
        b.now += c.replyAfterMs;
        b.feed(kReply);
        EXPECT_EQ(b.timer ? b.timer->ms : 0, c.pauseMs) << c.name;
        EXPECT_EQ(b.log->back(), c.pauseMs ? "a: reply " + decimal(kReply) : "b: start") << c.name;
        if (c.pauseMs) {
            b.feed(kOther); // arrives during the pause: left for the next job's flush
            b.expire();
            EXPECT_EQ(b.log->back(), "b: start") << c.name;
            EXPECT_EQ(b.engine.bufferedBytes(), 0u) << c.name;
        }
        EXPECT_EQ(b.finished().back(), Engine::Action{Engine::RunFinished{true}}) << c.name;
    }
}

TEST(LinkEngine, EveryJobRunsAndTheRunSaysWhetherAllSucceeded)
{
    const Actions ok{Engine::TransferFinished{Outcome::Succeeded}};
    struct Case
    {
        std::vector<Outcome> outcomes;
        bool allSucceeded;
    };
    const std::vector<Case> cases{
        {{Outcome::Succeeded, Outcome::Succeeded, Outcome::Succeeded}, true},
        {{Outcome::Failed, Outcome::Succeeded, Outcome::Succeeded}, false},
        {{Outcome::Succeeded, Outcome::Succeeded, Outcome::Failed}, false},
        {{}, true},
    };
    for (const auto& c : cases) {
        Bench b;
        Engine::Jobs jobs;
        Actions expected;
        for (Outcome o : c.outcomes) {
            b.add(jobs, "j", {ask(), done(o, Pause::FromNow)});
            expected.push_back(Engine::TransferFinished{o});
        }
        expected.push_back(Engine::RunFinished{c.allSucceeded});
        b.run(std::move(jobs));
        for (std::size_t i = 0; i < c.outcomes.size(); ++i) {
            b.feed(kReply);
            EXPECT_TRUE(b.engine.isRunning()) << "finished before its closing pause";
            b.expire();
        }
        EXPECT_EQ(b.finished(), expected);
        EXPECT_EQ(only<Engine::Flush>(b.all).size(), c.outcomes.size());
        EXPECT_FALSE(b.engine.isRunning());
    }
}

TEST(LinkEngine, AbortEndsTheRunningTransfer)
{
    struct Case
    {
        const char* name;
        Transfer::AbortReason reason;
        std::vector<Engine::Write> closing; // the abort step's frame, sent only when cancelled
        Log log;
        Actions finished;
    };
    using R = Transfer::AbortReason;
    const std::vector<Case> cases{
        {"lost port drops the jobs left",
         R::PortLost,
         {},
         {"a: start", "a: abort lost"},
         {Engine::TransferFinished{Outcome::Failed}, Engine::RunFinished{false}}},
        {"user cancel drops the jobs left too, and finishes after the pause",
         R::UserCancel,
         {Engine::Write{kClosing}},
         {"a: start", "a: abort cancel"},
         {Engine::TransferFinished{Outcome::Failed}, Engine::RunFinished{false}}},
    };
    for (const auto& c : cases) {
        Bench b;
        Engine::Jobs jobs;
        b.add(jobs, "a");
        b.add(jobs, "b", {ask(), done(Outcome::Succeeded)});
        b.run(std::move(jobs));
        const Actions aborted = b.apply(b.engine.abort(c.reason, b.now));
        EXPECT_EQ(only<Engine::Write>(aborted), c.closing) << c.name;
        EXPECT_EQ(only<Engine::Status>(aborted),
                  (std::vector{Engine::Status{ShowText{"a failed", StatusColour::Red}}}))
            << c.name;
        b.feed(kReply); // the aborted exchange's reply: nobody's
        b.expire();
        b.feed(kReply);
        EXPECT_EQ(*b.log, c.log) << c.name;
        EXPECT_EQ(b.finished(), c.finished) << c.name;
        EXPECT_FALSE(b.engine.isRunning()) << c.name;
    }
}

TEST(LinkEngine, RefusesASecondRunOrFrameUntilTheFirstEnds)
{
    Bench b;
    Engine::Jobs jobs;
    b.add(jobs, "a", {ask(), done(Outcome::Succeeded, Pause::FromNow)});
    b.run(std::move(jobs));
    Engine::Jobs intruder;
    b.add(intruder, "x");
    EXPECT_FALSE(b.engine.run(std::move(intruder), b.now));
    EXPECT_FALSE(b.engine.sendFrame(kRequest, b.now));
    b.feed(kReply);
    EXPECT_FALSE(b.engine.sendFrame(kRequest, b.now)) << "the selector is still settling";
    b.expire();
    EXPECT_EQ(only<Engine::Write>(b.engine.sendFrame(kRequest, b.now).value()),
              std::vector{Engine::Write{kRequest}});
    EXPECT_EQ(*b.log, (Log{"a: start", "a: reply " + decimal(kReply)}));
}

TEST(LinkEngine, RunningStepThatWaitsForNothingFails)
{
    Step stuck = ask();
    stuck.replyBytes = 0;
    stuck.timed = false;
    Bench b;
    Engine::Jobs jobs;
    b.add(jobs, "a", {stuck});
    b.run(std::move(jobs));
    EXPECT_EQ(b.finished(), (Actions{Engine::TransferFinished{Outcome::Failed}, Engine::RunFinished{false}}));
}

} // namespace

namespace {

TEST(LinkTraffic, FramesAreNamedAndFormatted)
{
    const std::pair<Frame, const char*> requests[] = {
        {{225, 17, 8, 6, 0}, "read cell 17"},        {{226, 3, 85, 44, 102}, "write cell 3 = 44"},
        {{137, 1, 2, 3, 143}, "end of programming"}, {{227, 1, 2, 3, 233}, "start sampling"},
        {{132, 1, 2, 3, 138}, "end sampling"},       {{226, 223, 1, 239, 177}, "TSMR"},
    };
    for (const auto& [frame, meaning] : requests)
        EXPECT_EQ(describeRequest(frame), meaning);
    EXPECT_EQ(formatTraffic({1234, 567, Direction::Sent, {0xE1, 0x11, 0x08, 0x06, 0x00}, "read cell 17"}),
              "    1234.567 -> E1 11 08 06 00  read cell 17");
    EXPECT_EQ(formatTraffic({5, 0, Direction::Received, {0x0A}, ""}), "       5.000 <- 0A");
}

// What a trace shows of one exchange: stray bytes flushed, the request, the reply as the
// transfer named it, and what came after the reply in the same take.
TEST(LinkTraffic, EngineReportsEveryByteOnce)
{
    Bench b;
    b.now = 40;
    b.feed({7, 7});
    Engine::Jobs jobs;
    Step named = done(Outcome::Succeeded);
    named.taken = {{5, "cell 7 = 42"}};
    b.add(jobs, "a", {ask(), named});
    b.run(std::move(jobs));
    b.feed(cat(kReply, {9}));
    std::vector<TrafficEntry> expected{
        {40, 0, Direction::Received, {7, 7}, "noise dropped"},
        {40, 0, Direction::Sent, {kRequest.begin(), kRequest.end()}, "read cell 7"},
        {40, 0, Direction::Received, kReply, "cell 7 = 42"},
        {40, 0, Direction::Received, {9}, "noise dropped"},
    };
    std::vector<TrafficEntry> seen;
    for (const auto& t : only<Engine::Traffic>(b.all))
        seen.push_back(t.entry);
    EXPECT_EQ(seen, expected);
}

} // namespace

// A step marked quietFirst goes out only once the line has been silent for kLineQuietMs, and
// what comes meanwhile (the answer to an earlier attempt) is dropped; a line that never falls
// quiet is waited for no longer than one exchange time-out.
TEST(LinkEngine, QuietFirstWaitsForTheLineToFallSilent)
{
    struct Case
    {
        const char* name;
        std::vector<std::int64_t> staleAt; // ms after the reply, three bytes each
        std::int64_t sentAt;
    };
    const std::vector<Case> cases{
        {"nothing more comes", {}, kLineQuietMs},
        {"a late answer, split", {10, 30}, 30 + kLineQuietMs},
        {"a chattering line", {10, 40, 70, 100, 130, 160, 190, 220}, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        Step next = ask();
        next.quietFirst = true;
        Engine::Jobs jobs;
        b.add(jobs, "a", {ask(), next});
        b.run(std::move(jobs));
        b.feed(kReply);
        const auto sent = [&] { return only<Engine::Write>(b.all).size() == 2; };
        std::size_t staleFed = 0;
        for (const std::int64_t at : c.staleAt) {
            while (!sent() && b.timer && b.timerSetAt + b.timer->ms <= at)
                b.expire();
            if (sent()) break;
            b.now = at;
            b.feed(part(kReply, 0, 3));
            staleFed += 3;
        }
        if (!sent()) b.expire();
        ASSERT_TRUE(sent());
        EXPECT_EQ(b.now, c.sentAt);
        // Dropped, but never unseen: a support log must show what the line said meanwhile.
        std::size_t staleLogged = 0;
        for (const auto& t : only<Engine::Traffic>(b.all))
            if (t.entry.meaning == kStaleDropped) staleLogged += t.entry.bytes.size();
        EXPECT_EQ(staleLogged, staleFed);
        b.feed(kReply);
        EXPECT_EQ(b.log->back(), "a: reply " + decimal(kReply)) << "the next reply is taken whole";
    }
}
