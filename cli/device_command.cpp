#include "device_command.h"

#include "console.h"
#include "exit_codes.h"
#include "history_recording.h"

#include "settings_text.h"
#include "text_columns.h"

#include "image/settings_model.h"
#include "session/reports.h"

#include <QDir>

#include <iostream>

namespace quarvel::cli {

namespace {

ProgressPrinter::Mode printerMode(const Invocation& invocation)
{
    if (invocation.quiet) return ProgressPrinter::Mode::Quiet;
    return stderrIsTerminal() ? ProgressPrinter::Mode::Bar : ProgressPrinter::Mode::Lines;
}

const char* commandNameOf(CommandKind kind)
{
    switch (kind) {
    case CommandKind::Program:
        return "program";
    case CommandKind::Restore:
        return "restore";
    case CommandKind::Teach:
        return "teach";
    case CommandKind::Check:
        return "check";
    default:
        return "read";
    }
}

} // namespace

DeviceCommand::DeviceCommand(const Invocation& invocation, QObject* parent)
    : QObject(parent), m_invocation(invocation), m_printer(std::cerr, printerMode(m_invocation))
{
    connect(&m_session.device(), &session::Device::operationStarted, this, &DeviceCommand::follow);
    connect(&m_session.device(), &session::Device::portLost, this, [this](const QString& message) {
        if (!m_interrupted) m_printer.line(message.toStdString());
    });
    if (m_invocation.trace) {
        connect(
            &m_session.device(), &session::Device::traffic, this,
            [this](const session::TrafficEntry& entry) { m_printer.line(session::formatTraffic(entry)); });
    }
}

void DeviceCommand::start()
{
    if (const auto code = check()) {
        finish(*code);
        return;
    }
    // A line check changes nothing: it is no attempt to record.
    if (m_invocation.command != CommandKind::Check) {
        auto recording = startHistory(m_invocation, this, [this](const QString& text) { say(text); });
        if (!recording.refused.isEmpty()) {
            say(recording.refused);
            finish(exit_code::kUsageOrFile);
            return;
        }
        m_history = std::move(recording.recorder);
        m_session.device().setHistory(m_history.get());
    }
    if (!open()) return;
    begin();
}

void DeviceCommand::follow(const session::Operation* operation)
{
    connect(operation, &session::Operation::transferStarted, this, [this] { m_printer.transferStarted(); });
    if (operation->kind() == session::Operation::Kind::Program) {
        connect(static_cast<const session::ProgramOperation*>(operation),
                &session::ProgramOperation::phaseChanged, this, [this](session::ProgramResult::Phase phase) {
                    using Phase = session::ProgramResult::Phase;
                    m_printer.setPhase(phase == Phase::Backup    ? "Backing up"
                                       : phase == Phase::Writing ? "Programming"
                                       : phase == Phase::Verify  ? "Verifying"
                                                                 : "");
                });
    }
    connect(operation, &session::Operation::reported, this,
            [this](const session::Report& report) { m_printer.report(report); });
    connect(operation, &session::Operation::transferFinished, this,
            [this](session::Outcome outcome) { m_printer.transferFinished(outcome); });
}

bool DeviceCommand::open()
{
    QString message;
    if (m_invocation.usesSimPort()) {
        session::VirtualSelectorOptions options;
        options.memoryFile = m_invocation.sim.memoryFile;
        options.faults = m_invocation.sim.faults;
        options.wireTime = m_invocation.sim.wireTime;
        options.recordType = m_invocation.sim.recordType;
        if (!m_session.bench().open(options, &message)) {
            error(message);
            finish(exit_code::kUsageOrFile);
            return false;
        }
        m_session.bench().setCoinInterval(m_invocation.sim.coinIntervalMs);
        return true;
    }
    if (!m_session.device().openPort(m_invocation.port, &message)) {
        error(message);
        finish(exit_code::kDevice);
        return false;
    }
    if (m_invocation.trace)
        m_printer.line(m_session.device().lowLatency()
                           ? "low latency: granted by the serial driver"
                           : "low latency: not granted (the driver has none, as a pty)");
    return true;
}

void DeviceCommand::interrupt()
{
    if (m_finished) return;
    m_interrupted = true;
    if (m_session.device().isBusy()) {
        // The operation ends in order (a sampling run still sends its end frame); its finished
        // signal then reports what was left undone.
        if (silentWhenInterrupted()) m_printer.silence();
        if (auto* running = m_session.device().current()) running->cancel();
        return;
    }
    // Outside a run (a file being checked) there is nothing to end in order.
    error(QStringLiteral("interrupted"));
    finish(exit_code::kInterrupted);
}

QString unprogrammableText(const QString& path, const std::vector<UnprogrammableCell>& cells, bool force)
{
    QString list;
    for (const auto& cell : cells)
        list += QStringLiteral("\n  cell %1 %2 would be sent as %3")
                    .arg(cell.address)
                    .arg(QString::fromStdString(printableCellText(cell.text)))
                    .arg(cell.sent);
    if (force)
        return QStringLiteral("note: sending cells that are not numbers 0..255, as --force asks:%1")
            .arg(list);
    return QStringLiteral("%1 has cells that are not numbers 0..255; nothing was sent (--force sends them as "
                          "listed):%2")
        .arg(path, list);
}

void DeviceCommand::refused(const session::Refusal& refusal)
{
    error(session::refusalText(refusal));
    finish(exit_code::kDevice);
}

std::optional<int> DeviceCommand::programmingFailure(const session::ProgramResult& result)
{
    using State = session::BackupOutcome::State;
    m_printer.setPhase({});
    if (result.succeeded()) return std::nullopt;
    const int written = result.cellsWritten();
    if (m_interrupted || result.reason == session::EndReason::Cancelled) {
        if (written == 0)
            say(QStringLiteral("Interrupted: nothing was programmed"));
        else if (!result.rangesWritten())
            say(QStringLiteral(
                    "Interrupted: the selector is partly programmed (%1 of %2 cells); program it again")
                    .arg(written)
                    .arg(session::ProgramResult::cellsInRanges()));
        else
            say(QStringLiteral("Interrupted: programmed %1 cells; verify not finished").arg(written));
        return exit_code::kInterrupted;
    }
    if (result.ranges.empty()) {
        sayFailed(result.message, QStringLiteral("the selector could not be read"),
                  QStringLiteral("nothing was programmed"));
        // A backup that could not be saved is the file's fault, not the selector's.
        return result.backup.state == State::SaveFailed ? exit_code::kUsageOrFile : exit_code::kDevice;
    }
    if (!result.rangesWritten()) {
        say(QStringLiteral("FAILED: %1%2")
                .arg(result.failureSummary(),
                     result.verifyAsked ? QStringLiteral("; verify skipped") : QString()));
        return exit_code::kDevice;
    }
    if (!result.verified) {
        sayFailed(QStringLiteral("programmed %1 cells, but reading them back failed: %2")
                      .arg(written)
                      .arg(result.message),
                  {});
        return exitCodeFor(result.reason);
    }
    std::cout << mismatchesText(result.mismatches) << std::flush;
    error(QStringLiteral("verification failed: %1 of %2 programmed cells differ")
              .arg(result.mismatches.size())
              .arg(written));
    return exit_code::kMismatch;
}

std::optional<int> DeviceCommand::checkBackupTarget(const QString& sourceFile)
{
    if (m_invocation.backup.isEmpty()) return std::nullopt;
    const session::BackupTarget target = session::resolveBackupTarget(
        {session::BackupPolicy::Kind::Target, m_invocation.backup, m_invocation.force}, sourceFile);
    if (!target.refusal) return std::nullopt;
    error(session::refusalText(*target.refusal));
    return exit_code::kUsageOrFile;
}

std::optional<int> FileProgrammingCommand::check()
{
    ImageFile file;
    if (const auto refused = loadProgrammable(filePath(), file, &m_fileSha256)) return refused;
    // A backup that could never be saved is refused before the selector is touched.
    if (const auto refused = checkBackupTarget(filePath())) return refused;
    m_file = std::move(file.image);
    return std::nullopt;
}

std::string mismatchesText(const std::vector<session::VerifyMismatch>& mismatches)
{
    std::string out = "address  field                   expected  actual\n";
    for (const auto& m : mismatches) {
        out += padRight(std::to_string(m.cell), 9) + padRight(m.field.toStdString(), 24) +
               padRight(std::to_string(m.expected), 10) + std::to_string(m.actual) + "\n";
    }
    return out;
}

int DeviceCommand::exitCodeFor(session::EndReason reason)
{
    switch (reason) {
    case session::EndReason::Succeeded:
        return exit_code::kSuccess;
    case session::EndReason::Cancelled:
        return exit_code::kInterrupted;
    default:
        return exit_code::kDevice;
    }
}

void DeviceCommand::finish(int exitCode)
{
    if (m_finished) return;
    m_finished = true;
    m_session.device().closePort();
    emit finished(exitCode);
}

void DeviceCommand::error(const QString& message)
{
    m_printer.line(
        QStringLiteral("quarvelctl %1: %2").arg(QLatin1String(commandName()), message).toStdString());
}

void DeviceCommand::note(const QString& message)
{
    if (m_printer.mode() != ProgressPrinter::Mode::Quiet) m_printer.line(message.toStdString());
}

void DeviceCommand::sayFailed(const QString& why, const QString& fallback, const QString& consequence)
{
    QString reason = why.trimmed().isEmpty() ? fallback : why.trimmed();
    if (reason.endsWith(QLatin1Char('.'))) reason.chop(1);
    say(QStringLiteral("FAILED: ") + reason +
        (consequence.isEmpty() ? QString() : QStringLiteral("; ") + consequence));
}

void DeviceCommand::say(const QString& message)
{
    m_printer.line(message.toStdString());
}

const char* DeviceCommand::commandName() const
{
    return commandNameOf(m_invocation.command);
}

std::optional<int> DeviceCommand::loadProgrammable(const QString& path, ImageFile& file, QString* sha256)
{
    session::CoinDataCheck check = session::checkCoinDataFile(path, true);
    if (!check) {
        error(session::refusalText(*check.refusal));
        return exit_code::kUsageOrFile;
    }
    file = std::move(*check.file);
    if (sha256) *sha256 = check.sha256;
    if (check.unprogrammable.empty()) return std::nullopt;
    const QString said = unprogrammableText(path, check.unprogrammable, m_invocation.force);
    if (!m_invocation.force) {
        error(said);
        return exit_code::kUsageOrFile;
    }
    note(said);
    return std::nullopt;
}

} // namespace quarvel::cli
