#include "session/program_plan.h"

#include "image/address_map.h"
#include "link/program_transfer.h"
#include "link/read_transfer.h"
#include "link/transfer_texts.h"

#include <algorithm>
#include <utility>

namespace quarvel::session {

namespace {

// The backup and verify reads cover the whole memory in three ranges, each with the failure
// budget programming has for its range: a line that programs must also be able to back up.
constexpr address::CellRange kReadRanges[] = {{0, 85}, {86, 127}, {128, 188}};

const QString kCancelled = QStringLiteral("Cancelled");

} // namespace

ProgramPlan::ProgramPlan(ProgramRequest request, BackupTarget target, ParameterImage memory)
    : m_request(std::move(request)), m_target(std::move(target)), m_memory(std::move(memory))
{
    m_result.sent = m_request.image.value_or(m_memory);
    // Every programmed selector carries the identification; a restore sends the backup's own.
    if (!m_request.exact) link::stampFixedCells(m_result.sent);
    m_result.exact = m_request.exact;
    m_result.verifyAsked = m_request.verify;

    // Two cells, so that a selector whose cell 0 happens to hold the request's own bytes is
    // not taken for an echo.
    m_steps.push_back({Phase::Probe, 0, 1, Target::Probe});
    const bool backup = m_request.backup.kind != BackupPolicy::Kind::None;
    if ((m_request.exact || m_request.identify) && !backup) {
        // Whose backup this is, told by the cells no programming writes.
        static_assert(address::kIdentityCells[1] + 3 == address::kIdentityCells[4],
                      "one run after the serial");
        m_steps.push_back(
            {Phase::Probe, address::kIdentityCells[0], address::kIdentityCells[0], Target::Memory});
        m_steps.push_back(
            {Phase::Probe, address::kIdentityCells[1], address::kIdentityCells[4], Target::Memory});
    }
    if (backup)
        for (const auto& range : kReadRanges)
            m_steps.push_back({Phase::Backup, range.first, range.last, Target::Memory});
    int range = 0;
    for (const auto& cells : address::kProgrammingRanges)
        m_steps.push_back({Phase::Writing, cells.first, cells.last, Target::None, range++});
    if (m_request.verify)
        for (const auto& range : kReadRanges)
            m_steps.push_back({Phase::Verify, range.first, range.last, Target::ReadBack});
    for (const auto& step : m_steps)
        m_total += step.size();
}

ProgramPlan::Actions ProgramPlan::start()
{
    if (m_state != State::Idle || m_next != 0) return {};
    if (m_cancelled) return end(link::EndReason::Cancelled, kCancelled);
    return beginStep();
}

int ProgramPlan::cellsProgrammed() const
{
    const bool writing = m_state == State::Transfer && current().phase == Phase::Writing;
    return m_result.cellsWritten() + (writing ? m_stepDone : 0);
}

ProgramPlan::Actions ProgramPlan::progress(int address)
{
    if (m_state != State::Transfer) return {};
    // A step shows the address about to be taken: those before it are done.
    const Step& step = current();
    m_stepDone = std::clamp(address - step.first, 0, step.size());
    return {Progress{m_base + m_stepDone, m_total}};
}

ProgramPlan::Actions ProgramPlan::beginStep()
{
    const Step& step = m_steps[m_next];
    if (step.phase != m_phase) {
        m_phase = step.phase;
        m_result.endedIn = step.phase;
        m_state = State::Telling;
        return {PhaseChanged{step.phase}};
    }
    m_state = State::Transfer;
    m_stepDone = 0;
    ++m_next;
    if (step.into == Target::None) return {Write{step.first, step.last}};
    // The user asked to program: a selector that fails the first reads, or the reads that
    // prove a range, fails a programming, not a read they never asked for.
    const bool programming = step.phase == Phase::Probe || step.into == Target::Proof;
    return {Read{step.first, step.last, programming ? link::texts::kProgramError : link::texts::kReadError}};
}

ProgramPlan::Actions ProgramPlan::phaseHeard()
{
    if (m_state != State::Telling) return {};
    if (m_question) {
        m_state = State::Asking;
        return {Ask{*m_question}};
    }
    return beginStep(); // the phase is the step's now: it begins
}

ProgramPlan::Actions ProgramPlan::transferEnded(const link::TransferSummary& summary)
{
    if (m_state != State::Transfer) return {};
    m_state = State::Idle;
    const Step step = current();
    m_result.faults += summary.faults;
    m_base += step.size();
    m_stepDone = 0;
    // A port pulled before the transfer said anything leaves a summary that never came.
    const link::EndReason reason = !m_lost.isEmpty() && summary.reason == link::EndReason::None
                                       ? link::EndReason::PortLost
                                       : summary.reason;

    const bool ok = reason == link::EndReason::Succeeded;
    const bool rangeWrite = step.phase == Phase::Writing && step.into == Target::None &&
                            step.range == static_cast<int>(m_result.ranges.size());
    if (rangeWrite)
        m_result.ranges.push_back({step.first, step.last, reason, summary.cellsDone, summary.faults, {}});
    if (step.phase == Phase::Writing) prove(step, summary);
    const auto* cells = std::get_if<link::ReadCells>(&summary.output);
    if (ok && step.into != Target::None && cells) take(step, *cells);
    if (reason == link::EndReason::Cancelled || (m_cancelled && !ok))
        return end(link::EndReason::Cancelled, kCancelled);
    if (reason == link::EndReason::PortLost)
        return end(reason, m_lost.isEmpty() ? QString::fromStdString(summary.text) : m_lost);
    // A range that failed leaves the next to be tried; a read that failed ends the run.
    if (!ok && step.phase != Phase::Writing) return readFailed(step, summary);
    // A run cut between two steps (in a closing pause) is cut, whatever the step before did.
    if (m_cancelled) return end(link::EndReason::Cancelled, kCancelled);

    const bool lastOfPhase = m_next == m_steps.size() || m_steps[m_next].phase != step.phase;
    if (step.phase == Phase::Backup && lastOfPhase) {
        m_memoryRead = true;
        m_state = State::Saving;
        // Only the program's own folder is pruned, and never before a restore: the backup
        // being restored may be the oldest.
        const bool prune = m_request.backup.kind == BackupPolicy::Kind::Folder && !m_request.exact;
        return {SaveBackup{m_memory, m_target.folder, m_target.path, prune}};
    }
    if (step.phase == Phase::Writing && lastOfPhase && !m_result.rangesWritten())
        return end(link::EndReason::RetriesUsedUp, m_result.failureSummary());
    return onward(step);
}

void ProgramPlan::take(const Step& step, const link::ReadCells& cells)
{
    ParameterImage& into = *image(step.into);
    link::store(cells, into);
    if (step.first <= address::kSerialNo && address::kSerialNo <= step.last)
        m_result.serialNo = serialNumberOf(into);
    const int lastIdentity = address::kIdentityCells.back();
    if (step.into == Target::Memory && step.first <= lastIdentity && lastIdentity <= step.last)
        m_identityRead = true;
}

ProgramPlan::Actions ProgramPlan::readFailed(const Step& step, const link::TransferSummary& summary)
{
    const QString why = readFailureText(summary, step.first);
    if (step.phase == Phase::Backup) {
        m_result.backup.state = BackupOutcome::State::ReadFailed;
        m_result.backup.error = why;
    }
    return end(summary.reason, why);
}

// A range whose acknowledgements proved nothing is read back once closed, written again where
// the selector differs, and read again, a few times at most; what still differs fails the range.
void ProgramPlan::prove(const Step& step, const link::TransferSummary& summary)
{
    RangeResult& range = m_result.ranges.at(static_cast<std::size_t>(step.range));
    if (summary.reason != link::EndReason::Succeeded) {
        if (step.again) range.reason = summary.reason;
        return;
    }
    const bool moreOfKind =
        m_next < m_steps.size() && m_steps[m_next].into == step.into && m_steps[m_next].again;
    if (step.into == Target::None) {
        std::vector<int> cells;
        if (!step.again) {
            m_repairs = 0;
            if (const auto* unproven = std::get_if<link::UnprovenCells>(&summary.output))
                cells = unproven->cells;
        } else {
            // A write again proves no more than the first: all it wrote is read once more.
            for (int address = step.first; address <= step.last; ++address)
                m_rewritten.push_back(address);
            if (moreOfKind) return;
            cells = std::exchange(m_rewritten, {});
        }
        insertSteps(cells, Target::Proof, step.range);
        return;
    }
    if (moreOfKind) return;
    std::vector<int> differ;
    for (const int address : std::exchange(m_proving, {}))
        if (m_proof.number(address) != quarvel::cellByte(m_result.sent.text(address)))
            differ.push_back(address);
    if (differ.empty()) return;
    if (m_repairs == RangeResult::kWritesAgain) {
        range.reason = link::EndReason::RetriesUsedUp;
        range.unwritten = differ;
        return;
    }
    ++m_repairs;
    insertSteps(differ, Target::None, step.range);
}

// Steps for the runs of neighbouring cells, next in line.
void ProgramPlan::insertSteps(const std::vector<int>& cells, Target into, int range)
{
    std::vector<Step> steps;
    for (const int address : cells) {
        if (!steps.empty() && steps.back().last + 1 == address)
            ++steps.back().last;
        else
            steps.push_back({Phase::Writing, address, address, into, range, true});
    }
    if (into == Target::Proof) m_proving.insert(m_proving.end(), cells.begin(), cells.end());
    for (const Step& step : steps)
        m_total += step.size();
    m_steps.insert(m_steps.begin() + static_cast<std::ptrdiff_t>(m_next), steps.begin(), steps.end());
}

ProgramPlan::Actions ProgramPlan::backupSaved(const QString& path, const std::optional<QString>& failure)
{
    if (m_state != State::Saving) return {};
    m_state = State::Idle;
    BackupOutcome& backup = m_result.backup;
    backup.path = path;
    backup.state = failure ? BackupOutcome::State::SaveFailed : BackupOutcome::State::Saved;
    backup.error = failure ? QStringLiteral("The backup could not be saved: %1").arg(*failure) : QString();
    if (failure) return end(link::EndReason::Refused, backup.error);
    if (m_cancelled) return end(link::EndReason::Cancelled, kCancelled);
    return onward(current());
}

// After a step that went well: the question before the first write, the end, or the next step.
ProgramPlan::Actions ProgramPlan::onward(const Step& step)
{
    if (m_next == m_steps.size()) return succeed();
    const bool writingNext = m_steps[m_next].phase == Phase::Writing;
    if (writingNext && step.phase != Phase::Writing && !m_asked) {
        m_asked = true;
        QString question;
        if (m_request.exact)
            question = otherSelectorQuestion(m_result.sent, m_memory);
        else if (!m_request.otherSelector.isEmpty())
            question = m_request.otherSelector;
        else if (m_request.guardChannels && m_memoryRead)
            question = untouchedChannelsQuestion(m_memory, m_result.sent, m_request.spared);
        if (!question.isEmpty()) {
            m_question = question;
            m_phase = Phase::Confirm;
            m_result.endedIn = Phase::Confirm;
            m_state = State::Telling;
            return {PhaseChanged{Phase::Confirm}};
        }
    }
    return beginStep();
}

ProgramPlan::Actions ProgramPlan::answer(bool proceed)
{
    if (m_state != State::Asking) return {};
    if (!proceed) return cancel();
    m_question.reset();
    return beginStep();
}

ProgramPlan::Actions ProgramPlan::cancel()
{
    switch (m_state) {
    case State::Finished:
        return {};
    case State::Transfer:
        // It ends as a transfer does; the run stops there.
        m_cancelled = true;
        return {StopTransfer{}};
    case State::Asking:
        return end(link::EndReason::Cancelled);
    case State::Telling:
        // Cancelled by someone who heard of the new phase: its first step does not begin.
        return end(link::EndReason::Cancelled, kCancelled);
    case State::Idle:
    case State::Saving:
        m_cancelled = true;
        return {};
    }
    return {};
}

ProgramPlan::Actions ProgramPlan::portLost(const QString& message)
{
    if (m_state == State::Finished) return {};
    m_lost = message;
    // A transfer in flight ends with its own account of the loss.
    if (m_state == State::Transfer) return {};
    return end(link::EndReason::PortLost, message);
}

ProgramPlan::Actions ProgramPlan::succeed()
{
    if (m_request.verify) {
        m_result.verified = true;
        m_result.mismatches = verifyMismatches(m_result.sent, m_readBack);
        m_result.readBack = m_readBack;
        if (m_request.exact) m_result.notRestored = identityDifferences(m_result.sent, m_readBack);
    }
    m_result.endedIn = Phase::Done;
    Actions actions{Progress{m_total, m_total}};
    for (auto& action : end(link::EndReason::Succeeded))
        actions.push_back(std::move(action));
    return actions;
}

ProgramPlan::Actions ProgramPlan::end(link::EndReason reason, const QString& message)
{
    m_state = State::Finished;
    m_result.reason = reason;
    m_result.message = message;
    if (m_memoryRead) m_result.before = m_memory;
    std::optional<ParameterImage> seen;
    if (m_result.verified)
        seen = m_readBack;
    else if (m_identityRead)
        seen = m_memory;
    return {Finished{m_result, std::move(seen)}};
}

ParameterImage* ProgramPlan::image(Target target)
{
    switch (target) {
    case Target::Probe:
        return &m_probe;
    case Target::Memory:
        return &m_memory;
    case Target::ReadBack:
        return &m_readBack;
    case Target::Proof:
        return &m_proof;
    case Target::None:
        break;
    }
    return nullptr;
}

} // namespace quarvel::session
