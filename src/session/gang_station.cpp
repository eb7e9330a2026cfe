#include "session/gang_station.h"

#include "session/backup.h"

#include "image/cell_byte.h"
#include "link/program_transfer.h"
#include "session/document_files.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

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
    connect(&m_device, &Device::operationStarted, this, &GangStation::follow);
    connect(&m_device, &Device::portLost, this, &GangStation::portWentAway);
    // Each unit is an attempt of its own; the reads that find the next one are not.
    m_device.setHistory(job.history, {job.station, false});
    m_clock.start();
}

void GangStation::start()
{
    QString error;
    const bool opened = m_opener(m_device, &error);
    if (m_job.wait) {
        // A station starts empty-handed: whatever answers first is the first selector.
        m_presence.reset(true, m_clock.elapsed());
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
    if (!m_device.isBusy())
        finish();
    else if (Operation* running = m_device.current())
        running->cancel();
}

void GangStation::follow(Operation* operation)
{
    rememberMemory(operation);
    m_phaseBase = -1;
    if (auto* read = qobject_cast<ReadOperation*>(operation)) {
        // Station mode's one read of a unit: its backup when one is kept.
        if (m_state != State::Identifying) return;
        const QString phase =
            m_job.backupDir.isEmpty() ? QStringLiteral("reading") : QStringLiteral("backing up");
        connect(read, &Operation::reported, this, [this, phase](const link::Report& report) {
            const auto* p = std::get_if<link::SetProgress>(&report);
            if (!p || !p->maximum || *p->maximum == 0) return;
            emit progress(QStringLiteral("%1 %2%").arg(phase).arg(p->value * 100 / *p->maximum));
        });
        return;
    }
    if (operation->kind() != Operation::Kind::Program) return;
    auto* program = static_cast<ProgramOperation*>(operation);
    connect(program, &ProgramOperation::phaseChanged, this, [this] { m_phaseBase = -1; });
    connect(program, &Operation::reported, this, [this, program](const link::Report& report) {
        const auto* p = std::get_if<link::SetProgress>(&report);
        if (!p || !p->maximum || *p->maximum == 0) return;
        // Each phase counts its own cells, so the figure agrees with what a failure will say.
        using Phase = ProgramResult::Phase;
        const Phase phase = program->phase();
        if (phase != Phase::Backup && phase != Phase::Writing && phase != Phase::Verify) return;
        if (m_phaseBase < 0) m_phaseBase = p->value;
        const int done = phase == Phase::Writing ? program->cellsProgrammed() : p->value - m_phaseBase;
        const int all =
            phase == Phase::Writing ? ProgramResult::cellsInRanges() : ParameterImage::kSelectorCells;
        const char* name = phase == Phase::Backup   ? "backing up"
                           : phase == Phase::Verify ? "verifying"
                                                    : "programming";
        emit progress(
            QStringLiteral("%1 %2%").arg(QLatin1String(name)).arg(std::clamp(done, 0, all) * 100 / all));
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
    request.sourceFile = m_job.coinFile;
    request.sourceSha256 = m_job.coinSha256;
    request.historyOperation = QStringLiteral("station");
    if (m_unitRead) {
        // Station mode has read the whole selector to know it: that read names it and is its
        // backup, so the selector is not read a second time.
        const ParameterImage memory = *std::exchange(m_unitRead, std::nullopt);
        request.memoryBefore = memory;
        m_unit.serialNo = serialNumberOf(memory);
        if (!saveBackup(memory)) return;
    } else if (!m_job.backupDir.isEmpty()) {
        // Named as the desktop program names its backups; a production line keeps every one.
        request.backup = {BackupPolicy::Kind::Target, m_job.backupDir + QLatin1Char('/'), false};
    } else {
        request.identify = true;
    }
    auto start = m_device.program(request);
    if (!start) return fail(start.refusalText());
    connect(start.operation, &ProgramOperation::finished, this, &GangStation::programmed);
}

bool GangStation::saveBackup(const ParameterImage& memory)
{
    if (m_job.backupDir.isEmpty()) return true;
    const QString path = BackupFolder(m_job.backupDir)
                             .newFile(QDateTime::currentDateTime(), m_device.portName(), m_unit.serialNo);
    const FileSaveResult saved = saveCoinData(path, memory);
    if (!saved.saved) {
        fail(QStringLiteral("The backup could not be saved: %1").arg(saved.error));
        return false;
    }
    m_unit.backupFile = path;
    return true;
}

void GangStation::programmed(const ProgramResult& result)
{
    m_unit.timeOuts = result.faults.count(link::ExchangeFault::TimeOut);
    m_unit.badChecksums = result.faults.count(link::ExchangeFault::BadChecksum);
    m_unit.cellsProgrammed = result.cellsWritten();
    m_unit.verified = result.verified && result.mismatches.empty();
    if (result.backup.state == BackupOutcome::State::Saved) m_unit.backupFile = result.backup.path;
    if (result.serialNo >= 0) m_unit.serialNo = result.serialNo;
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
    m_lastPassed = m_unit.passed;
    // The selector just done stays on the port until it is taken off.
    m_presence.reset(false, m_clock.elapsed());
    m_state = State::Polling;
    emit progress(QStringLiteral("waiting for the next selector"));
    schedulePoll();
}

void GangStation::finish()
{
    if (m_state == State::Done) return;
    m_state = State::Done;
    m_pollTimer.stop();
    m_device.closePort();
    emit done();
}

} // namespace quarvel::session
