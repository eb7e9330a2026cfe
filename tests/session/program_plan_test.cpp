// The programming plan driven over the link engine and the virtual selector, on a clock that
// moves only when the bench says: each phase's failure, each cut point, the question.
#include "session/program_plan.h"

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "link/link_engine.h"
#include "link/program_transfer.h"
#include "link/read_transfer.h"
#include "link/transfer_texts.h"
#include "sim/virtual_selector.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace quarvel::session {
namespace {

using Phase = ProgramResult::Phase;
using Engine = link::LinkEngine;
using Plan = ProgramPlan;

struct Bench
{
    sim::VirtualSelector model;
    Engine engine{{20, 5}};
    std::int64_t now = 0;
    std::optional<std::pair<std::int64_t, Engine::TimerTag>> timer;
    std::multimap<std::int64_t, std::vector<std::uint8_t>> toHost;
    std::optional<Plan> plan;
    ParameterImage scratch, sending;
    link::TransferSummary summary;
    // What the plan did, and how the bench answers it.
    std::vector<Phase> phases;
    std::vector<int> progress;
    QString asked;
    int writesAtAsk = -1;
    std::optional<ProgramResult> result;
    std::optional<ParameterImage> seen, backup;
    int writes = 0;
    std::optional<bool> answer = true;
    std::optional<QString> saveFailure;
    std::function<void(Bench&)> onFrame, onPhase, onTransferEnd;

    ProgramResult run(ProgramRequest request, BackupTarget target = {})
    {
        if (!request.image) request.image = model.image();
        plan.emplace(request, target, ParameterImage{});
        apply(plan->start());
        while (!result && !plan->waitsForAnswer()) {
            const bool bytes = !toHost.empty() && (!timer || toHost.begin()->first <= timer->first);
            if (bytes) {
                auto next = toHost.extract(toHost.begin());
                now = std::max(now, next.key());
                engineDid(engine.bytesArrived(next.mapped(), now));
            } else if (timer) {
                now = timer->first;
                const auto tag = timer->second;
                timer.reset();
                engineDid(engine.timerFired(tag, now));
            } else {
                ADD_FAILURE() << "the plan waits for nothing";
                return {};
            }
        }
        return result.value_or(ProgramResult{});
    }
    void cancel() { apply(plan->cancel()); }
    void apply(const Plan::Actions& actions)
    {
        for (const auto& action : actions) {
            Engine::Jobs jobs;
            if (const auto* read = std::get_if<Plan::Read>(&action)) {
                jobs.push_back(
                    std::make_unique<link::ReadTransfer>(scratch, read->first, read->last, read->pause));
            } else if (const auto* write = std::get_if<Plan::Write>(&action)) {
                sending = plan->sent();
                jobs.push_back(std::make_unique<link::ProgramTransfer>(sending, write->first, write->last));
            } else if (std::holds_alternative<Plan::StopTransfer>(action)) {
                engineDid(engine.abort(link::Transfer::AbortReason::UserCancel, now));
            } else if (const auto* save = std::get_if<Plan::SaveBackup>(&action)) {
                backup = save->memory;
                apply(plan->backupSaved(save->path, saveFailure));
            } else if (const auto* phase = std::get_if<Plan::PhaseChanged>(&action)) {
                phases.push_back(phase->phase);
                if (onPhase) onPhase(*this);
                apply(plan->phaseHeard());
            } else if (const auto* ask = std::get_if<Plan::Ask>(&action)) {
                asked = ask->question;
                writesAtAsk = writes;
                if (answer) apply(plan->answer(*answer));
            } else if (const auto* p = std::get_if<Plan::Progress>(&action)) {
                EXPECT_EQ(p->total, plan->progressTotal());
                progress.push_back(p->value);
            } else if (const auto* end = std::get_if<Plan::Finished>(&action)) {
                result = end->result;
                seen = end->seen;
            }
            if (!jobs.empty()) engineDid(engine.run(std::move(jobs), now).value());
        }
    }
    // Hooks run once the engine's actions are applied, as a listener hears of them.
    void engineDid(const Engine::Actions& actions)
    {
        std::vector<std::function<void(Bench&)>*> hooks;
        for (const auto& action : actions) {
            if (const auto* w = std::get_if<Engine::Write>(&action)) {
                writes += w->frame[0] == 0xE2 ? 1 : 0;
                for (const auto& e : model.receive(w->frame, now))
                    toHost.emplace(now + 1 + e.delayMs, e.bytes);
                if (onFrame) hooks.push_back(&onFrame);
            } else if (const auto* arm = std::get_if<Engine::ArmTimer>(&action)) {
                timer = {{now + arm->ms, arm->tag}};
            } else if (std::holds_alternative<Engine::StopTimer>(action)) {
                timer.reset();
            } else if (std::holds_alternative<Engine::Flush>(action)) {
                toHost.erase(toHost.begin(), toHost.upper_bound(now));
            } else if (const auto* status = std::get_if<Engine::Status>(&action)) {
                if (const auto* p = std::get_if<link::SetProgress>(&status->report))
                    apply(plan->progress(p->value));
            } else if (const auto* finished = std::get_if<Engine::TransferFinished>(&action)) {
                summary = finished->summary;
                if (onTransferEnd) hooks.push_back(&onTransferEnd);
            } else if (std::holds_alternative<Engine::RunFinished>(action)) {
                apply(plan->transferEnded(summary, &scratch));
            }
        }
        for (auto* hook : hooks)
            (*hook)(*this);
    }
    // Cells of the programmed ranges that the selector holds as sent.
    bool holdsSent() const
    {
        for (const auto& range : address::kProgrammingRanges)
            for (int a = range.first; a <= range.last; ++a)
                if (model.cell(a) != cellByte(plan->sent().text(a))) return false;
        return true;
    }
};

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
        EXPECT_TRUE(std::is_sorted(bench.progress.begin(), bench.progress.end()));
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

// Wherever the user cancels, nothing more is sent: in a transfer, between two, on hearing of a
// phase, in the question.
TEST(ProgramPlan, ACancelStopsTheRunWhereverItComes)
{
    const struct
    {
        const char* name;
        std::function<void(Bench&)> Bench::*hook;
        int at; // the frame, phase or transfer end it comes at
        int writes;
        QString message;
    } cases[] = {
        {"in the probe", &Bench::onFrame, 1, 0, QStringLiteral("Cancelled")},
        {"in a range", &Bench::onFrame, 2 + 189 + 41, 41, QStringLiteral("Cancelled")},
        {"as a backup read ends", &Bench::onTransferEnd, 2, 0, QStringLiteral("Cancelled")},
        {"between two ranges", &Bench::onTransferEnd, 5, 85, QStringLiteral("Cancelled")},
        {"hearing of the question", &Bench::onPhase, 2, 0, QStringLiteral("Cancelled")},
        {"hearing of the writes", &Bench::onPhase, 3, 0, QStringLiteral("Cancelled")},
        {"hearing of verify", &Bench::onPhase, 4, 184, QStringLiteral("Cancelled")},
        {"in the question", nullptr, 0, 0, QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        ProgramRequest request = withBackupAndVerify();
        request.otherSelector = QStringLiteral("Another selector's settings. Program anyway?");
        int count = 0;
        if (c.hook) {
            bench.*c.hook = [&count, at = c.at](Bench& b) {
                if (++count == at) b.cancel();
            };
        } else {
            bench.answer.reset();
        }
        bench.run(request);
        if (!c.hook) bench.cancel();
        ASSERT_TRUE(bench.result);
        EXPECT_EQ(bench.result->reason, link::EndReason::Cancelled);
        EXPECT_EQ(bench.result->message, c.message);
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

TEST(ProgramPlan, APortLostEndsTheRunWithItsMessage)
{
    for (const bool asking : {false, true}) {
        SCOPED_TRACE(asking);
        Bench bench;
        int frames = 0;
        const auto lose = [](Bench& b) {
            b.apply(b.plan->portLost(QStringLiteral("The port is gone")));
            b.engineDid(b.engine.abort(link::Transfer::AbortReason::PortLost, b.now));
        };
        ProgramRequest request;
        if (asking) {
            request.otherSelector = QStringLiteral("Program anyway?");
            bench.answer.reset();
        } else {
            bench.onFrame = [&](Bench& b) {
                if (++frames == 2 + 40) lose(b);
            };
        }
        bench.run(request);
        if (asking) lose(bench);
        ASSERT_TRUE(bench.result);
        EXPECT_EQ(bench.result->reason, link::EndReason::PortLost);
        EXPECT_EQ(bench.result->message, QStringLiteral("The port is gone"));
        if (!asking) {
            EXPECT_TRUE(bench.result->failureSummary().startsWith("cells 39-84 not programmed (port lost)"))
                << bench.result->failureSummary().toStdString();
        }
    }
}

} // namespace
} // namespace quarvel::session
