#include "gang_command.h"

#include "console.h"
#include "device_command.h"
#include "exit_codes.h"
#include "history_recording.h"
#include "progress_printer.h"

#include "session/backup.h"
#include "session/document_files.h"
#include "session/programming.h"
#include "session/reports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <iostream>

namespace quarvel::cli {

namespace {
// A terminal redrawn more often than this only flickers.
constexpr int kRedrawMs = 100;
} // namespace

GangCommand::GangCommand(const Invocation& invocation, QObject* parent)
    : QObject(parent), m_invocation(invocation)
{
    m_progressShown = !invocation.quiet && stderrIsTerminal();
    m_redraw.setSingleShot(true);
    connect(&m_redraw, &QTimer::timeout, this, &GangCommand::drawProgress);
}

GangCommand::~GangCommand() = default;

void GangCommand::error(const QString& message)
{
    clearProgress();
    std::cerr << "quarvelctl gang: " << message.toStdString() << std::endl;
}

// The history every unit is recorded in; the station never stops for the server.
std::optional<int> GangCommand::startRecording(session::GangJob& job)
{
    auto recording = startHistory(m_invocation, this, [this](const QString& text) {
        clearProgress();
        std::cerr << text.toStdString() << std::endl;
    });
    if (!recording.refused.isEmpty()) {
        error(recording.refused);
        return exit_code::kUsageOrFile;
    }
    m_history = std::move(recording.recorder);
    job.history = m_history.get();
    if (m_history) {
        // It says how many records wait for the server instead.
        connect(m_history.get(), &history::HistoryRecorder::waitingChanged, this, [this](int count) {
            if (count == 0 || m_invocation.quiet) return;
            clearProgress();
            std::cerr << history::waitingText(count).toStdString() << std::endl;
        });
    }
    return std::nullopt;
}

std::optional<int> GangCommand::prepare(session::GangJob& job)
{
    const QString path = m_invocation.files.constFirst();
    session::CoinDataCheck check = session::checkCoinDataFile(path, true);
    if (!check) {
        error(session::refusalText(*check.refusal));
        return exit_code::kUsageOrFile;
    }
    if (!check.unprogrammable.empty()) {
        const QString said = unprogrammableText(path, check.unprogrammable, m_invocation.force);
        if (!m_invocation.force) {
            error(said);
            return exit_code::kUsageOrFile;
        }
        if (!m_invocation.quiet) std::cerr << said.toStdString() << std::endl;
    }
    job.image = check.file->image;
    job.coinFile = QFileInfo(path).absoluteFilePath();
    job.coinSha256 = check.sha256;
    job.station = m_invocation.station;
    if (const auto refused = startRecording(job)) return refused;
    job.verify = m_invocation.verify;
    job.wait = m_invocation.wait;
    job.backupDir = QDir::cleanPath(m_invocation.backupDir); // "ro/" is "ro", never "ro//"
    if (!job.backupDir.isEmpty()) {
        // Every unit would be read whole before its backup failed: refused before the first.
        const session::BackupTarget target = session::resolveBackupTarget(
            {session::BackupPolicy::Kind::Target, job.backupDir + QLatin1Char('/'), false}, path);
        if (target.refusal) {
            error(session::refusalText(*target.refusal));
            return exit_code::kUsageOrFile;
        }
    }
    if (!m_invocation.logFile.isEmpty()) {
        // The hash of the file as the check read it names the file as it was programmed.
        QString why;
        if (!m_log.open(m_invocation.logFile, path, QByteArray::fromHex(check.sha256.toLatin1()), &why)) {
            error(why);
            return exit_code::kUsageOrFile;
        }
        for (const QString& port : m_invocation.ports) {
            const QSerialPortInfo info(port);
            m_adapters.insert(port, {info.description(), info.serialNumber()});
        }
    }
    return std::nullopt;
}

void GangCommand::start()
{
    session::GangJob job;
    if (const auto refused = prepare(job)) {
        emit finished(*refused);
        return;
    }
    m_run = std::make_unique<session::GangRun>(m_invocation.ports, job);
    for (int i = 0; i < m_run->size(); ++i) {
        m_progress << QStringLiteral("%1  starting").arg(m_invocation.ports.at(i));
        if (!m_invocation.trace) continue;
        const QString port = m_invocation.ports.at(i);
        session::Device& s = m_run->station(i).device();
        connect(&s, &session::Device::traffic, this, [this, port](const session::TrafficEntry& entry) {
            clearProgress();
            std::cerr << port.toStdString() << "  " << session::formatTraffic(entry) << '\n';
        });
        connect(&s, &session::Device::portChanged, this, [this, port, &s] {
            // The virtual selector has no serial driver to ask.
            if (!s.isOpen() || port == QLatin1String("sim")) return;
            clearProgress();
            std::cerr << port.toStdString() << "  low latency: "
                      << (s.lowLatency() ? "granted by the serial driver"
                                         : "not granted (the driver has none, as a pty)")
                      << std::endl;
        });
    }
    connect(m_run.get(), &session::GangRun::unitFinished, this, &GangCommand::unitFinished);
    connect(m_run.get(), &session::GangRun::finished, this, &GangCommand::allDone);
    connect(m_run.get(), &session::GangRun::portLost, this, &GangCommand::portLost);
    connect(m_run.get(), &session::GangRun::progress, this, [this](int i, const QString& text) {
        const QString line = QStringLiteral("%1  %2").arg(m_invocation.ports.at(i), text);
        if (!m_progressShown && !m_invocation.quiet) {
            // Without a terminal to redraw: a line when the phase changes, not every figure.
            const std::string now = line.toStdString();
            const std::string before = m_progress[i].toStdString();
            if (progressPhase(now) != progressPhase(before)) std::cerr << progressPhase(now) << std::endl;
        }
        m_progress[i] = line;
        if (m_progressShown && !m_redraw.isActive()) m_redraw.start(kRedrawMs);
    });
    m_run->start();
}

void GangCommand::interrupt()
{
    if (m_run) m_run->interrupt();
}

void GangCommand::unitFinished(const session::GangUnitResult& result)
{
    clearProgress();
    // The selector's own number, as its backup is named: the port only says where it sat.
    const QString serial =
        result.serialNo >= 0 ? session::serialNumberTag(result.serialNo) : QStringLiteral("sn unknown");
    std::cout << (result.passed ? "PASS " : "FAIL ") << result.port.toStdString() << "  "
              << serial.toStdString() << "  " << result.text.toStdString() << std::endl;
    if (m_log.isOpen()) {
        const auto adapter = m_adapters.value(result.port);
        if (!m_log.append(result, adapter.first, adapter.second)) {
            // A unit missing from the log is a failed run, however its selector went.
            error(QStringLiteral("the log could not be written"));
            m_logFailed = true;
        }
    }
    if (m_progressShown && !m_redraw.isActive()) m_redraw.start(kRedrawMs);
}

void GangCommand::portLost(const QString& port, const QString& message)
{
    clearProgress();
    Q_UNUSED(message);
    std::cout << "LOST " << port.toStdString() << "  port lost; waiting for it to come back" << std::endl;
    if (m_log.isOpen()) {
        const auto adapter = m_adapters.value(port);
        if (!m_log.appendPortLost(port, QDateTime::currentDateTime(), adapter.first, adapter.second)) {
            error(QStringLiteral("the log could not be written"));
            m_logFailed = true;
        }
    }
    if (m_progressShown && !m_redraw.isActive()) m_redraw.start(kRedrawMs);
}

void GangCommand::allDone()
{
    m_redraw.stop();
    clearProgress();
    m_progressShown = false;
    const int failed = m_run->failed();
    const int lost = m_run->portsLost();
    std::cout << m_run->summary().toStdString() << std::endl;
    // A port that went away is a device failure even when it came back and every unit passed.
    int code = failed > 0 || lost > 0 || m_logFailed ? exit_code::kDevice : exit_code::kSuccess;
    // Without station mode an interrupt cuts the run short; in station mode it is the way out.
    if (m_run->wasInterrupted() && !m_invocation.wait) code = exit_code::kInterrupted;
    emit finished(code);
}

void GangCommand::clearProgress()
{
    if (m_linesDrawn == 0) return;
    std::cerr << "\x1b[" << m_linesDrawn << "F\x1b[J" << std::flush;
    m_linesDrawn = 0;
}

void GangCommand::drawProgress()
{
    if (!m_progressShown) return;
    clearProgress();
    for (const QString& line : std::as_const(m_progress))
        std::cerr << line.left(100).toStdString() << '\n';
    std::cerr << std::flush;
    m_linesDrawn = static_cast<int>(m_progress.size());
}

} // namespace quarvel::cli
