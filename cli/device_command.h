#pragma once

#include "command_line.h"
#include "device_session.h"
#include "progress_printer.h"

#include <QObject>
#include <QString>

namespace quarvel::cli {

// A command that talks to a selector: checks its files first, then opens the port and runs
// transfers on the event loop. Emits finished() once with the exit code.
class DeviceCommand : public QObject
{
    Q_OBJECT

public:
    explicit DeviceCommand(const Invocation& invocation, QObject* parent = nullptr);

    // Call once, with the event loop running or about to run.
    void start();
    // SIGINT/SIGTERM: a running device operation ends at once, exit code 130, no output file.
    void interrupt();

signals:
    void finished(int exitCode);

protected:
    // Before any port is opened: load and check files. An exit code ends the command there.
    virtual std::optional<int> check() { return std::nullopt; }
    // The port is open: run the first jobs.
    virtual void begin() = 0;

    void finish(int exitCode);
    // "quarvelctl <command>: message" on stderr.
    void error(const QString& message);
    void note(const QString& message); // informational, not shown with --quiet
    const char* commandName() const;

    // Exit code for a finished run that did not succeed, with the message for an interrupt.
    int failureCode(DeviceSession::Result result);

    const Invocation m_invocation;
    ProgressPrinter m_printer;
    DeviceSession m_session;

private:
    bool m_finished = false;
};

} // namespace quarvel::cli
