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

// Cells of the programmed ranges whose byte read back is not the byte sent.
int differingCells(const ParameterImage& sent, const ParameterImage& readBack)
{
    int differ = 0;
    for (const auto& range : link::kProgramRanges) {
        for (int cell = range.first; cell <= range.last; ++cell)
            differ += cellByte(sent.text(cell)) != cellByte(readBack.text(cell)) ? 1 : 0;
    }
    return differ;
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
    if (operation->kind() == Operation::Kind::Check) return;
    rememberMemory(operation);
    const char* phase = m_state == State::BackingUp     ? "backing up"
                        : m_state == State::Verifying   ? "verifying"
                        : m_state == State::Identifying ? "reading"
                                                        : "programming";
    connect(operation, &Operation::reported, this, [this, phase](const link::Report& report) {
        if (const auto* p = std::get_if<link::SetProgress>(&report); p && p->value > 0)
            emit progress(QStringLiteral("%1 cell %2").arg(QLatin1String(phase)).arg(p->value));
    });
}

void GangStation::count(const std::array<int, 4>& faults)
{
    m_unit.timeOuts += faults[static_cast<std::size_t>(link::ExchangeFault::TimeOut)];
    m_unit.badChecksums += faults[static_cast<std::size_t>(link::ExchangeFault::BadChecksum)];
}

void GangStation::beginUnit()
{
    m_unit = {};
    m_unit.port = m_port;
    m_unitClock.start();
    if (m_job.backupDir.isEmpty()) {
        program();
        return;
    }
    m_state = State::BackingUp;
    auto start = m_session.readSelector();
    if (!start) return fail(start.refusalText());
    connect(start.operation, &ReadOperation::finished, this, &GangStation::backedUp);
}

void GangStation::backedUp(const ReadResult& result)
{
    count(result.faults);
    if (m_interrupted) return fail(QStringLiteral("interrupted; nothing programmed"));
    if (!result.succeeded())
        return fail(QStringLiteral("backup read failed (%1); nothing programmed").arg(result.message));
    // Named as the desktop program names its backups; a production line keeps every one.
    const QString path = BackupFolder(m_job.backupDir).newFile(QDateTime::currentDateTime(), m_port);
    const FileSaveResult saved = saveCoinData(path, m_session.image());
    if (!saved.saved) return fail(QStringLiteral("%1; nothing programmed").arg(saved.error));
    m_unit.backupFile = path;
    program();
}

void GangStation::program()
{
    m_state = State::Programming;
    m_session.image() = m_job.image;
    auto start = m_session.programSelector();
    if (!start) return fail(start.refusalText());
    m_sent = m_session.image();
    connect(start.operation, &ProgramOperation::finished, this, &GangStation::programmed);
}

void GangStation::programmed(const ProgramResult& result)
{
    for (const RangeResult& range : result.ranges)
        count(range.faults);
    m_unit.cellsProgrammed = result.cellsWritten();
    const int all = ProgramResult::cellsInRanges();
    if (!result.succeeded()) {
        if (!m_interrupted) return fail(result.failureSummary());
        return fail(m_unit.cellsProgrammed == 0
                        ? QStringLiteral("interrupted; nothing programmed")
                        : QStringLiteral("interrupted; partly programmed (%1 of %2 cells)")
                              .arg(m_unit.cellsProgrammed)
                              .arg(all));
    }
    if (m_job.verify && m_interrupted)
        return fail(QStringLiteral("%1 cells programmed; interrupted before verifying").arg(all));
    if (!m_job.verify) {
        m_unit.passed = true;
        m_unit.text = QStringLiteral("%1 cells, %2").arg(all).arg(seconds(m_unitClock.elapsed()));
        return endUnit();
    }
    m_state = State::Verifying;
    auto start = m_session.readSelector();
    if (!start) return fail(start.refusalText());
    connect(start.operation, &ReadOperation::finished, this, &GangStation::verified);
}

void GangStation::verified(const ReadResult& result)
{
    count(result.faults);
    const int all = ProgramResult::cellsInRanges();
    if (!result.succeeded())
        return fail(QStringLiteral("%1 cells programmed; reading back failed (%2)")
                        .arg(all)
                        .arg(m_interrupted ? QStringLiteral("interrupted") : result.message));
    if (const int differ = differingCells(m_sent, m_session.image()))
        return fail(QStringLiteral("%1 cells programmed; %2 differ on reading back").arg(all).arg(differ));
    m_unit.passed = true;
    m_unit.verified = true;
    m_unit.text = QStringLiteral("%1 cells, verified, %2").arg(all).arg(seconds(m_unitClock.elapsed()));
    endUnit();
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
