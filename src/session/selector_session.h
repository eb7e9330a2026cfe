#pragma once

#include "image/parameter_image.h"
#include "link/qt/serial_link.h"
#include "link/traffic.h"
#include "link/transfer.h"
#include "sampling/channel_reference.h"
#include "sampling/measurement_record.h"
#include "sim/fault_plan.h"

#include <QObject>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace quarvel::sim {
class VirtualSelector;
class VirtualPort;
} // namespace quarvel::sim

namespace quarvel::session {

// How a full read ended. The document changes only when it succeeded.
struct ReadResult
{
    link::EndReason reason = link::EndReason::None;
    QString message; // user text when it failed ("" on success)
    bool succeeded() const { return reason == link::EndReason::Succeeded; }
};

// One range of a programming run and how it ended.
struct RangeResult
{
    int first = 0;
    int last = 0;
    link::EndReason reason = link::EndReason::None;
    int cellsWritten = 0;        // cells of the range the selector acknowledged
    std::array<int, 4> faults{}; // failed exchanges, indexed by link::ExchangeFault
};

struct ProgramResult
{
    static int cellsInRanges();      // 184: what a full programming writes
    std::vector<RangeResult> ranges; // in the order run; a range not reached is absent
    bool succeeded() const;          // every range of the run ended Succeeded
    int cellsWritten() const;
    // "" when it succeeded; otherwise one line naming the ranges not programmed and why,
    // e.g. "cells 86-123 not programmed (5 time-outs)".
    QString failureSummary() const;
};

struct SamplingResult
{
    int channel = 0; // 1..12
    link::EndReason reason = link::EndReason::None;
    std::vector<sampling::Sample> samples;               // the accepted samples, in order
    std::optional<sampling::ChannelReference> reference; // set when the run succeeded
    QString successText; // "Sampling ok :..." when succeeded (what the window shows in green)
    QString message;     // the last red text (or the lost port) when it failed
    bool succeeded() const { return reason == link::EndReason::Succeeded; }
};

// How the in-process virtual selector starts: factory memory, or the values of a coin data
// file over it (as programming would send them), with a fault plan and 19200-baud pacing.
struct VirtualSelectorOptions
{
    QString memoryFile; // empty: factory memory
    sim::FaultPlan faults;
    bool wireTime = false;
};

// The one place that holds the document image and talks to the selector, for both front
// ends. Device operations are asynchronous and one at a time: each returns false with a
// visible refusal text when one is already running or no port is open, otherwise true, and
// later emits its *Finished signal exactly once. Progress and status texts come through the
// link's own signals (link()), which the status window and the console follow.
class SelectorSession : public QObject
{
    Q_OBJECT

public:
    explicit SelectorSession(QObject* parent = nullptr);
    ~SelectorSession() override;

    // The document. Front ends read and edit it directly; emit nothing on their own edits.
    ParameterImage& image() { return m_image; }
    const ParameterImage& image() const { return m_image; }

    // Coin data file rule: 1 after "Open & Program", 0 after Teach. With 1, sampling keeps
    // each channel's SigmaA.
    int cdt() const { return m_cdt; }
    void setCdt(int cdt) { m_cdt = cdt; }

    // Ports. Opening closes whatever was open (a running operation ends as failed).
    bool openPort(const QString& nameOrPath, QString* error = nullptr);
    // The in-process virtual selector, factory memory unless memory is given.
    bool openVirtualSelector(QString* error = nullptr);
    // The same, shaped by options; false with a message naming the memory file when it is not
    // a usable coin data file.
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

    link::SerialLink& link() { return m_link; }
    bool isBusy() const;
    // The channel of the sampling run going on, 0 when none.
    int samplingChannel() const;

    // Full read of cells 0..188 into a scratch image; committed to the document only on
    // success (then imageChanged). Emits readFinished.
    bool readSelector(QString* refusal = nullptr);
    // The three ranges 0-84, 86-123, 128-188 from a snapshot of the document taken now; the
    // fixed stamps go into the document as well. Emits programFinished.
    bool programSelector(QString* refusal = nullptr);
    // One sampling run of channel 1..12. On success the references are stored into the
    // document with the cdt rule (then imageChanged). Emits samplingProgress and
    // samplingFinished.
    bool startSampling(int channel, QString* refusal = nullptr);
    // The TSMR frame, nothing awaited.
    bool sendTsmr(QString* refusal = nullptr);
    // Ends the running operation as the user asked: the running transfer stops and those queued
    // behind it (the remaining programming ranges) are not started. Sampling still sends its
    // end frame.
    void cancel();

signals:
    void busyChanged(bool busy);
    void portChanged();
    void portLost(const QString& message);
    void imageChanged();
    void readFinished(const quarvel::session::ReadResult& result);
    void programFinished(const quarvel::session::ProgramResult& result);
    void samplingProgress(int channel, int coins); // coins accepted so far, of 12
    void samplingFinished(const quarvel::session::SamplingResult& result);
    // Every frame sent and taken, with its meaning.
    void traffic(const quarvel::link::TrafficEntry& entry);

private:
    bool canBegin(QString* refusal) const;
    bool begin(int operation, std::vector<std::unique_ptr<link::Transfer>> jobs, QString* refusal);
    void finishOperation();

    struct Private;
    std::unique_ptr<Private> d;
    ParameterImage m_image;
    link::SerialLink m_link;
    int m_cdt = 0;
};

} // namespace quarvel::session
