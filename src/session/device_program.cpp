// The one programming operation: probe, backup, ranges, verify, one transfer at a time, each
// step decided on what the one before found.
#include "session/device_program.h"

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "link/program_transfer.h"
#include "link/qt/serial_link.h"
#include "link/read_transfer.h"
#include "link/transfer_texts.h"
#include "session/backup.h"
#include "session/document_files.h"

#include <QDateTime>

#include <algorithm>

namespace quarvel::session {

namespace {

using Phase = ProgramResult::Phase;

// The backup and verify reads cover the whole memory in three ranges, each with the failure
// budget programming has for its range: a line that programs must also be able to back up.
constexpr address::CellRange kReadRanges[] = {{0, 85}, {86, 127}, {128, 188}};

} // namespace

void ProgramOperation::proceed()
{
    if (!hasEnded() && m_device.current() == this) m_device.answerProgramQuestion(true);
}

Started<ProgramOperation> Device::program(const ProgramRequest& request)
{
    if (auto refusal = refusalToBegin()) return {nullptr, refusal};
    ProgramRun run;
    run.request = request;
    if (request.backup.kind != BackupPolicy::Kind::None) {
        run.target = resolveBackupTarget(request.backup, request.sourceFile);
        if (run.target.refusal) return {nullptr, run.target.refusal};
    }
    // Whoever holds a document puts it in the request; without an image nothing can be sent.
    Q_ASSERT(request.image);
    if (!request.image) return {nullptr, Refusal{Refusal::Kind::Busy, 0, {}}};
    // The event loop stays live while programming runs: an edit made meanwhile must not reach
    // the selector half-way through, so the ranges are sent from a copy.
    run.result.sent = *request.image;
    if (!request.exact) link::stampFixedCells(run.result.sent);
    run.result.exact = request.exact;
    run.result.verifyAsked = request.verify;
    m_program = std::make_unique<ProgramRun>(std::move(run));
    ProgramRun& r = *m_program;

    // Two cells, so that a selector whose cell 0 happens to hold the request's own bytes is
    // not taken for an echo.
    r.steps.push_back({Phase::Probe, 0, 1, &r.probe});
    const bool backup = request.backup.kind != BackupPolicy::Kind::None;
    if ((request.exact || request.identify) && !backup) {
        // Whose backup this is, told by the cells no programming writes.
        static_assert(address::kIdentityCells[1] + 3 == address::kIdentityCells[4],
                      "one run after the serial");
        r.steps.push_back({Phase::Probe, address::kIdentityCells[0], address::kIdentityCells[0], &r.memory});
        r.steps.push_back({Phase::Probe, address::kIdentityCells[1], address::kIdentityCells[4], &r.memory});
    }
    if (backup)
        for (const auto& range : kReadRanges)
            r.steps.push_back({Phase::Backup, range.first, range.last, &r.memory});
    for (const auto& range : address::kProgrammingRanges)
        r.steps.push_back({Phase::Writing, range.first, range.last, nullptr});
    if (request.verify)
        for (const auto& range : kReadRanges)
            r.steps.push_back({Phase::Verify, range.first, range.last, &r.readBack});
    for (const auto& step : r.steps)
        r.progressTotal += step.last - step.first + 1;

    auto* operation = new ProgramOperation(*this);
    r.next = 1;
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    // The line probe: the next step follows at once, with no closing pause between.
    jobs.push_back(std::make_unique<link::ReadTransfer>(r.probe, 0, 1, link::Pause::None));
    auto started = begin(operation, std::move(jobs));
    if (!started) m_program.reset();
    return started;
}

int ProgramOperation::cellsProgrammed() const
{
    return m_device.current() == this ? m_device.cellsProgrammed() : 0;
}

int Device::cellsProgrammed() const
{
    if (!m_current || !m_program) return 0;
    const ProgramRun& run = *m_program;
    const bool writing =
        run.next > 0 && run.next <= run.steps.size() && run.current().phase == Phase::Writing;
    // rangeProgress is the running range's; it is back to 0 once the range has ended.
    return run.result.cellsWritten() + (writing ? m_rangeProgress : 0);
}

void Device::programReported(const link::SetProgress& progress)
{
    // Each step shows the address about to be read or written: those before it are done.
    // One figure runs over every step of the operation.
    const ProgramRun& run = *m_program;
    const ProgramRun::Step& step = run.current();
    m_rangeProgress = std::clamp(progress.value - step.first, 0, step.last - step.first + 1);
    const link::Report overall = link::SetProgress{run.progressBase + m_rangeProgress, run.progressTotal};
    toCurrent([overall](Operation* op) { emit op->reported(overall); });
}

ProgramResult Device::finishProgram()
{
    if (!m_program) return {};
    const ProgramRun& run = *m_program;
    if (run.result.verified)
        m_seen = run.result.readBack;
    else if (run.memoryRead || run.request.exact)
        m_seen = run.memory;
    ProgramResult result = run.result;
    m_program.reset();
    return result;
}

void Device::startProgramStep()
{
    ProgramRun& run = *m_program;
    const ProgramRun::Step& step = run.steps[run.next++];
    auto* operation = static_cast<ProgramOperation*>(m_current.data());
    if (operation->m_phase != step.phase) {
        operation->m_phase = step.phase;
        run.result.endedIn = step.phase;
        toCurrent([phase = step.phase](Operation* op) {
            emit static_cast<ProgramOperation*>(op)->phaseChanged(phase);
        });
        // Cancelled by someone who heard of the new phase: it does not begin.
        if (run.cancelled) return endProgramming(link::EndReason::Cancelled, QStringLiteral("Cancelled"));
    }
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    // The operation's reads follow one another, or a write, at once: a closing pause after
    // each would add 300 ms a step. The last step of all keeps it.
    const link::Pause afterRead = run.next < run.steps.size() ? link::Pause::None : link::Pause::FromLastSend;
    if (step.into)
        jobs.push_back(std::make_unique<link::ReadTransfer>(*step.into, step.first, step.last, afterRead));
    else
        jobs.push_back(std::make_unique<link::ProgramTransfer>(run.result.sent, step.first, step.last));
    m_rangeProgress = 0;
    run.last = {};
    if (!m_link->run(std::move(jobs))) endProgramming(link::EndReason::PortLost, m_lostMessage);
}

void Device::programStepEnded()
{
    ProgramRun& run = *m_program;
    const ProgramRun::Step& step = run.current();
    const link::TransferSummary& last = run.last;
    run.result.faults += last.faults;
    run.progressBase += step.last - step.first + 1;
    // A port pulled between two steps leaves a summary that never came.
    const link::EndReason reason = !m_lostMessage.isEmpty() && last.reason == link::EndReason::None
                                       ? link::EndReason::PortLost
                                       : last.reason;

    if (step.phase == Phase::Writing) {
        RangeResult range;
        range.first = step.first;
        range.last = step.last;
        range.reason = reason;
        range.cellsWritten = last.cellsDone;
        range.faults = last.faults;
        run.result.ranges.push_back(range);
    }
    const bool ok = reason == link::EndReason::Succeeded;
    if (ok && step.into && step.first <= address::kSerialNo && address::kSerialNo <= step.last)
        run.result.serialNo = serialNumberOf(*step.into);
    if (reason == link::EndReason::Cancelled || (run.cancelled && !ok))
        return endProgramming(link::EndReason::Cancelled, QStringLiteral("Cancelled"));
    if (reason == link::EndReason::PortLost) return endProgramming(reason, m_lostMessage);
    if (!ok && step.phase != Phase::Writing) {
        QString why = readFailureText(last, step.first);
        // The user asked to program: a selector that does not answer the first reads is a
        // programming that failed, not a read they never asked for.
        const QLatin1String readError(link::texts::kReadError);
        if (step.phase == Phase::Probe && why.startsWith(readError))
            why.replace(0, readError.size(), QLatin1String(link::texts::kProgramError));
        if (step.phase == Phase::Backup) {
            run.result.backup.state = BackupOutcome::State::ReadFailed;
            run.result.backup.error = why;
        }
        return endProgramming(reason, why);
    }
    // A run cut between two steps (in a closing pause) is cut, whatever the step before did.
    if (run.cancelled) return endProgramming(link::EndReason::Cancelled, QStringLiteral("Cancelled"));

    const bool lastOfPhase = run.next == run.steps.size() || run.steps[run.next].phase != step.phase;
    if (step.phase == Phase::Backup && lastOfPhase) {
        run.memoryRead = true;
        saveBackup();
        if (run.result.backup.state != BackupOutcome::State::Saved)
            return endProgramming(link::EndReason::Refused, run.result.backup.error);
    }
    const bool writingNext = run.next < run.steps.size() && run.steps[run.next].phase == Phase::Writing;
    if (writingNext && step.phase != Phase::Writing && !programBeforeWriting()) return;
    if (step.phase == Phase::Writing && lastOfPhase && !run.result.rangesWritten())
        return endProgramming(link::EndReason::RetriesUsedUp, run.result.failureSummary());
    if (run.next == run.steps.size()) {
        if (run.request.verify) {
            run.result.verified = true;
            run.result.mismatches = verifyMismatches(run.result.sent, run.readBack);
            run.result.readBack = run.readBack;
            if (run.request.exact)
                run.result.notRestored = identityDifferences(run.result.sent, run.readBack);
        }
        run.result.endedIn = Phase::Done;
        return endProgramming(link::EndReason::Succeeded);
    }
    startProgramStep();
}

// Asked once, before the first write; false while the question waits for its answer.
bool Device::programBeforeWriting()
{
    ProgramRun& run = *m_program;
    if (run.asked) return true;
    run.asked = true;
    QString question;
    if (run.request.exact)
        question = otherSelectorQuestion(run.result.sent, run.memory);
    else if (!run.request.otherSelector.isEmpty())
        question = run.request.otherSelector;
    else if (run.request.guardChannels && run.memoryRead)
        question = untouchedChannelsQuestion(run.memory, run.result.sent, run.request.spared);
    if (question.isEmpty()) return true;
    run.waiting = true;
    static_cast<ProgramOperation*>(m_current.data())->m_phase = Phase::Confirm;
    run.result.endedIn = Phase::Confirm;
    toCurrent([question](Operation* op) {
        auto* program = static_cast<ProgramOperation*>(op);
        emit program->phaseChanged(Phase::Confirm);
        emit program->question(question);
    });
    return false;
}

void Device::answerProgramQuestion(bool proceed)
{
    if (!m_program || !m_program->waiting) return;
    if (!proceed) return cancel();
    m_program->waiting = false;
    startProgramStep();
}

void Device::saveBackup()
{
    ProgramRun& run = *m_program;
    BackupOutcome& backup = run.result.backup;
    const bool folder = run.target.folder;
    const BackupFolder backups(run.target.path);
    backup.path = folder
                      ? backups.newFile(QDateTime::currentDateTime(), portName(), serialNumberOf(run.memory))
                      : run.target.path;
    const FileSaveResult saved = saveCoinData(backup.path, run.memory);
    backup.state = saved.saved ? BackupOutcome::State::Saved : BackupOutcome::State::SaveFailed;
    backup.error =
        saved.saved ? QString() : QStringLiteral("The backup could not be saved: %1").arg(saved.error);
    // Only the program's own folder is pruned, and never before a restore: the backup being
    // restored may be the oldest.
    if (saved.saved && run.request.backup.kind == BackupPolicy::Kind::Folder && !run.request.exact)
        backups.prune();
}

void Device::endProgramming(link::EndReason reason, const QString& message)
{
    ProgramRun& run = *m_program;
    run.result.reason = reason;
    run.result.message = message;
    run.next = run.steps.size();
    finishOperation();
}

} // namespace quarvel::session
