#include "session/gang_station.h"

#include "session/backup.h"

#include "image/cell_byte.h"
#include "link/program_transfer.h"
#include "session/document_files.h"

#include <QDir>
#include <QFileInfo>

namespace quarvel::session {

namespace {

QString seconds(qint64 ms)
{
    return QStringLiteral("%1 s").arg(static_cast<double>(ms) / 1000.0, 0, 'f', 2);
}

} // namespace

GangStation::GangStation(const QString& port, const GangJob& job, PortOpener opener, QObject* parent)
    : QObject(parent), m_port(port), m_job(job), m_opener(std::move(opener)), m_presence(job.absence)
{
    m_pollTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &GangStation::poll);
    connect(&m_session, &SelectorSession::operationStarted, this, &GangStation::follow);
    connect(&m_session, &SelectorSession::portLost, this, &GangStation::portWentAway);
    m_clock.start();
}

void GangStation::start()
{
    QString error;
    const bool opened = m_opener(m_session, &error);
    if (m_job.wait) {
        // A station starts empty-handed: whatever answers first is the first selector.
        m_presence.reset(true);
        if (!opened) emit progress(error);
        m_state = State::Polling;
        poll();
        return;
    }
    if (!opened) {
        m_unit = {};
        m_unit.port = m_port;
        m_unitClock.start();
        fail(error);
        return;
    }
    beginUnit();
}

void GangStation::interrupt()
{
    if (m_state == State::Done || m_interrupted) return;
    m_interrupted = true;
    m_pollTimer.stop();
    // A running operation ends in order and its handler reports the unit; otherwise nothing runs.
    if (m_session.isBusy())
        m_session.cancel();
    else
        finish();
}

void GangStation::follow(Operation* operation)
{
    rememberMemory(operation);
    if (operation->kind() != Operation::Kind::Program) return;
    auto* program = static_cast<ProgramOperation*>(operation);
    connect(program, &Operation::reported, this, [this, program](const link::Report& report) {
        const auto* p = std::get_if<link::SetProgress>(&report);
        if (!p || !p->maximum || *p->maximum == 0) return;
        const char* phase = program->phase() == ProgramResult::Phase::Backup   ? "backing up"
                            : program->phase() == ProgramResult::Phase::Verify ? "verifying"
                                                                               : "programming";
        emit progress(QStringLiteral("%1 %2%").arg(QLatin1String(phase)).arg(p->value * 100 / *p->maximum));
    });
}

void GangStation::beginUnit()
{
    m_unit = {};
    m_unit.port = m_port;
    m_unitClock.start();
    m_state = State::Programming;
    ProgramRequest request;
    request.image = m_job.image;
    request.verify = m_job.verify;
    // Named as the desktop program names its backups; a production line keeps every one.
    if (!m_job.backupDir.isEmpty())
        request.backup = {BackupPolicy::Kind::Target, m_job.backupDir + QLatin1Char('/'), false};
    auto start = m_session.program(request);
    if (!start) return fail(start.refusalText());
    connect(start.operation, &ProgramOperation::finished, this, &GangStation::programmed);
}

void GangStation::programmed(const ProgramResult& result)
{
    m_unit.timeOuts = result.faults[static_cast<std::size_t>(link::ExchangeFault::TimeOut)];
    m_unit.badChecksums = result.faults[static_cast<std::size_t>(link::ExchangeFault::BadChecksum)];
    m_unit.cellsProgrammed = result.cellsWritten();
    m_unit.verified = result.verified && result.mismatches.empty();
    if (result.backup.state == BackupOutcome::State::Saved) m_unit.backupFile = result.backup.path;
    if (result.succeeded()) {
        m_unit.passed = true;
        m_unit.text = QStringLiteral("%1 cells, %2%3")
                          .arg(m_unit.cellsProgrammed)
                          .arg(m_unit.verified ? QStringLiteral("verified, ") : QString())
                          .arg(seconds(m_unitClock.elapsed()));
        return endUnit();
    }
    const int all = ProgramResult::cellsInRanges();
    if (m_interrupted && result.reason == link::EndReason::Cancelled) {
        if (m_unit.cellsProgrammed == 0) return fail(QStringLiteral("interrupted; nothing programmed"));
        if (!result.rangesWritten())
            return fail(QStringLiteral("interrupted; partly programmed (%1 of %2 cells)")
                            .arg(m_unit.cellsProgrammed)
                            .arg(all));
        return fail(QStringLiteral("%1 cells programmed; interrupted before verifying").arg(all));
    }
    fail(result.summary());
}

void GangStation::fail(const QString& text)
{
    m_unit.passed = false;
    m_unit.interrupted = m_interrupted;
    m_unit.text = text;
    endUnit();
}

void GangStation::endUnit()
{
    m_unit.durationMs = m_unitClock.elapsed();
    m_unit.finishedAt = QDateTime::currentDateTime();
    emit unitFinished(m_unit);
    if (!m_job.wait || m_interrupted) return finish();
    // The selector just done stays on the port until it is taken off.
    m_presence.reset(false);
    m_state = State::Polling;
    emit progress(QStringLiteral("waiting for the next selector"));
    schedulePoll();
}

void GangStation::finish()
{
    if (m_state == State::Done) return;
    m_state = State::Done;
    m_pollTimer.stop();
    m_session.closePort();
    emit done();
}

} // namespace quarvel::session
