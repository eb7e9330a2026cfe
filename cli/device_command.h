#pragma once

#include "command_line.h"
#include "progress_printer.h"

#include "link/transfer.h"
#include "session/selector_session.h"

#include <QObject>
#include <QString>

#include <optional>

namespace quarvel::cli {

// A command that talks to a selector through the session: checks its files first, then opens
// the port and runs operations on the event loop. Emits finished() once with the exit code,
// after one result line on stderr.
class DeviceCommand : public QObject
{
    Q_OBJECT

public:
    explicit DeviceCommand(const Invocation& invocation, QObject* parent = nullptr);

    // Call once, with the event loop running or about to run.
    void start();
    // SIGINT/SIGTERM: the running operation is cancelled; its result says what was left undone.
    void interrupt();

signals:
    void finished(int exitCode);

protected:
    // Before any port is opened: load and check files. An exit code ends the command there.
    virtual std::optional<int> check() { return std::nullopt; }
    // The port is open: start the first operation.
    virtual void begin() = 0;
    // Whether an interrupt should hide the texts a cancelled transfer ends with: they speak of
    // a failure where the user simply stopped.
    virtual bool silentWhenInterrupted() const { return true; }

    void finish(int exitCode);
    // "quarvelctl <command>: message" on stderr.
    void error(const QString& message);
    void note(const QString& message); // informational, not shown with --quiet
    // A line of its own on stderr, shown even with --quiet (the result of a failure).
    void say(const QString& message);
    // "FAILED: why; consequence" as one sentence: why loses its closing full stop, and an
    // empty why (a failure without a text of its own) reads as fallback.
    void sayFailed(const QString& why, const QString& fallback, const QString& consequence = {});
    const char* commandName() const;
    bool wasInterrupted() const { return m_interrupted; }

    // Refuses an image whose programmed cells the selector cannot hold (text such as "12ab",
    // "-1" or "300" would reach it as some other byte), unless --force is given; then it notes
    // what will be sent. path names the image's file.
    std::optional<int> checkProgrammable(const ParameterImage& image, const QString& path);
    // Start the session's read or programming; false (after finishing) when it was refused.
    bool startRead();
    bool startProgramming();
    // The error line and exit of an operation the session would not start.
    void refused(const QString& refusal);
    // The result line and exit code of a programming run; nullopt when it succeeded.
    std::optional<int> programmingFailure(const session::ProgramResult& result, bool verifyPlanned);

    static int exitCodeFor(link::EndReason reason);

    const Invocation m_invocation;
    ProgressPrinter m_printer;
    session::SelectorSession m_session;

private:
    bool open();

    bool m_finished = false;
    bool m_interrupted = false;
    int m_rangesStarted = 0;
};

} // namespace quarvel::cli
