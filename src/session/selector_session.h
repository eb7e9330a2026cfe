#pragma once

#include "image/parameter_image.h"
#include "link/qt/serial_link.h"
#include "link/traffic.h"
#include "link/transfer.h"
#include "sampling/sampling_output.h"
#include "session/operation.h"
#include "session/results.h"
#include "sim/coin_types.h"
#include "sim/fault_plan.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace quarvel::sim {
class VirtualSelector;
class VirtualPort;
} // namespace quarvel::sim

namespace quarvel::session {

// How the in-process virtual selector starts: factory memory, or the values of a coin data
// file over it (as programming would send them), with a fault plan and 19200-baud pacing.
struct VirtualSelectorOptions
{
    QString memoryFile; // empty: factory memory
    sim::FaultPlan faults;
    bool wireTime = false;
    std::uint8_t recordType = sim::kDefaultRecordType; // of a regular coin's measurement record
};

// The one place that holds the document image and talks to the selector, for both front
// ends. Device operations are asynchronous and one at a time: each start returns the
// operation's handle, which reports to whoever started it, or a refusal when one is already
// running or no port is open. Busy state, traffic and the port stay session-wide.
class SelectorSession : public QObject
{
    Q_OBJECT

public:
    explicit SelectorSession(QObject* parent = nullptr);
    ~SelectorSession() override;

    // The document. Front ends read and edit it directly; emit nothing on their own edits.
    ParameterImage& image() { return m_image; }
    const ParameterImage& image() const { return m_image; }

    // cdt: how a sampling run stores its references. Calibrated after "Open & Program" (each
    // channel's SigmaA is kept), Taught after Teach.
    sampling::ReferenceStore cdt() const { return m_cdt; }
    void setCdt(sampling::ReferenceStore store) { m_cdt = store; }

    // Ports. Opening closes whatever was open (a running operation ends as failed).
    // A port that cannot be opened leaves the connection in use as it was.
    bool openPort(const QString& nameOrPath, QString* error = nullptr);
    // The in-process virtual selector, factory memory unless memory is given.
    bool openVirtualSelector(QString* error = nullptr);
    // The same, shaped by options; false with a message naming the memory file when it is not
    // a usable coin data file (the connection in use then stays).
    bool openVirtualSelector(const VirtualSelectorOptions& options, QString* error = nullptr);
    void closePort();
    // Gives a virtual selector the values of a coin data file over its memory, each as
    // programming would send it. False with a message naming the file when it is not usable.
    static bool loadMemoryFile(sim::VirtualSelector& model, const QString& path, QString* error = nullptr);
    bool isOpen() const;
    QString portName() const;                // "COM3", "/dev/ttyUSB0", "virtual selector"
    bool isVirtual() const;                  // the in-process virtual selector is the port
    sim::VirtualSelector* virtualSelector(); // null unless isVirtual()
    sim::VirtualPort* virtualPort();         // null unless isVirtual()
    // A coin dropped into the virtual selector; false when the port is not the virtual selector
    // or it is not sampling.
    bool insertCoin(int coinType, bool irregular);

    // The driver, for quarvelctl's timing and trace and for tests; windows use the session.
    link::SerialLink& link() { return m_link; }
    bool isBusy() const;
    // The operation running, or null.
    Operation* current() const { return m_current; }

    // Where a full read lands: the document (on success only), or nowhere but the result's
    // image (a backup, which must never change what the user is editing).
    enum class ReadInto
    {
        Document,
        ResultOnly
    };
    // Full read of cells 0..188 into a scratch image; committed to the document only on
    // success (then imageChanged), unless into says the result keeps it.
    Started<ReadOperation> readSelector(ReadInto into = ReadInto::Document);
    // The three ranges 0-84, 86-123, 128-188 from a snapshot of the document taken now; the
    // fixed identification cells are stamped into the document first.
    Started<ProgramOperation> programSelector();
    // The same from another image (a backup being restored); the document stays as it is.
    Started<ProgramOperation> programImage(const ParameterImage& image);
    // Cells the running programming has had acknowledged so far; 0 when none runs.
    int cellsProgrammed() const;
    // One sampling run of channel 1..12. On success the references are stored into the
    // document as cdt says (then imageChanged).
    Started<SamplingOperation> startSampling(int channel);
    // count read exchanges of cell 0, timed and none retried: how healthy the line is.
    Started<CheckOperation> checkLink(int count);
    // The TSMR frame, nothing awaited.
    std::optional<Refusal> sendTsmr();
    // Cancels the running operation, if any (see Operation::cancel).
    void cancel();

signals:
    void busyChanged(bool busy);
    void portChanged();
    void portLost(const QString& message);
    void imageChanged();
    // An operation has begun, whoever started it (the status window and a console follow all).
    void operationStarted(quarvel::session::Operation* operation);
    // Every frame sent and taken, with its meaning.
    void traffic(const quarvel::link::TrafficEntry& entry);

private:
    std::optional<Refusal> refusalToBegin() const;
    template <class Op> Started<Op> begin(Op* operation, std::vector<std::unique_ptr<link::Transfer>> jobs);
    void finishOperation();
    ReadResult finishRead();
    void releaseVirtual();
    ProgramResult finishProgram() const;
    SamplingResult finishSampling(int channel);
    // The failure text of the operation that just ended: the lost port, else its last transfer's.
    QString failureText() const;
    void toCurrent(const std::function<void(Operation*)>& signal);
    void post(Operation* operation, std::function<void()> signal);

    struct Private;
    std::unique_ptr<Private> d;
    ParameterImage m_image;
    link::SerialLink m_link;
    sampling::ReferenceStore m_cdt = sampling::ReferenceStore::Taught;
    QPointer<Operation> m_current;
};

} // namespace quarvel::session
