#include "simulate_command.h"

#include "exit_codes.h"

#include "session/selector_session.h"
#include "sim/qt/coin_feeder.h"
#include "sim/qt/virtual_port.h"

#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

#include <iostream>

#ifdef Q_OS_UNIX
#include "sim/qt/pty_bridge.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

namespace quarvel::cli {

namespace {

#ifdef Q_OS_UNIX
// How long a stdio line keeps serving after its input has ended.
constexpr int kStdioDrainMs = 250;

// Writes all of bytes to a blocking descriptor; false once the reader has gone.
bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    auto left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}
#else
// Windows has no pseudo-terminals, and its standard input is no socket a notifier could watch.
constexpr char kNoPty[] = "--pty needs a POSIX system; on Windows use --port sim with read or program";
constexpr char kNoStdio[] = "serving on standard input and output needs a POSIX system; on Windows use "
                            "--port sim with read or program";
#endif

} // namespace

SimulateCommand::SimulateCommand(const Invocation& invocation, QObject* parent)
    : QObject(parent), m_invocation(invocation)
{}

SimulateCommand::~SimulateCommand() = default;

void SimulateCommand::start()
{
#ifdef Q_OS_UNIX
    QString message;
    if (!m_invocation.sim.memoryFile.isEmpty() &&
        !session::loadMemoryFile(m_model, m_invocation.sim.memoryFile, &message)) {
        fail(exit_code::kUsageOrFile, message);
        return;
    }
    m_model.setFaultPlan(m_invocation.sim.faults);
    m_model.setRecordType(m_invocation.sim.recordType);
    if (m_invocation.sim.swaps) m_model.setStationSwaps(*m_invocation.sim.swaps);
    m_model.setHalfGapMs(m_invocation.halfGapMs);
    m_model.setRepeatedAnswer(m_invocation.repeatAnswer);
    if (!(m_invocation.pty ? startPty() : startStdio())) return;
    watchStdin();
#else
    fail(exit_code::kUsageOrFile, QLatin1String(m_invocation.pty ? kNoPty : kNoStdio));
#endif
}

#ifdef Q_OS_UNIX

bool SimulateCommand::startPty()
{
    m_bridge = std::make_unique<sim::PtyBridge>(m_model);
    m_bridge->setWireTime(m_invocation.sim.wireTime);
    QString message;
    if (!m_bridge->open(&message)) {
        fail(exit_code::kDevice, message);
        return false;
    }
    // Said as the options made it go: a swap plan takes it off the port, a fault plan makes it vanish.
    const bool faults = !m_invocation.sim.faults.isEmpty();
    const bool swaps = m_invocation.sim.swaps.has_value();
    const char* gone = !swaps    ? "the selector is gone, as the fault plan says"
                       : !faults ? "the selector is off the port, as --swap says"
                                 : "the selector is gone, as --fault or --swap says";
    connect(m_bridge.get(), &sim::PtyBridge::gone, this,
            [gone] { std::cerr << "quarvelctl simulate: " << gone << std::endl; });
    m_feeder = std::make_unique<sim::CoinFeeder>(*m_bridge);
    if (const int ms = m_invocation.sim.coinIntervalMs; ms >= 0) m_feeder->setPace(ms, ms);
    connect(m_feeder.get(), &sim::CoinFeeder::coinInserted, this, [](int coinType, int remaining) {
        std::cerr << "coin " << coinType + 1 << " inserted";
        if (remaining > 0) std::cerr << " (" << remaining << " to come)";
        std::cerr << std::endl;
    });
    // The only content of the first line, so that a script can take it as it is.
    std::cout << m_bridge->slavePath().toStdString() << std::endl;
    return true;
}

bool SimulateCommand::startStdio()
{
    // Standard output is the line: a reader that goes away must end the run, not kill it.
    std::signal(SIGPIPE, SIG_IGN);
    m_port = std::make_unique<sim::VirtualPort>(m_model);
    m_port->setWireTime(m_invocation.sim.wireTime);
    if (!m_port->open(QIODevice::ReadWrite)) {
        fail(exit_code::kDevice, m_port->errorString());
        return false;
    }
    connect(m_port.get(), &QIODevice::readyRead, this, &SimulateCommand::writeReplies);
    return true;
}

void SimulateCommand::watchStdin()
{
    // A background job on a terminal would be stopped by the first read (SIGTTIN); it serves
    // until a signal instead. The stdio line needs its input all the same.
    m_stdinIsTerminal = isatty(STDIN_FILENO) != 0;
    if (m_invocation.pty && m_stdinIsTerminal && tcgetpgrp(STDIN_FILENO) != getpgrp()) return;
    m_stdin = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_stdin, &QSocketNotifier::activated, this, &SimulateCommand::readStdin);
}

void SimulateCommand::readStdin()
{
    std::array<char, 4096> buffer{};
    const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (got <= 0) {
        m_stdin->setEnabled(false);
        // Replies to the last requests on a stdio line are still on their way: let them out.
        if (m_port)
            QTimer::singleShot(kStdioDrainMs, this, &SimulateCommand::stop);
        else if (m_stdinIsTerminal)
            stop(); // Ctrl-D
        // From a pipe or a file (a script's background job) serving goes on until a signal.
        return;
    }
    if (m_port)
        m_port->write(buffer.data(), got);
    else
        takeCommands(QByteArray(buffer.data(), static_cast<qsizetype>(got)));
}

void SimulateCommand::takeCommands(const QByteArray& bytes)
{
    // A line without its line feed waits for the rest; an endless one is not a command.
    constexpr qsizetype kMaxLine = 256;
    m_commandLine += bytes;
    for (qsizetype end = m_commandLine.indexOf('\n'); end >= 0; end = m_commandLine.indexOf('\n')) {
        runCommand(QString::fromUtf8(m_commandLine.left(end)).trimmed());
        m_commandLine.remove(0, end + 1);
    }
    if (m_commandLine.size() > kMaxLine) m_commandLine.clear();
}

void SimulateCommand::runCommand(const QString& line)
{
    if (line.isEmpty()) return;
    static const QRegularExpression command(
        QStringLiteral(
            "^coin\\s+(\\d{1,2})(?:\\s+x(\\d{1,4}))?(\\s+irregular)?(?:\\s+every\\s+(\\d{1,5})\\s*ms)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = command.match(line);
    const int channel = match.hasMatch() ? match.captured(1).toInt() : 0;
    const int count = match.captured(2).isEmpty() ? 1 : match.captured(2).toInt();
    if (channel < 1 || channel > 12 || count < 1) {
        std::cerr << "quarvelctl simulate: not a coin command: '" << line.toStdString()
                  << "' (coin 3, coin 3 x12, coin 5 irregular, coin 3 x12 every 30ms; coins 1 to 12)"
                  << std::endl;
        return;
    }
    // "every 30ms": a coin feeder's pace instead of a hand's; "every 0ms" sends them back to back.
    if (!match.captured(4).isEmpty()) m_feeder->setPace(match.captured(4).toInt(), match.captured(4).toInt());
    m_feeder->feed(channel - 1, count, !match.captured(3).isEmpty());
}

void SimulateCommand::writeReplies()
{
    if (!m_port || m_finished) return;
    const QByteArray bytes = m_port->readAll();
    if (!bytes.isEmpty() && !writeAll(STDOUT_FILENO, bytes)) stop();
}
#endif

void SimulateCommand::interrupt()
{
    stop();
}

void SimulateCommand::stop()
{
    if (m_finished) return;
    m_finished = true;
    if (m_stdin) m_stdin->setEnabled(false);
#ifdef Q_OS_UNIX
    if (m_feeder) m_feeder->stop();
    if (m_bridge) m_bridge->close();
#endif
    if (m_port) m_port->close();
    // With the stdio line, standard output carries the selector's bytes and nothing else.
    std::ostream& out = m_invocation.pty ? std::cout : std::cerr;
    out << m_model.summary() << std::endl;
    emit finished(exit_code::kSuccess);
}

void SimulateCommand::fail(int exitCode, const QString& message)
{
    m_finished = true;
    std::cerr << "quarvelctl simulate: " << message.toStdString() << std::endl;
    emit finished(exitCode);
}

} // namespace quarvel::cli
