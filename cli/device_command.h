#pragma once

#include "command_line.h"
#include "progress_printer.h"

#include "history/history_recorder.h"

#include "image/parameter_image.h"
#include "session/document_files.h"
#include "session/reports.h"
#include "session/selector_session.h"

#include <QDir>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quarvel::cli {

// What quarvelctl says of a file's cells that the selector cannot hold: the refusal naming path,
// or with force the note of what will be sent.
QString unprogrammableText(const QString& path, const std::vector<UnprogrammableCell>& cells, bool force);

// A heading "address  field  expected  actual" and one line per mismatch.
std::string mismatchesText(const std::vector<session::VerifyMismatch>& mismatches);

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

    // Start the session's read, programming or sampling run; its result goes to the member
    // given. False (after finishing) when it was refused. Programming takes the backup
    // --backup names first, and verifies unless --no-verify.
    template <class Command> bool startRead(void (Command::*finished)(const session::ReadResult&));
    template <class Command>
    bool startProgramming(session::ProgramRequest request,
                          void (Command::*finished)(const session::ProgramResult&));
    template <class Command>
    bool startSampling(int channel, void (Command::*finished)(const session::SamplingResult&));
    // Refuses a --backup target that cannot be written, before any port is opened.
    std::optional<int> checkBackupTarget(const QString& sourceFile);
    // The error line and exit of an operation the session would not start.
    void refused(const session::Refusal& refusal);
    // Loads a coin data file to be programmed, refusing what the session's check refuses and
    // (unless --force) cells the selector cannot hold. An exit code when refused.
    // sha256: where the file's hash as checked goes, if wanted.
    std::optional<int> loadProgrammable(const QString& path, ImageFile& file, QString* sha256 = nullptr);
    // The result line and exit code of a programming run that failed; nullopt when it succeeded.
    std::optional<int> programmingFailure(const session::ProgramResult& result);

    static int exitCodeFor(session::EndReason reason);

    const Invocation m_invocation;
    ProgressPrinter m_printer;
    // Before the session: the device records into it to the end.
    std::unique_ptr<history::HistoryRecorder> m_history;
    session::SelectorSession m_session;

private:
    bool open();
    void follow(const session::Operation* operation);
    template <class Op, class Command, class Result>
    bool started(session::Started<Op> start, void (Command::*finished)(const Result&));

    bool m_finished = false;
    bool m_interrupted = false;
};

// A command that programs the one file it names (program, restore): the file is loaded and
// checked, and the --backup target with it, before any port is opened.
class FileProgrammingCommand : public DeviceCommand
{
    Q_OBJECT

public:
    using DeviceCommand::DeviceCommand;

protected:
    std::optional<int> check() final;
    QString filePath() const { return m_invocation.files.constFirst(); }

    ParameterImage m_file; // the file's image
    QString m_fileSha256;  // and its hash as checked
};

template <class Op, class Command, class Result>
bool DeviceCommand::started(session::Started<Op> start, void (Command::*finished)(const Result&))
{
    if (!start) {
        refused(*start.refusal);
        return false;
    }
    connect(start.operation, &Op::finished, static_cast<Command*>(this), finished);
    return true;
}

template <class Command> bool DeviceCommand::startRead(void (Command::*finished)(const session::ReadResult&))
{
    return started(m_session.readSelector(), finished);
}

template <class Command>
bool DeviceCommand::startProgramming(session::ProgramRequest request,
                                     void (Command::*finished)(const session::ProgramResult&))
{
    request.verify = m_invocation.verify;
    // A file or folder a script names keeps every backup: pruning it could delete another unit's.
    if (!m_invocation.backup.isEmpty())
        request.backup = {session::BackupPolicy::Kind::Target, m_invocation.backup, m_invocation.force};
    return started(m_session.program(request), finished);
}

template <class Command>
bool DeviceCommand::startSampling(int channel, void (Command::*finished)(const session::SamplingResult&))
{
    return started(m_session.startSampling(channel), finished);
}

} // namespace quarvel::cli
