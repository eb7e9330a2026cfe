// A whole read or programming against the virtual selector on a fake clock, with one reply
// later than the time-out: by then the request has gone out again.
#include "image/cell_byte.h"
#include "image/parameter_image.h"
#include "link/link_engine.h"
#include "link/program_transfer.h"
#include "link/read_transfer.h"
#include "sim/delivery_queue.h"
#include "sim/line_schedule.h"
#include "sim/virtual_selector.h"

#include <gtest/gtest.h>

#include <set>

#include <string>

using namespace quarvel;
using Engine = link::LinkEngine;

namespace {

struct Line
{
    sim::VirtualSelector model;
    sim::LineSchedule schedule;
    sim::DeliveryQueue toHost; // byte by byte, as a pty at wire pace gives them
    Engine engine;
    std::int64_t nowUs = 0;
    std::optional<std::pair<std::int64_t, Engine::TimerTag>> timer; // due (us), tag
    std::optional<link::TransferSummary> end;
    std::vector<link::TransferSummary> ends;
    bool runDone = false;

    void apply(const Engine::Actions& actions)
    {
        for (const auto& action : actions) {
            if (const auto* w = std::get_if<Engine::Write>(&action)) {
                const std::int64_t at = schedule.requestArrivalUs(nowUs, w->frame.size());
                for (const auto& e : model.receive(w->frame, at / 1000)) {
                    const auto slot = schedule.placeReply(at, e.delayMs * 1000, e.bytes.size());
                    for (std::size_t i = 0; i < e.bytes.size(); ++i)
                        toHost.push(slot.startUs + sim::LineSchedule::wireTimeUs(i + 1), {e.bytes[i]});
                }
            }
            if (const auto* a = std::get_if<Engine::ArmTimer>(&action))
                timer = {{nowUs + a->ms * 1000, a->tag}};
            if (std::holds_alternative<Engine::StopTimer>(action)) timer.reset();
            if (const auto* f = std::get_if<Engine::TransferFinished>(&action)) {
                end = f->summary;
                ends.push_back(f->summary);
            }
            if (std::holds_alternative<Engine::RunFinished>(action)) runDone = true;
        }
    }
    void runUntilFinished(bool wholeRun = false)
    {
        while (wholeRun ? !runDone : !end) {
            const auto byteDue = toHost.nextDueUs();
            if (!byteDue && !timer) return;
            if (byteDue && (!timer || *byteDue <= timer->first)) {
                nowUs = *byteDue;
                apply(engine.bytesArrived(toHost.takeDue(nowUs), nowUs / 1000));
            } else {
                nowUs = timer->first;
                const auto tag = timer->second;
                timer.reset();
                apply(engine.timerFired(tag, nowUs / 1000));
            }
        }
    }
};

} // namespace

TEST(LateReply, CostsOneRetryNotTheRead)
{
    for (const int lateMs : {205, 230, 260, 300, 400, 500, 595}) {
        SCOPED_TRACE(lateMs);
        Line line;
        line.schedule.setWireTime(true);
        line.model.setFaultPlan(
            sim::FaultPlan::parse("late:5:" + std::to_string(lateMs) + "ms").plan.value());
        ParameterImage image;
        Engine::Jobs jobs;
        jobs.push_back(std::make_unique<link::ReadTransfer>());
        line.apply(line.engine.run(std::move(jobs), 0).value());
        line.runUntilFinished();
        ASSERT_TRUE(line.end);
        EXPECT_EQ(line.end->reason, link::EndReason::Succeeded);
        // The selector sends one thing at a time: the answer to the repeated request waits behind
        // the late one, so every 200 ms that the late answer is still to come is one more time-out.
        const int timeOuts = lateMs < 390 ? 1 : lateMs < 590 ? 2 : 3;
        EXPECT_EQ(line.end->count(link::ExchangeFault::TimeOut), timeOuts);
        EXPECT_EQ(line.end->count(link::ExchangeFault::WrongEcho) +
                      line.end->count(link::ExchangeFault::BadChecksum),
                  0);
        link::store(std::get<link::ReadCells>(line.end->output), image);
        EXPECT_EQ(image.number(188), line.model.cell(188));
    }
}

// A late write reply shifts every answer by one exchange; a request lost after that is
// acknowledged by the answer to the one before, and its cell never written. Whatever the
// selector echoes, that cell is among those the transfer leaves for reading back.
TEST(LateReply, ProgrammingLeavesNoUnwrittenCellUnnamed)
{
    for (const auto echo : {sim::WriteEcho::Request, sim::WriteEcho::AddressOnly, sim::WriteEcho::Nothing}) {
        for (const int lateMs : {263, 302}) { // between two replies of the 4 ms exchanges
            SCOPED_TRACE(lateMs);
            Line line;
            // Without wire time the answer to the repeat overtakes the late one.
            line.schedule.setWireTime(false);
            line.model.setReplyDelayMs(4);
            line.model.setWriteEcho(echo);
            line.model.setFaultPlan(
                sim::FaultPlan::parse("late:5:" + std::to_string(lateMs) + "ms,lost:40").plan.value());
            ParameterImage image;
            for (int a = 0; a < ParameterImage::kSelectorCells; ++a) {
                image.setNumber(a, (a * 7 + 3) % 256);
                line.model.setCell(a, static_cast<std::uint8_t>(a * 7 + 4)); // every cell differs first
            }
            line.apply(line.engine.run(link::programJobs(image), 0).value());
            line.runUntilFinished(true);
            ASSERT_EQ(line.model.counts().lost, 1);
            std::set<int> named;
            for (const auto& range : line.ends)
                if (const auto* unproven = std::get_if<link::UnprovenCells>(&range.output))
                    named.insert(unproven->cells.begin(), unproven->cells.end());
            for (const auto& range : link::kProgramRanges)
                for (int a = range.first; a <= range.last; ++a)
                    if (line.model.cell(a) != cellByte(image.text(a))) {
                        EXPECT_TRUE(named.count(a)) << a;
                    }
        }
    }
}

// What a selector puts in bytes 1 to 3 of a write reply is its own: zeros match address 0 and
// every zero value, and that coincidence must not be held against the writes after it.
TEST(WriteEcho, AnySelectorsAnswerProgramsEveryCell)
{
    for (const auto echo : {sim::WriteEcho::Request, sim::WriteEcho::AddressOnly, sim::WriteEcho::Nothing}) {
        SCOPED_TRACE(static_cast<int>(echo));
        Line line;
        line.model.setWriteEcho(echo);
        ParameterImage image;
        for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
            image.setNumber(a, a < 10 ? 0 : a);
        line.apply(line.engine.run(link::programJobs(image), 0).value());
        line.runUntilFinished(true);
        int acknowledged = 0;
        for (const auto& range : line.ends)
            acknowledged += range.cellsDone;
        EXPECT_EQ(acknowledged, 184);
    }
}
