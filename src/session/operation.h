#pragma once

#include "link/check_transfer.h"
#include "link/transfer.h"
#include "session/results.h"

#include <QObject>

#include <optional>

namespace quarvel::session {

class Device;

// One device operation a Device started, reporting to whoever started it, like a network
// reply: the status texts and progress of its transfers as they come, then its own typed
// result exactly once (the finished signal of its kind), then ended(). The device owns it and
// deletes it once it has ended.
class Operation : public QObject
{
    Q_OBJECT

public:
    enum class Kind
    {
        Read,
        Program,
        Sampling,
        Check
    };

    Kind kind() const { return m_kind; }
    // The coin channel of a sampling run (1..12); 0 for the others.
    int channel() const { return m_channel; }
    bool hasEnded() const { return m_ended; }
    // Ends it as the user asked: the running transfer stops, those queued behind it never
    // start, and a sampling run still sends its end frame. Nothing once it has ended.
    void cancel();

signals:
    // Each transfer of the operation (programming runs one per range).
    void transferStarted();
    void reported(const quarvel::link::Report& report);
    void transferFinished(quarvel::link::Outcome outcome);
    // After the typed result, for those that follow any operation.
    void ended();

protected:
    Operation(Kind kind, int channel, Device& device);

    Device& m_device;

private:
    friend class Device;

    Kind m_kind;
    int m_channel;
    bool m_ended = false;
};

class ReadOperation final : public Operation
{
    Q_OBJECT

public:
    using Result = ReadResult;
    explicit ReadOperation(Device& device) : Operation(Kind::Read, 0, device) {}

signals:
    void finished(const quarvel::session::ReadResult& result);
};

// The one programming operation. Its transfers report as one: transferStarted() once,
// reported() with one progress figure over every phase, transferFinished() once at the end.
class ProgramOperation final : public Operation
{
    Q_OBJECT

public:
    using Result = ProgramResult;
    using Phase = ProgramResult::Phase;
    explicit ProgramOperation(Device& device) : Operation(Kind::Program, 0, device) {}

    Phase phase() const { return m_phase; }
    // The answer to question(): go on writing. cancel() is the other answer.
    void proceed();
    // Cells the selector has acknowledged so far; 0 once it has ended.
    int cellsProgrammed() const;

signals:
    void phaseChanged(quarvel::session::ProgramResult::Phase phase);
    // The run waits before its first write for proceed() or cancel().
    void question(const QString& text);
    void finished(const quarvel::session::ProgramResult& result);

private:
    friend class Device;
    Phase m_phase = Phase::Probe;
};

class SamplingOperation final : public Operation
{
    Q_OBJECT

public:
    using Result = SamplingResult;
    SamplingOperation(int channel, Device& device) : Operation(Kind::Sampling, channel, device) {}

signals:
    void finished(const quarvel::session::SamplingResult& result);
};

// A link check: read exchanges of cell 0, timed, none retried (see link::CheckTransfer).
class CheckOperation final : public Operation
{
    Q_OBJECT

public:
    using Result = CheckResult;
    explicit CheckOperation(Device& device) : Operation(Kind::Check, 0, device) {}

signals:
    void finished(const quarvel::session::CheckResult& result);
};

// What starting an operation gave: its handle, or why it did not start.
template <class Op> struct Started
{
    Op* operation = nullptr;
    std::optional<Refusal> refusal; // set exactly when operation is null

    explicit operator bool() const { return operation != nullptr; }
    QString refusalText() const { return refusal ? session::refusalText(*refusal) : QString(); }
};

} // namespace quarvel::session
