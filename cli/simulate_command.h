#pragma once

#include "command_line.h"

#include "sim/virtual_selector.h"

#include <QByteArray>
#include <QObject>

#include <memory>

class QSocketNotifier;

namespace quarvel::sim {
class CoinFeeder;
class PtyBridge;
class VirtualPort;
} // namespace quarvel::sim

namespace quarvel::cli {

// simulate: serves the virtual selector on a pseudo-terminal (--pty) or on standard input and
// output until the process is asked to stop; then prints one line summing up the frames
// received. With --pty, standard input takes coin commands ("coin 3 x12"); its end stops
// serving only when it is a terminal (Ctrl-D), so a background job in a script serves on. Emits finished()
// once with the exit code. Unix only: on Windows it refuses with a usage error.
class SimulateCommand final : public QObject
{
    Q_OBJECT

public:
    explicit SimulateCommand(const Invocation& invocation, QObject* parent = nullptr);
    ~SimulateCommand() override;

    void start();
    // SIGINT/SIGTERM: the documented way to stop serving, like the end of standard input.
    void interrupt();

signals:
    void finished(int exitCode);

private:
#ifdef Q_OS_UNIX
    bool startPty();
    bool startStdio();
    void watchStdin();
    void readStdin();
    void writeReplies();
    void takeCommands(const QByteArray& bytes);
    void runCommand(const QString& line);
#endif
    void stop();
    void fail(int exitCode, const QString& message);

    const Invocation m_invocation;
    sim::VirtualSelector m_model;
#ifdef Q_OS_UNIX
    std::unique_ptr<sim::PtyBridge> m_bridge;
    std::unique_ptr<sim::CoinFeeder> m_feeder;
    QByteArray m_commandLine; // a coin command not yet ended by its line feed
    bool m_stdinIsTerminal = false;
#endif
    std::unique_ptr<sim::VirtualPort> m_port;
    QSocketNotifier* m_stdin = nullptr;
    bool m_finished = false;
};

} // namespace quarvel::cli
