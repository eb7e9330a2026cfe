#pragma once

#include "image/parameter_image.h"
#include "link/qt/serial_link.h"
#include "link/traffic.h"
#include "link/transfer.h"
#include "sampling/sampling_output.h"
#include "session/operation.h"
#include "session/programming.h"
#include "session/results.h"
#include "sim/coin_types.h"
#include "sim/fault_plan.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

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

// Where a change of the document came from.
enum class ChangeSource
{
    Read,     // the selector's memory, read in full
    File,     // a coin data file opened
    Default,  // a default image loaded
    Sampling, // a channel taught or calibrated
    Edit,     // the user's edits taken back from a window
    Stamp     // programming stamped the identification cells
};

// One announced change of the document: the selector cells whose text changed, and from where.
struct DocumentChange
{
    std::vector<int> cells;
    ChangeSource source = ChangeSource::Edit;
    // Whatever the user had loaded is gone (a read, a file, a default), not edited in part.
    bool replaced() const
    {
        return source == ChangeSource::Read || source == ChangeSource::File ||
               source == ChangeSource::Default;
    }
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

    // The document. Front ends read it, and edit it in place followed by announce(), or give
    // it a whole new image with replaceDocument(); either way documentChanged() tells every
    // window that follows it.
    ParameterImage& image() { return m_image; }
    const ParameterImage& image() const { return m_image; }
    void replaceDocument(const ParameterImage& image, ChangeSource source);
    // The cells changed in place since the last announcement, from source; nothing when none did.
    void announce(ChangeSource source);
    // Channels whose references or coin value the user taught or edited since the document
    // was last replaced: programming spares them its question.
    const std::set<int>& touchedChannels() const { return m_touched; }
    // Whether the document holds work not yet saved or programmed: edits and teaching since
    // it was last loaded, saved or programmed.
    bool documentModified() const { return m_modified; }
    void markDocumentSaved() { m_modified = false; }

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
    // count coins of a type dropped into the virtual selector one after another, as a hand
    // would (each as insertCoin); a new feed replaces one still going.
    void feedCoins(int coinType, int count, bool irregular = false);
    // The time between fed coins; negative: a hand's pace (the feeder's default).
    void setCoinInterval(int ms);
    void stopFeeding();
    bool isFeeding() const;
    int coinsToCome() const;
    // Whether the serial driver of the open port passes bytes on without delay.
    bool lowLatency() const { return m_link.lowLatency(); }

    // The driver, for tests and benches; both front ends go through the session.
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
    // success (then documentChanged), unless into says the result keeps it.
    Started<ReadOperation> readSelector(ReadInto into = ReadInto::Document);
    // Cells 85..127 into the result's image only: enough to tell which selector is on the port.
    Started<ReadOperation> readIdentity();
    // The selector last read on the open port (its identity cells, 85 and 124..127, are what
    // tell it); empty until a read or programming took them, and again when a port is opened.
    const std::optional<ParameterImage>& selectorSeen() const { return m_seen; }
    // The document belongs to another selector than the one on the port now: the next
    // programming of it asks this question first. Forgotten when the document is replaced or
    // programmed.
    void markDocumentOfOtherSelector(const QString& question) { m_otherSelector = question; }
    // The one programming operation: a line probe (a line that echoes is refused), the backup
    // the request asks for, the three ranges 0-84, 86-123, 128-188 from a snapshot taken now
    // (the document's fixed cells stamped first, unless exact), and verify. Refused before
    // anything is sent when a backup target cannot be written.
    Started<ProgramOperation> program(const ProgramRequest& request);
    // Cells the running programming has had acknowledged so far; 0 when none runs.
    int cellsProgrammed() const;
    // One sampling run of channel 1..12. On success the references are stored into the
    // document as cdt says (then documentChanged).
    Started<SamplingOperation> startSampling(int channel);
    // count read exchanges of one cell (0 unless told), timed and none retried: how healthy the
    // line is, or, to a station, what the selector on it holds.
    Started<CheckOperation> checkLink(int count, int address = 0);
    // The TSMR frame, nothing awaited.
    std::optional<Refusal> sendTsmr();
    // Cancels the running operation, if any (see Operation::cancel).
    void cancel();

signals:
    void busyChanged(bool busy);
    void portChanged();
    void portLost(const QString& message);
    void documentChanged(const quarvel::session::DocumentChange& change);
    // A coin of a feed went in.
    void coinFed();
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
    void programStepEnded();
    void startProgramStep();
    void endProgramming(link::EndReason reason, const QString& message = {});
    bool programBeforeWriting();
    void saveBackup();
    void answerProgramQuestion(bool proceed);
    friend class ProgramOperation;
    SamplingResult finishSampling(int channel);
    // The failure text of the operation that just ended: the lost port, else its last transfer's.
    QString failureText() const;
    void toCurrent(const std::function<void(Operation*)>& signal);
    void post(Operation* operation, std::function<void()> signal);

    struct Private;
    std::unique_ptr<Private> d;
    ParameterImage m_image;
    ParameterImage m_announced; // the document as last announced
    std::set<int> m_touched;
    bool m_modified = false;
    link::SerialLink m_link;
    sampling::ReferenceStore m_cdt = sampling::ReferenceStore::Taught;
    QPointer<Operation> m_current;
    std::optional<ParameterImage> m_seen;
    QString m_otherSelector;
};

} // namespace quarvel::session
