#pragma once

#include "image/parameter_image.h"
#include "link/traffic.h"
#include "link/transfer.h"
#include "session/history_entry.h"
#include "session/operation.h"
#include "session/program_plan.h"
#include "session/programming.h"
#include "session/results.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

namespace quarvel::link {
class SerialLink;
} // namespace quarvel::link

namespace quarvel::history {
class HistoryRecorder;
} // namespace quarvel::history

namespace quarvel::session {

// One port and the operations on the selector behind it, one at a time. Each start returns the
// operation's handle, which reports to whoever started it, or a refusal when one is already
// running or no port is open. It holds no document: what an operation read or taught comes
// back in its typed result.
class Device : public QObject
{
    Q_OBJECT

public:
    explicit Device(QObject* parent = nullptr);
    ~Device() override;

    // Opening closes whatever was open (a running operation ends as failed). A port that
    // cannot be opened leaves the connection in use as it was.
    bool openPort(const QString& nameOrPath, QString* error = nullptr);
    void closePort();
    bool isOpen() const;
    QString portName() const; // "COM3", "/dev/ttyUSB0", "virtual selector"
    // Whether the serial driver of the open port passes bytes on without delay.
    bool lowLatency() const;
    bool isBusy() const;
    // The operation running, or null.
    Operation* current() const { return m_current; }

    // Cells first..last into the result's image (every other cell as a new image has it).
    Started<ReadOperation> read(int first = 0, int last = ParameterImage::kSelectorCells - 1);
    // The one programming operation (see ProgramRequest): a line probe (a line that echoes is
    // refused), the backup the request asks for, the three ranges 0-84, 86-123, 128-188 of the
    // request's image, and verify. Refused before anything is sent when the request has no
    // image or a backup target cannot be written.
    Started<ProgramOperation> program(const ProgramRequest& request);
    // One sampling run of channel 1..12; the result holds the samples and their reference.
    Started<SamplingOperation> startSampling(int channel);
    // count read exchanges of one cell (0 unless told), timed and none retried: how healthy the
    // line is, or, to a station, what the selector on it holds.
    Started<CheckOperation> checkLink(int count, int address = 0);
    // The TSMR frame, nothing awaited.
    std::optional<Refusal> sendTsmr();
    // The selector last read on the open port (its identity cells, 85 and 124..127, are what
    // tell it); empty until a read or programming took them, and again when a port is opened.
    const std::optional<ParameterImage>& selectorSeen() const { return m_seen; }
    // Where each full read, programming and sampling run is recorded once it has ended (null:
    // nowhere). The recorder writes on a thread of its own and must outlive the device.
    void setHistory(history::HistoryRecorder* recorder, const HistoryPlace& place = {});

signals:
    void busyChanged(bool busy);
    void portChanged();
    void portLost(const QString& message);
    // An operation has begun, whoever started it (the status window and a console follow all).
    void operationStarted(quarvel::session::Operation* operation);
    // Every frame sent and taken, with its meaning.
    void traffic(const quarvel::link::TrafficEntry& entry);

public:
    // The driver, for tests and benches only.
    friend link::SerialLink& driverOf(Device& device) { return *device.m_link; }

private:
    friend class Operation;
    friend class ProgramOperation;
    friend class VirtualBench;
    struct ProgramRun;

    // Runs on an open device the caller owns (the in-process virtual selector's port), named
    // name in messages; released is called once when this lets go of it (closed, or another
    // port opened or attached), after which the caller may delete it.
    void attach(QIODevice* device, const QString& name, std::function<void()> released);
    std::optional<Refusal> refusalToBegin() const;
    template <class Op> Started<Op> begin(Op* operation, std::vector<std::unique_ptr<link::Transfer>> jobs);
    void cancel();
    void letGo();
    void finishOperation();
    // What the operation's single transfer handed over, if it was of this kind.
    template <class Output> const Output* outputOf() const;
    ReadResult finishRead();
    SamplingResult finishSampling(int channel);
    CheckResult finishCheck();
    ProgramResult finishProgram();
    int cellsProgrammed() const;
    // Hands the running programming's plan one event and carries out what it answers.
    void feedProgram(const std::function<ProgramPlan::Actions(ProgramPlan&)>& event);
    void applyProgram(const ProgramPlan::Action& action);
    // The failure text of the operation that just ended: the lost port, else its last transfer's.
    QString failureText() const;
    void toCurrent(const std::function<void(Operation*)>& signal);
    void post(Operation* operation, std::function<void()> signal);

    std::unique_ptr<link::SerialLink> m_link;
    std::function<void()> m_released; // of the attached device
    QPointer<Operation> m_current;
    std::optional<ParameterImage> m_seen;

    // The history's record of the operation that just ended, if it is recorded.
    template <class Result>
    std::optional<history::HistoryRecord> historyRecord(const Result& result, OperationFacts facts) const;
    void record(const std::optional<history::HistoryRecord>& record);

    QPointer<history::HistoryRecorder> m_history;
    HistoryPlace m_place;
    QString m_adapter;       // of the open port, for the history
    QElapsedTimer m_clock;   // since the current operation began
    bool m_fullRead = false; // the current read takes every cell

    std::unique_ptr<ProgramRun> m_program;
    std::vector<link::TransferSummary> m_summaries; // of the current operation's ended transfers
    QString m_lostMessage;
    bool m_starting = false; // inside a start call: results wait until its caller has the handle
    int m_queued = 0;        // signals of the current operation waiting for the event loop
};

} // namespace quarvel::session
