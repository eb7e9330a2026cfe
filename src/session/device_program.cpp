// The one programming operation on a Device: the plan decides, this carries out what it asks
// (a link run, the backup file, the operation's signals) and tells it what happened.
#include "session/device_program.h"

#include "link/program_transfer.h"
#include "link/qt/serial_link.h"
#include "link/read_transfer.h"
#include "session/backup.h"
#include "session/document_files.h"

#include <QDateTime>

namespace quarvel::session {

void ProgramOperation::proceed()
{
    if (!hasEnded() && m_device.current() == this)
        m_device.feedProgram([](ProgramPlan& p) { return p.answer(true); });
}

int ProgramOperation::cellsProgrammed() const
{
    return m_device.current() == this ? m_device.cellsProgrammed() : 0;
}

Started<ProgramOperation> Device::program(const ProgramRequest& request)
{
    if (auto refusal = refusalToBegin()) return {nullptr, refusal};
    BackupTarget target;
    if (request.backup.kind != BackupPolicy::Kind::None) {
        target = resolveBackupTarget(request.backup, request.sourceFile);
        if (target.refusal) return {nullptr, target.refusal};
    }
    // Whoever holds a document puts it in the request; without an image nothing can be sent.
    Q_ASSERT(request.image);
    if (!request.image) return {nullptr, Refusal{Refusal::Kind::Busy, 0, {}}};
    m_program = std::make_unique<ProgramRun>(ProgramPlan(request, target, ParameterImage()));
    m_program->facts.operation = !request.historyOperation.isEmpty() ? request.historyOperation
                                 : request.exact                     ? QStringLiteral("restore")
                                                                     : QStringLiteral("program");
    m_program->facts.coinFile = request.sourceFile;
    m_program->facts.coinSha256 = request.sourceSha256;
    m_program->facts.before = request.memoryBefore;
    // The plan begins with the line probe: a read, the one job the run starts with.
    const ProgramPlan::Actions first = m_program->plan.start();
    const auto* probe = first.size() == 1 ? std::get_if<ProgramPlan::Read>(&first.front()) : nullptr;
    Q_ASSERT(probe);
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    if (probe)
        jobs.push_back(std::make_unique<link::ReadTransfer>(probe->first, probe->last, probe->failureText));
    auto started = begin(new ProgramOperation(*this), std::move(jobs));
    if (!started) m_program.reset();
    return started;
}

int Device::cellsProgrammed() const
{
    return m_current && m_program ? m_program->plan.cellsProgrammed() : 0;
}

ProgramResult Device::finishProgram()
{
    if (!m_program) return {};
    ProgramResult result = m_program->result;
    m_program.reset();
    return result;
}

void Device::feedProgram(const std::function<ProgramPlan::Actions(ProgramPlan&)>& event)
{
    if (!m_program || !m_current) return;
    for (const auto& action : event(m_program->plan)) {
        applyProgram(action);
        // A listener may have ended the run meanwhile (a cancel as it heard of a phase).
        if (!m_program) return;
    }
}

void Device::applyProgram(const ProgramPlan::Action& action)
{
    ProgramRun& run = *m_program;
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    if (const auto* read = std::get_if<ProgramPlan::Read>(&action)) {
        jobs.push_back(std::make_unique<link::ReadTransfer>(read->first, read->last, read->failureText));
    } else if (const auto* write = std::get_if<ProgramPlan::Write>(&action)) {
        // From the plan's copy: an edit made meanwhile must not reach the selector half-way.
        jobs.push_back(std::make_unique<link::ProgramTransfer>(run.plan.sent(), write->first, write->last));
    } else if (std::holds_alternative<ProgramPlan::StopTransfer>(action)) {
        m_link->cancel();
    } else if (const auto* save = std::get_if<ProgramPlan::SaveBackup>(&action)) {
        const BackupFolder backups(save->path);
        const QString path = save->folder ? backups.newFile(QDateTime::currentDateTime(), portName(),
                                                            serialNumberOf(save->memory))
                                          : save->path;
        const FileSaveResult saved = saveCoinData(path, save->memory);
        if (saved.saved && save->prune) backups.prune();
        const auto failure = saved.saved ? std::nullopt : std::optional<QString>(saved.error);
        feedProgram([&](ProgramPlan& p) { return p.backupSaved(path, failure); });
    } else if (const auto* phase = std::get_if<ProgramPlan::PhaseChanged>(&action)) {
        static_cast<ProgramOperation*>(m_current.data())->m_phase = phase->phase;
        toCurrent([phase = phase->phase](Operation* op) {
            emit static_cast<ProgramOperation*>(op)->phaseChanged(phase);
        });
        feedProgram([](ProgramPlan& p) { return p.phaseHeard(); });
    } else if (const auto* ask = std::get_if<ProgramPlan::Ask>(&action)) {
        toCurrent([question = ask->question](Operation* op) {
            emit static_cast<ProgramOperation*>(op)->question(question);
        });
    } else if (const auto* progress = std::get_if<ProgramPlan::Progress>(&action)) {
        const link::Report overall = link::SetProgress{progress->value, progress->total};
        toCurrent([overall](Operation* op) { emit op->reported(overall); });
    } else if (const auto* end = std::get_if<ProgramPlan::Finished>(&action)) {
        if (end->seen) m_seen = end->seen;
        run.result = end->result;
        finishOperation();
    }
    if (jobs.empty()) return;
    run.last = {};
    if (m_link->run(std::move(jobs))) return;
    // The port went between two steps: the step never began.
    const QString lost = m_lostMessage.isEmpty() ? link::SerialLink::noPortText() : m_lostMessage;
    feedProgram([&](ProgramPlan& p) { return p.portLost(lost); });
    feedProgram([](ProgramPlan& p) { return p.transferEnded({}); });
}

} // namespace quarvel::session
