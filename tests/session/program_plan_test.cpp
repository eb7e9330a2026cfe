// The programming plan driven over the link engine and the virtual selector, on a clock that
// moves only when the bench says: each phase's failure, each cut point, the question.
#include "session/program_plan.h"

#include "link/transfer_texts.h"
#include "plan_line.h"

#include <gtest/gtest.h>

namespace quarvel::session {
namespace {

using Phase = ProgramResult::Phase;
using Bench = testing::PlanLine;

ProgramRequest withBackupAndVerify()
{
    ProgramRequest request;
    request.backup.kind = BackupPolicy::Kind::Folder;
    request.verify = true;
    return request;
}

// The selector's own choices (write echo, an open read byte) vary; the run does not care.
TEST(ProgramPlan, EveryPhaseInOrderWithOneRisingProgressFigure)
{
    for (const auto echo : {sim::WriteEcho::Request, sim::WriteEcho::AddressOnly, sim::WriteEcho::Nothing}) {
        Bench bench;
        bench.model.setWriteEcho(echo);
        bench.model.setReadReplyByte2(static_cast<std::uint8_t>(17 * static_cast<int>(echo)));
        const auto before = bench.model.image();
        ParameterImage image = before;
        for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
            image.setNumber(a, (a * 13 + 5) % 256);
        ProgramRequest request = withBackupAndVerify();
        request.image = image;
        const ProgramResult result = bench.run(request);
        ASSERT_TRUE(result.succeeded()) << result.summary().toStdString();
        EXPECT_EQ(bench.phases, (std::vector{Phase::Backup, Phase::Writing, Phase::Verify}));
        EXPECT_TRUE(std::is_sorted(bench.progress.begin(), bench.progress.end())); // -1: another total
        EXPECT_EQ(bench.progress.front(), 0);
        EXPECT_EQ(bench.progress.back(), 2 + 189 + 184 + 189);
        EXPECT_TRUE(bench.holdsSent());
        EXPECT_EQ(*bench.backup, before);
        EXPECT_TRUE(result.mismatches.empty());
        EXPECT_EQ(result.readBack, bench.model.image()); // every range read back
        EXPECT_EQ(bench.seen, bench.model.image());
        EXPECT_EQ(result.serialNo, bench.model.cell(address::kSerialNo));
    }
}

// How each phase fails, and that nothing is written before the first write's phase.
TEST(ProgramPlan, EachPhaseFailsWhereItFails)
{
    const auto drops = [](int from) {
        std::string plan;
        for (int r = from; r < from + 5; ++r)
            plan += (plan.empty() ? "drop:" : ",drop:") + std::to_string(r);
        return plan;
    };
    const struct
    {
        const char* name;
        std::string faults;
        bool backup, exact, saveFails;
        Phase endedIn;
        link::EndReason reason;
        const char* message; // its start
        int writes;
    } cases[] = {
        {"probe", drops(1), false, false, false, Phase::Probe, link::EndReason::RetriesUsedUp,
         link::texts::kProgramError, 0},
        {"identity", drops(3), false, true, false, Phase::Probe, link::EndReason::RetriesUsedUp,
         link::texts::kProgramError, 0},
        {"backup read", drops(3), true, false, false, Phase::Backup, link::EndReason::RetriesUsedUp,
         "Read selector error at cell 0: 5 failed exchanges (5 time-outs)", 0},
        {"backup save", "", true, false, true, Phase::Backup, link::EndReason::Refused,
         "The backup could not be saved: disk full", 0},
        {"a range", "lost:3,lost:4,lost:5,lost:6,lost:7", false, false, false, Phase::Writing,
         link::EndReason::RetriesUsedUp, "cells 0-84 not programmed (5 time-outs)", 5 + 38 + 61},
        {"verify", drops(2 + 189 + 184 + 1), true, false, false, Phase::Verify,
         link::EndReason::RetriesUsedUp, "Read selector error at cell 0", 184},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.model.setFaultPlan(sim::FaultPlan::parse(c.faults).plan.value());
        if (c.saveFails) bench.saveFailure = QStringLiteral("disk full");
        ProgramRequest request = withBackupAndVerify();
        if (!c.backup) request.backup = {};
        request.exact = c.exact;
        const ProgramResult result = bench.run(request);
        EXPECT_EQ(result.endedIn, c.endedIn);
        EXPECT_EQ(result.reason, c.reason);
        EXPECT_TRUE(result.message.startsWith(QLatin1String(c.message))) << result.message.toStdString();
        EXPECT_EQ(bench.writes, c.writes);
        if (c.endedIn == Phase::Writing) {
            EXPECT_EQ(result.ranges.size(), 3u); // every range is tried
        }
    }
}

// Wherever the user cancels or the port goes, nothing more is sent: in a transfer, between two,
// on hearing of a phase, in the question.
TEST(ProgramPlan, ACutStopsTheRunWhereverItComes)
{
    const auto cancelled = link::EndReason::Cancelled;
    const struct
    {
        const char* name;
        Bench::Hook Bench::*hook; // none: in the question
        int at;                   // the frame, transfer end or phase it comes at
        bool lost;
        link::EndReason reason;
        const char* message;
        int writes;
    } cases[] = {
        {"in the probe", &Bench::onFrame, 1, false, cancelled, "Cancelled", 0},
        {"in a range", &Bench::onFrame, 2 + 189 + 41, false, cancelled, "Cancelled", 41},
        {"as a backup read ends", &Bench::onTransferEnd, 2, false, cancelled, "Cancelled", 0},
        {"between two ranges", &Bench::onTransferEnd, 5, false, cancelled, "Cancelled", 85},
        {"hearing of the question", &Bench::onPhase, 2, false, cancelled, "Cancelled", 0},
        {"hearing of the writes", &Bench::onPhase, 3, false, cancelled, "Cancelled", 0},
        {"hearing of verify", &Bench::onPhase, 4, false, cancelled, "Cancelled", 184},
        {"in the question", nullptr, 0, false, cancelled, "", 0},
        {"port lost in a range", &Bench::onFrame, 2 + 189 + 41, true, link::EndReason::PortLost, "gone", 41},
        {"port lost in the question", nullptr, 0, true, link::EndReason::PortLost, "gone", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        ProgramRequest request = withBackupAndVerify();
        request.otherSelector = QStringLiteral("Another selector's settings. Program anyway?");
        const auto cut = [lost = c.lost](Bench& b) { lost ? b.lose(QStringLiteral("gone")) : b.cancel(); };
        int count = 0;
        if (c.hook)
            bench.*c.hook = [&count, at = c.at, cut](Bench& b) {
                if (++count == at) cut(b);
            };
        else
            bench.answer.reset();
        bench.run(request);
        if (!c.hook) cut(bench);
        ASSERT_TRUE(bench.result);
        EXPECT_EQ(bench.result->reason, c.reason);
        EXPECT_EQ(bench.result->message.toStdString(), c.message);
        EXPECT_EQ(bench.writes, c.writes);
    }
}

TEST(ProgramPlan, AskedOnceBeforeTheFirstWrite)
{
    const struct
    {
        const char* name;
        bool exact, guard, proceed;
        const char* question;
    } cases[] = {
        {"another selector's backup", true, false, true,
         "This backup was taken from another selector (serial no. 17, this one is 42). Restore it anyway?"},
        {"channels no one taught", false, true, true,
         "Programming changes channel 4 (coin values). Continue?"},
        {"declined", false, true, false, "Programming changes channel 4 (coin values). Continue?"},
        {"nothing to ask", false, false, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.model.setCell(address::kSerialNo, 42);
        ParameterImage image = bench.model.image();
        image.setNumber(address::kSerialNo, 17);
        image.setNumber(address::coinValue(4), 99);
        image.setNumber(address::coinValue(5), 99);
        ProgramRequest request = withBackupAndVerify();
        request.image = image;
        request.exact = c.exact;
        request.guardChannels = c.guard;
        request.spared = {5};
        bench.answer = c.proceed;
        const ProgramResult result = bench.run(request);
        EXPECT_EQ(bench.asked.toStdString(), c.question);
        EXPECT_EQ(bench.writesAtAsk, *c.question ? 0 : -1);
        EXPECT_EQ(result.succeeded(), c.proceed);
        EXPECT_EQ(bench.writes, c.proceed ? 184 : 0);
    }
}

// A late write reply shifts the answers by one exchange and a request lost after it is
// acknowledged by the answer before: whatever the selector echoes, the cells the replies cannot
// prove are read back once their range is closed and written again, verify or not.
TEST(ProgramPlan, ALateReplyAndALostRequestLeaveNoCellUnwritten)
{
    for (const auto echo : {sim::WriteEcho::Nothing, sim::WriteEcho::Constant, sim::WriteEcho::Request}) {
        for (const int lateMs : {210, 240}) { // the retry's own answer lands after the next request
            SCOPED_TRACE(std::to_string(static_cast<int>(echo)) + " " + std::to_string(lateMs));
            Bench bench;
            bench.model.setReplyDelayMs(4);
            bench.model.setWriteEcho(echo);
            ParameterImage image;
            for (int a = 0; a < ParameterImage::kSelectorCells; ++a) {
                image.setNumber(a, (a * 7 + 3) % 256);
                bench.model.setCell(a, static_cast<std::uint8_t>(a * 7 + 4)); // every cell differs first
            }
            // Replies count from the probe's two reads.
            bench.model.setFaultPlan(
                sim::FaultPlan::parse("late:7:" + std::to_string(lateMs) + "ms,lost:42").plan.value());
            ProgramRequest request;
            request.image = image;
            request.verify = false;
            const ProgramResult result = bench.run(request);
            ASSERT_EQ(bench.model.counts().lost, 1);
            EXPECT_TRUE(result.succeeded()) << result.summary().toStdString();
            EXPECT_TRUE(bench.holdsSent());
        }
    }
}

} // namespace
} // namespace quarvel::session
