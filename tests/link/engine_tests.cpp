#include "link/link_engine.h"
#include "link/program_transfer.h"
#include "link/read_transfer.h"
#include "link/transfer_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace quarvel;
using namespace quarvel::link;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Engine = LinkEngine;
using Actions = Engine::Actions;
using Log = std::vector<std::string>;

std::string hex(std::span<const std::uint8_t> bytes)
{
    std::string text;
    for (auto b : bytes) {
        static constexpr char kDigits[] = "0123456789abcdef";
        if (!text.empty()) text += ' ';
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

// Plays a fixed list of steps, one per event, and logs every event it sees. Once the script
// runs out it fails, so a test that forgets a step cannot hang.
class StubTransfer final : public Transfer
{
public:
    StubTransfer(std::string name, std::shared_ptr<Log> log, std::deque<Step> script)
        : m_name(std::move(name)), m_log(std::move(log)), m_script(std::move(script))
    {}
    Step start() override { return next("start"); }
    Step reply(std::span<const std::uint8_t> bytes) override { return next("reply " + hex(bytes)); }
    Step timeout() override { return next("timeout"); }
    Step abort(AbortReason reason) override
    {
        m_log->push_back(m_name + ": abort " + (reason == AbortReason::PortLost ? "lost" : "cancel"));
        Step step;
        step.reports = {ShowText{m_name + " aborted", StatusColour::Red}};
        step.send = makeFrame(1, 2, 3, 4); // must never reach the line
        step.outcome = Outcome::Failed;
        step.pause = Pause::FromNow;
        return step;
    }

private:
    Step next(const std::string& event)
    {
        m_log->push_back(m_name + ": " + event);
        if (m_script.empty()) {
            Step failed;
            failed.outcome = Outcome::Failed;
            return failed;
        }
        Step step = std::move(m_script.front());
        m_script.pop_front();
        return step;
    }

    std::string m_name;
    std::shared_ptr<Log> m_log;
    std::deque<Step> m_script;
};

const Frame kRequest = readRequest(7);                 // e1 07 08 06 f6
const Bytes kReply{0xE1, 0x07, 0x00, 0x2A, 0x12};      // value 42 from address 7
const Bytes kOtherReply{0xE1, 0x08, 0x00, 0x2B, 0x14}; // a second, different frame

Step ask(int replyBytes = 5, bool timed = true)
{
    Step step;
    step.send = kRequest;
    step.replyBytes = replyBytes;
    step.timed = timed;
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

template <typename T> std::vector<T> only(const Actions& actions)
{
    std::vector<T> found;
    for (const auto& action : actions)
        if (const T* a = std::get_if<T>(&action)) found.push_back(*a);
    return found;
}

template <typename T> bool has(const Actions& actions)
{
    return !only<T>(actions).empty();
}

// The engine with a stub job queue and a fake clock that only moves when the test says so.
struct Bench
{
    Engine engine;
    std::shared_ptr<Log> log = std::make_shared<Log>();
    std::int64_t now = 0;
    std::optional<Engine::ArmTimer> timer;
    std::int64_t timerSetAt = 0;
    Actions all; // every action so far, in order

    Actions apply(Actions actions)
    {
        for (const auto& action : actions) {
            if (const auto* arm = std::get_if<Engine::ArmTimer>(&action)) {
                timer = *arm;
                timerSetAt = now;
            } else if (std::holds_alternative<Engine::StopTimer>(action)) {
                timer.reset();
            }
        }
        all.insert(all.end(), actions.begin(), actions.end());
        return actions;
    }
    std::unique_ptr<Transfer> job(const std::string& name, std::deque<Step> script)
    {
        return std::make_unique<StubTransfer>(name, log, std::move(script));
    }
    Actions run(Engine::Jobs jobs)
    {
        auto actions = engine.run(std::move(jobs), now);
        EXPECT_TRUE(actions.has_value());
        return apply(actions.value_or(Actions{}));
    }
    Actions run(std::deque<Step> script)
    {
        Engine::Jobs jobs;
        jobs.push_back(job("a", std::move(script)));
        return run(std::move(jobs));
    }
    Actions feed(const Bytes& bytes) { return apply(engine.bytesArrived(bytes, now)); }
    // Lets the armed timer run out at its due time.
    Actions expire()
    {
        EXPECT_TRUE(timer.has_value());
        if (!timer) return {};
        now = timerSetAt + timer->ms;
        const auto tag = timer->tag;
        timer.reset();
        return apply(engine.timerFired(tag, now));
    }
};

TEST(LinkEngine, StrayBytesBeforeTheFirstRequestAreFlushed)
{
    Bench b;
    b.feed(kOtherReply); // a whole frame waiting before the run
    const Actions first = b.run({ask(), done(Outcome::Succeeded)});
    ASSERT_GE(first.size(), 3u);
    EXPECT_EQ(first[0], Engine::Action{Engine::Flush{}});
    EXPECT_EQ(first[1], Engine::Action{Engine::TransferStarted{}});
    EXPECT_EQ(only<Engine::Write>(first), std::vector{Engine::Write{kRequest}});
    EXPECT_EQ(*b.log, Log{"a: start"}) << "stray frame was taken as a reply";
    EXPECT_EQ(b.engine.bufferedBytes(), 0u);

    b.feed(kReply);
    EXPECT_EQ(*b.log, (Log{"a: start", "a: reply " + hex(kReply)}));
}

TEST(LinkEngine, ReplyIsTakenOnlyOnceComplete)
{
    // How the five reply bytes are cut into arrivals must not matter.
    const std::vector<std::vector<std::size_t>> cuts{{5}, {1, 4}, {4, 1}, {2, 2, 1}, {1, 1, 1, 1, 1}};
    for (const auto& cut : cuts) {
        Bench b;
        b.run({ask(), done(Outcome::Succeeded)});
        std::size_t at = 0;
        for (std::size_t piece : cut) {
            EXPECT_EQ(b.log->size(), 1u) << "replied early, after " << at << " bytes";
            b.feed(Bytes(kReply.begin() + at, kReply.begin() + at + piece));
            at += piece;
        }
        EXPECT_EQ(*b.log, (Log{"a: start", "a: reply " + hex(kReply)}));
        EXPECT_FALSE(b.timer) << "time-out still armed after the reply";
    }
}

TEST(LinkEngine, OneArrivalIsOneTakeJudgedOnItsFirstBytes)
{
    struct Case
    {
        const char* name;
        Bytes arrival;
        Bytes judged;
    };
    Bytes twoReplies = kReply;
    twoReplies.insert(twoReplies.end(), kOtherReply.begin(), kOtherReply.end());
    Bytes garbageFirst{0x00, 0xFF};
    garbageFirst.insert(garbageFirst.end(), kReply.begin(), kReply.end());
    const std::vector<Case> cases{
        {"two replies", twoReplies, kReply},
        {"garbage before the reply", garbageFirst, Bytes{0x00, 0xFF, 0xE1, 0x07, 0x00}},
        {"one extra byte", Bytes{0xE1, 0x07, 0x00, 0x2A, 0x12, 0x99}, kReply},
    };
    for (const auto& c : cases) {
        Bench b;
        // The second request waits for its own reply: the rest of the first take is gone.
        b.run({ask(), ask(), done(Outcome::Succeeded)});
        b.feed(c.arrival);
        EXPECT_EQ(b.log->back(), "a: reply " + hex(c.judged)) << c.name;
        EXPECT_EQ(b.engine.bufferedBytes(), 0u) << c.name;
        EXPECT_EQ(b.log->size(), 2u) << c.name;
        ASSERT_TRUE(b.timer) << c.name;
    }
}

TEST(LinkEngine, ShortReplyEndsInTimeOut)
{
    Bench b;
    b.run({ask(), done(Outcome::Failed)});
    ASSERT_TRUE(b.timer);
    EXPECT_EQ(b.timer->ms, 200);
    b.feed(Bytes(kReply.begin(), kReply.begin() + 4));
    EXPECT_EQ(*b.log, Log{"a: start"});
    b.expire();
    EXPECT_EQ(*b.log, (Log{"a: start", "a: timeout"}));
    EXPECT_EQ(b.now, 200);
}

TEST(LinkEngine, LateReplyEndsTheRepeatedRequestsWait)
{
    Bench b;
    b.run({ask(), ask(), done(Outcome::Succeeded)});
    b.feed(Bytes(kReply.begin(), kReply.begin() + 3)); // the selector is slow
    const Actions retry = b.expire();                  // the time-out keeps those three bytes
    EXPECT_EQ(only<Engine::Write>(retry), std::vector{Engine::Write{kRequest}});
    EXPECT_EQ(b.engine.bufferedBytes(), 3u);
    b.now += 5;
    b.feed(Bytes(kReply.begin() + 3, kReply.end()));
    EXPECT_EQ(*b.log, (Log{"a: start", "a: timeout", "a: reply " + hex(kReply)}));
}

TEST(LinkEngine, ReplyAlreadyBufferedIsTakenWithoutWaiting)
{
    // A timer-only wait lets bytes pile up; the next request's wait ends on them at once.
    Step pauseOnly;
    pauseOnly.timed = true;
    Bench b;
    b.run({pauseOnly, ask(), done(Outcome::Succeeded)});
    b.feed(kReply);
    EXPECT_EQ(*b.log, Log{"a: start"});
    b.expire();
    EXPECT_EQ(*b.log, (Log{"a: start", "a: timeout", "a: reply " + hex(kReply)}));
    EXPECT_EQ(only<Engine::RunFinished>(b.all), std::vector{Engine::RunFinished{true}});
}

TEST(LinkEngine, StaleTimerTagIsIgnored)
{
    Bench b;
    b.run({ask(), ask(), done(Outcome::Succeeded)});
    const auto firstTag = b.timer->tag;
    b.feed(kReply); // first exchange done, second armed with a new tag
    ASSERT_TRUE(b.timer);
    EXPECT_NE(b.timer->tag, firstTag);
    // The first time-out was already queued when the reply came in.
    EXPECT_TRUE(b.apply(b.engine.timerFired(firstTag, b.now + 200)).empty());
    EXPECT_EQ(b.log->back(), "a: reply " + hex(kReply));
    b.expire();
    EXPECT_EQ(b.log->back(), "a: timeout");
    EXPECT_TRUE(b.engine.timerFired(12345, b.now).empty());
}

TEST(LinkEngine, ClosingPauseLength)
{
    struct Case
    {
        const char* name;
        Pause pause;
        std::int64_t replyAfterMs; // from the send to the finishing reply
        bool finalSend;            // the finishing step sends one more frame
        std::optional<int> pauseMs;
    };
    const std::vector<Case> cases{
        {"from last send", Pause::FromLastSend, 120, false, 180},
        {"from last send, instant reply", Pause::FromLastSend, 0, false, 300},
        {"from last send, long gone", Pause::FromLastSend, 300, false, std::nullopt},
        {"from last send, final frame", Pause::FromLastSend, 120, true, 300},
        {"from now", Pause::FromNow, 120, false, 300},
        {"from now, final frame", Pause::FromNow, 150, true, 300},
        {"none", Pause::None, 120, false, std::nullopt},
    };
    for (const auto& c : cases) {
        Bench b;
        Engine::Jobs jobs;
        jobs.push_back(b.job(
            "a", {ask(5, false), done(Outcome::Succeeded, c.pause,
                                      c.finalSend ? std::optional(endOfProgrammingFrame()) : std::nullopt)}));
        jobs.push_back(b.job("b", {done(Outcome::Succeeded)}));
        b.now = 1000;
        b.run(std::move(jobs));
        b.now += c.replyAfterMs;
        const Actions finish = b.feed(kReply);
        if (c.pauseMs) {
            ASSERT_TRUE(b.timer) << c.name;
            EXPECT_EQ(b.timer->ms, *c.pauseMs) << c.name;
            EXPECT_FALSE(has<Engine::RunFinished>(finish)) << c.name;
            EXPECT_EQ(b.log->back(), "a: reply " + hex(kReply)) << c.name << ": next job started early";
            b.expire();
        }
        EXPECT_EQ(b.log->back(), "b: start") << c.name;
        EXPECT_EQ(only<Engine::RunFinished>(b.all), std::vector{Engine::RunFinished{true}}) << c.name;
    }
}

TEST(LinkEngine, TimingIsConfigurable)
{
    Bench b;
    b.engine.setTiming({.replyTimeoutMs = 50, .closingPauseMs = 80});
    b.run({ask(), done(Outcome::Failed, Pause::FromNow)});
    EXPECT_EQ(b.timer->ms, 50);
    b.expire();
    EXPECT_EQ(b.timer->ms, 80);
}

TEST(LinkEngine, EveryJobRunsAndRunFinishedTellsWhetherAllSucceeded)
{
    struct Case
    {
        const char* name;
        std::vector<Outcome> outcomes;
        bool allSucceeded;
    };
    const std::vector<Case> cases{
        {"all good", {Outcome::Succeeded, Outcome::Succeeded, Outcome::Succeeded}, true},
        {"first fails", {Outcome::Failed, Outcome::Succeeded, Outcome::Succeeded}, false},
        {"middle fails", {Outcome::Succeeded, Outcome::Failed, Outcome::Succeeded}, false},
        {"last fails", {Outcome::Succeeded, Outcome::Succeeded, Outcome::Failed}, false},
        {"one job", {Outcome::Succeeded}, true},
        {"no jobs", {}, true},
    };
    for (const auto& c : cases) {
        Bench b;
        Engine::Jobs jobs;
        for (std::size_t i = 0; i < c.outcomes.size(); ++i)
            jobs.push_back(
                b.job(std::string(1, char('a' + i)), {ask(), done(c.outcomes[i], Pause::FromNow)}));
        b.run(std::move(jobs));
        for (std::size_t i = 0; i < c.outcomes.size(); ++i) {
            b.now += 10;
            b.feed(kReply);
            ASSERT_TRUE(b.timer) << c.name;
            b.expire(); // the closing pause, also after the last job
        }
        std::vector<Engine::TransferFinished> finished;
        for (Outcome o : c.outcomes)
            finished.push_back({o});
        EXPECT_EQ(only<Engine::TransferFinished>(b.all), finished) << c.name;
        EXPECT_EQ(only<Engine::TransferStarted>(b.all).size(), c.outcomes.size()) << c.name;
        EXPECT_EQ(only<Engine::Flush>(b.all).size(), c.outcomes.size()) << c.name;
        EXPECT_EQ(only<Engine::RunFinished>(b.all), std::vector{Engine::RunFinished{c.allSucceeded}})
            << c.name;
        EXPECT_EQ(b.all.back(), Engine::Action{Engine::RunFinished{c.allSucceeded}}) << c.name;
        EXPECT_FALSE(b.engine.isRunning()) << c.name;
    }
}

TEST(LinkEngine, BytesDuringThePauseWaitForTheNextFlush)
{
    Bench b;
    Engine::Jobs jobs;
    jobs.push_back(b.job("a", {ask(), done(Outcome::Succeeded, Pause::FromNow)}));
    jobs.push_back(b.job("b", {ask(), done(Outcome::Succeeded)}));
    b.run(std::move(jobs));
    b.feed(kReply);
    b.feed(kOtherReply); // late echo while pausing: kept, not judged
    EXPECT_EQ(b.engine.bufferedBytes(), 5u);
    b.expire();
    EXPECT_EQ(b.engine.bufferedBytes(), 0u);
    EXPECT_EQ(b.log->back(), "b: start");
}

TEST(LinkEngine, RunningStepThatWaitsForNothingFails)
{
    Step stuck;
    stuck.send = kRequest;
    stuck.timed = false;
    Bench b;
    const Actions actions = b.run({stuck});
    EXPECT_EQ(only<Engine::TransferFinished>(actions),
              std::vector{Engine::TransferFinished{Outcome::Failed}});
    EXPECT_EQ(only<Engine::RunFinished>(actions), std::vector{Engine::RunFinished{false}});
}

TEST(LinkEngine, UntimedWaitHasNoTimer)
{
    Bench b;
    b.run({ask(10, false), done(Outcome::Succeeded)});
    EXPECT_FALSE(b.timer);
    b.feed(Bytes(9, 0x55));
    EXPECT_EQ(b.log->size(), 1u);
    b.feed(Bytes{0x56});
    EXPECT_EQ(b.log->back(), "a: reply 55 55 55 55 55 55 55 55 55 56");
}

TEST(LinkEngine, AbortForLostPortDropsTheRemainingJobs)
{
    Bench b;
    Engine::Jobs jobs;
    jobs.push_back(b.job("a", {ask(), done(Outcome::Succeeded, Pause::FromNow)}));
    jobs.push_back(b.job("b", {ask(), done(Outcome::Succeeded)}));
    jobs.push_back(b.job("c", {ask(), done(Outcome::Succeeded)}));
    b.run(std::move(jobs));
    b.feed(kReply);
    b.expire();
    const Actions lost = b.apply(b.engine.abort(Transfer::AbortReason::PortLost, b.now));
    EXPECT_EQ(*b.log, (Log{"a: start", "a: reply " + hex(kReply), "b: start", "b: abort lost"}));
    EXPECT_FALSE(has<Engine::Write>(lost)) << "an aborted transfer may not send";
    EXPECT_EQ(only<Engine::Status>(lost),
              (std::vector{Engine::Status{ShowText{"b aborted", StatusColour::Red}}}));
    EXPECT_EQ(lost.back(), Engine::Action{Engine::RunFinished{false}});
    EXPECT_EQ(only<Engine::TransferFinished>(lost), std::vector{Engine::TransferFinished{Outcome::Failed}});
    EXPECT_FALSE(b.timer);
    EXPECT_FALSE(b.engine.isRunning());
}

TEST(LinkEngine, AbortForLostPortDuringThePause)
{
    struct Case
    {
        const char* name;
        int jobs;
        bool allSucceeded; // true only when nothing was left to run
    };
    for (const Case& c : {Case{"jobs left", 2, false}, Case{"after the last job", 1, true}}) {
        Bench b;
        Engine::Jobs jobs;
        for (int i = 0; i < c.jobs; ++i)
            jobs.push_back(b.job("j", {ask(), done(Outcome::Succeeded, Pause::FromNow)}));
        b.run(std::move(jobs));
        b.feed(kReply);
        ASSERT_TRUE(b.timer) << c.name;
        const Actions lost = b.apply(b.engine.abort(Transfer::AbortReason::PortLost, b.now));
        EXPECT_FALSE(has<Engine::TransferFinished>(lost)) << c.name;
        EXPECT_EQ(lost.back(), Engine::Action{Engine::RunFinished{c.allSucceeded}}) << c.name;
        EXPECT_FALSE(b.timer) << c.name;
    }
}

TEST(LinkEngine, UserCancelEndsOnlyTheRunningTransfer)
{
    Bench b;
    Engine::Jobs jobs;
    jobs.push_back(b.job("a", {ask(), done(Outcome::Succeeded)}));
    jobs.push_back(b.job("b", {ask(), done(Outcome::Succeeded)}));
    b.run(std::move(jobs));
    const Actions cancelled = b.apply(b.engine.abort(Transfer::AbortReason::UserCancel, b.now));
    EXPECT_FALSE(has<Engine::Write>(cancelled));
    ASSERT_TRUE(b.timer); // the transfer asked for a full pause
    EXPECT_EQ(b.timer->ms, 300);
    b.feed(kReply); // the cancelled exchange's reply arrives: not judged by anyone
    b.expire();
    b.feed(kReply);
    EXPECT_EQ(*b.log, (Log{"a: start", "a: abort cancel", "b: start", "b: reply " + hex(kReply)}));
    EXPECT_EQ(only<Engine::RunFinished>(b.all), std::vector{Engine::RunFinished{false}});
}

TEST(LinkEngine, AbortWithoutRunDoesNothing)
{
    Engine engine;
    EXPECT_TRUE(engine.abort(Transfer::AbortReason::UserCancel, 0).empty());
    EXPECT_TRUE(engine.abort(Transfer::AbortReason::PortLost, 0).empty());
    EXPECT_TRUE(engine.timerFired(1, 0).empty());
}

TEST(LinkEngine, SecondRunAndSingleFramesAreRefusedWhileBusy)
{
    Bench b;
    b.run({ask(), done(Outcome::Succeeded, Pause::FromNow)});
    auto log2 = std::make_shared<Log>();
    Engine::Jobs intruder;
    intruder.push_back(std::make_unique<StubTransfer>("x", log2, std::deque<Step>{ask()}));
    EXPECT_FALSE(b.engine.run(std::move(intruder), b.now).has_value());
    EXPECT_FALSE(b.engine.sendFrame(endSamplingFrame(), b.now).has_value());
    EXPECT_TRUE(log2->empty());
    b.feed(kReply);
    // Still busy during the closing pause: the selector is settling.
    EXPECT_FALSE(b.engine.sendFrame(endSamplingFrame(), b.now).has_value());
    b.expire();
    const auto single = b.engine.sendFrame(endSamplingFrame(), b.now);
    ASSERT_TRUE(single.has_value());
    EXPECT_EQ(*single, (Actions{Engine::Write{Frame{0x84, 1, 2, 3, 0x8A}}}));
}

// A selector memory answering the read and write frames, with chosen requests left unanswered.
struct Responder
{
    std::array<std::uint8_t, 189> memory{};
    std::vector<Frame> received;
    std::vector<int> silentAt; // indexes into received

    std::optional<Bytes> answer(const Frame& f)
    {
        received.push_back(f);
        if (std::find(silentAt.begin(), silentAt.end(), int(received.size()) - 1) != silentAt.end())
            return std::nullopt;
        if (f[0] == command::kRead) {
            const Frame r = makeFrame(command::kRead, f[1], 0, memory[f[1]]);
            return Bytes(r.begin(), r.end());
        }
        if (f[0] == command::kWrite) {
            memory[f[1]] = f[3];
            const Frame r = makeFrame(command::kWrite, 0, 0, 0);
            return Bytes(r.begin(), r.end());
        }
        return std::nullopt; // the frames without reply
    }
};

// Runs jobs against the responder until the run ends: each reply arrives 7 ms after its request.
struct EndToEnd
{
    Bench b;
    Responder selector;
    std::vector<Report> reports;
    std::optional<bool> result;

    void go(Engine::Jobs jobs)
    {
        process(b.run(std::move(jobs)));
        for (int guard = 0; !result && b.timer && guard < 10000; ++guard)
            process(b.expire());
        ASSERT_TRUE(result.has_value());
    }
    void process(const Actions& actions)
    {
        for (const auto& action : actions) {
            if (const auto* s = std::get_if<Engine::Status>(&action)) reports.push_back(s->report);
            if (const auto* r = std::get_if<Engine::RunFinished>(&action)) result = r->allSucceeded;
        }
        for (const auto& w : only<Engine::Write>(actions)) {
            if (auto reply = selector.answer(w.frame)) {
                b.now += 7;
                process(b.feed(*reply));
            }
        }
    }
};

TEST(LinkEngineEndToEnd, ReadFillsTheImageAndKeepsToolCells)
{
    EndToEnd e;
    for (int a = 0; a < 189; ++a)
        e.selector.memory[a] = static_cast<std::uint8_t>(a * 7 + 3);
    e.selector.silentAt = {0, 50, 51, 180}; // four failures are absorbed
    ParameterImage image;
    image.setText(200, "keep");
    auto read = std::make_unique<ReadTransfer>(image);
    ReadTransfer* r = read.get();
    Engine::Jobs jobs;
    jobs.push_back(std::move(read));
    e.go(std::move(jobs));
    EXPECT_TRUE(*e.result);
    EXPECT_TRUE(r->opened());
    for (int a = 0; a < 189; ++a)
        ASSERT_EQ(image.integer(a), (a * 7 + 3) % 256) << a;
    EXPECT_EQ(image.text(200), "keep");
    EXPECT_EQ(e.selector.received.size(), 189u + 4u);
    EXPECT_EQ(e.selector.received[1], (Frame{225, 0, 8, 6, 239})); // repeated after the time-out
    const auto timeOuts =
        std::count(e.reports.begin(), e.reports.end(), Report{ShowText{texts::kTimeOut, StatusColour::Red}});
    EXPECT_EQ(timeOuts, 4);
}

TEST(LinkEngineEndToEnd, SilentSelectorFailsTheReadAfterFiveTimeOuts)
{
    EndToEnd e;
    for (int i = 0; i < 5; ++i)
        e.selector.silentAt.push_back(i);
    ParameterImage image;
    Engine::Jobs jobs;
    jobs.push_back(std::make_unique<ReadTransfer>(image));
    e.go(std::move(jobs));
    EXPECT_FALSE(*e.result);
    EXPECT_EQ(e.selector.received, std::vector<Frame>(5, Frame{225, 0, 8, 6, 239}));
    EXPECT_EQ(e.reports.back(), (Report{ShowText{texts::kReadError, StatusColour::Red}}));
    EXPECT_EQ(image, ParameterImage{});
    // Five time-outs, then the rest of the pause from the last send: 1300 ms in all.
    EXPECT_EQ(e.b.now, 5 * 200 + 100);
}

TEST(LinkEngineEndToEnd, ProgrammingRunsEveryRangeEvenAfterAFailure)
{
    EndToEnd e;
    for (int i = 0; i < 5; ++i)
        e.selector.silentAt.push_back(3 + i); // the first range dies at address 3
    ParameterImage image;
    for (int a = 0; a < 189; ++a)
        image.setNumber(a, 255 - a);
    e.go(programJobs(image));
    EXPECT_FALSE(*e.result);
    const auto finished = only<Engine::TransferFinished>(e.b.all);
    EXPECT_EQ(finished, (std::vector<Engine::TransferFinished>{
                            {Outcome::Failed}, {Outcome::Succeeded}, {Outcome::Succeeded}}));
    const auto ends =
        std::count(e.selector.received.begin(), e.selector.received.end(), endOfProgrammingFrame());
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(e.selector.received.back(), (Frame{137, 1, 2, 3, 143}));
    EXPECT_EQ(e.selector.memory[2], 253);
    EXPECT_EQ(e.selector.memory[3], 0) << "the failing cell was never acknowledged";
    EXPECT_EQ(e.selector.memory[86], 255 - 86);
    EXPECT_EQ(e.selector.memory[121], 52); // stamped before sending
    EXPECT_EQ(e.selector.memory[188], 255 - 188);
}

} // namespace
