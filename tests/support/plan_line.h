#pragma once

// A programming plan run as a Device runs it, over the link engine and a virtual selector, on a
// clock that moves only to the next reply or timer: no port, no timers, no files. For the plan's
// tests and the link engine's fuzz target.
#include "image/address_map.h"
#include "image/cell_byte.h"
#include "link/frame.h"
#include "link/link_engine.h"
#include "link/program_transfer.h"
#include "link/read_transfer.h"
#include "session/program_plan.h"
#include "sim/virtual_selector.h"

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace quarvel::testing {

class PlanLine
{
public:
    using Plan = session::ProgramPlan;
    using Engine = link::LinkEngine;
    using Hook = std::function<void(PlanLine&)>;

    explicit PlanLine(link::LinkTiming timing = {20, 5}) : engine(timing) {}

    sim::VirtualSelector model;
    Engine engine;
    std::optional<Plan> plan;
    // What the plan did.
    std::optional<session::ProgramResult> result;
    int finishes = 0;
    std::optional<ParameterImage> seen, backup;
    std::vector<session::ProgramResult::Phase> phases;
    std::vector<int> progress;
    QString asked;
    int writes = 0;        // write frames sent
    int writesAtAsk = -1;  // when the question came
    int writesUnasked = 0; // before the plan asked for any
    // How the bench answers, and what a listener does as it hears (once the engine's actions
    // are applied, as a Device's listener would).
    std::optional<bool> answer = true; // none: the question stays open
    std::optional<QString> saveFailure;
    Hook onFrame, onPhase, onTransferEnd;

    // The request's image defaults to what the selector holds.
    void start(session::ProgramRequest request)
    {
        if (!request.image) request.image = model.image();
        plan.emplace(request, session::BackupTarget{}, ParameterImage{});
        apply(plan->start());
    }
    // The next reply or timer; false when the plan waits on nothing the line can bring.
    bool step()
    {
        if (!m_toHost.empty() && (!m_timer || m_toHost.begin()->first <= m_timer->first)) {
            auto due = m_toHost.extract(m_toHost.begin());
            m_now = std::max(m_now, due.key());
            engineDid(engine.bytesArrived(due.mapped(), m_now));
        } else if (m_timer) {
            m_now = m_timer->first;
            const auto tag = m_timer->second;
            m_timer.reset();
            engineDid(engine.timerFired(tag, m_now));
        } else {
            return false;
        }
        return true;
    }
    // Until the plan ends, or waits for an answer the bench does not give.
    session::ProgramResult run(session::ProgramRequest request)
    {
        start(std::move(request));
        while (!result && !plan->waitsForAnswer() && step()) {
        }
        return result.value_or(session::ProgramResult{});
    }
    void cancel() { apply(plan->cancel()); }
    // The port goes: the plan hears first, then the running transfer ends (as SerialLink does).
    void lose(const QString& message)
    {
        apply(plan->portLost(message));
        engineDid(engine.abort(link::Transfer::AbortReason::PortLost, m_now));
    }
    // The programmed ranges hold what the plan sent.
    bool holdsSent() const
    {
        for (const auto& range : address::kProgrammingRanges)
            for (int a = range.first; a <= range.last; ++a)
                if (model.cell(a) != cellByte(plan->sent().text(a))) return false;
        return true;
    }

    void apply(const Plan::Actions& actions)
    {
        for (const auto& action : actions) {
            Engine::Jobs jobs;
            if (const auto* read = std::get_if<Plan::Read>(&action)) {
                jobs.push_back(
                    std::make_unique<link::ReadTransfer>(read->first, read->last, read->failureText));
            } else if (const auto* write = std::get_if<Plan::Write>(&action)) {
                m_planWrote = true;
                jobs.push_back(
                    std::make_unique<link::ProgramTransfer>(plan->sent(), write->first, write->last));
            } else if (std::holds_alternative<Plan::StopTransfer>(action)) {
                engineDid(engine.abort(link::Transfer::AbortReason::UserCancel, m_now));
            } else if (const auto* save = std::get_if<Plan::SaveBackup>(&action)) {
                backup = save->memory;
                apply(plan->backupSaved(QStringLiteral("backup.cdt"), saveFailure));
            } else if (const auto* phase = std::get_if<Plan::PhaseChanged>(&action)) {
                phases.push_back(phase->phase);
                if (onPhase) onPhase(*this);
                apply(plan->phaseHeard());
            } else if (const auto* ask = std::get_if<Plan::Ask>(&action)) {
                asked = ask->question;
                writesAtAsk = writes;
                if (answer) apply(plan->answer(*answer));
            } else if (const auto* p = std::get_if<Plan::Progress>(&action)) {
                progress.push_back(p->total == plan->progressTotal() ? p->value : -1);
            } else if (const auto* end = std::get_if<Plan::Finished>(&action)) {
                result = end->result;
                seen = end->seen;
                ++finishes;
            }
            if (!jobs.empty()) engineDid(engine.run(std::move(jobs), m_now).value());
        }
    }

private:
    void engineDid(const Engine::Actions& actions)
    {
        std::vector<Hook*> hooks;
        for (const auto& action : actions) {
            if (const auto* w = std::get_if<Engine::Write>(&action)) {
                const bool isWrite = w->frame[0] == link::command::kWrite;
                writes += isWrite ? 1 : 0;
                writesUnasked += isWrite && !m_planWrote ? 1 : 0;
                for (const auto& e : model.receive(w->frame, m_now))
                    m_toHost.emplace(m_now + 1 + e.delayMs, e.bytes);
                if (onFrame) hooks.push_back(&onFrame);
            } else if (const auto* arm = std::get_if<Engine::ArmTimer>(&action)) {
                m_timer = {{m_now + std::max(0, arm->ms), arm->tag}};
            } else if (std::holds_alternative<Engine::StopTimer>(action)) {
                m_timer.reset();
            } else if (std::holds_alternative<Engine::Flush>(action)) {
                m_toHost.erase(m_toHost.begin(), m_toHost.upper_bound(m_now));
            } else if (const auto* status = std::get_if<Engine::Status>(&action)) {
                if (const auto* p = std::get_if<link::SetProgress>(&status->report))
                    apply(plan->progress(p->value));
            } else if (const auto* finished = std::get_if<Engine::TransferFinished>(&action)) {
                m_summary = finished->summary;
                if (onTransferEnd) hooks.push_back(&onTransferEnd);
            } else if (std::holds_alternative<Engine::RunFinished>(action)) {
                apply(plan->transferEnded(m_summary));
            }
        }
        for (Hook* hook : hooks)
            (*hook)(*this);
    }

    std::int64_t m_now = 0;
    std::optional<std::pair<std::int64_t, Engine::TimerTag>> m_timer; // due, tag
    std::multimap<std::int64_t, std::vector<std::uint8_t>> m_toHost;  // due, bytes
    link::TransferSummary m_summary;
    bool m_planWrote = false;
};

} // namespace quarvel::testing
