#pragma once

#include "link/frame.h"
#include "link/link_engine.h"
#include "link/traffic.h"
#include "link/transfer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

class QIODevice;

namespace quarvel::link {

#ifdef Q_OS_UNIX
class LineThread;
#endif

// Every frame on the line with its meaning, at debug level; off unless enabled by a logging
// rule such as QT_LOGGING_RULES="quarvel.link.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// The one connection to the selector. Runs queued transfers on an open port or byte device.
// It never spins, sleeps or runs a nested event loop.
//
// A serial port it opens itself on POSIX is waited for on a thread of its own (LineThread):
// the reply is read, the engine decides and the next request is written in one call, without
// the event loop. Elsewhere (an attached device, Windows) readyRead feeds the engine on the
// caller's thread and a precise single-shot timer serves time-outs and closing pauses.
//
// Signals are always emitted on the thread the link lives on, in the engine's order: from
// inside the calls that cause them (run, cancel, closePort) and from the event loop. Slots may
// start the next run or cancel from any of them; frames go on the line as soon as the engine
// decides, before the signals that describe them.
class SerialLink : public QObject
{
    Q_OBJECT

public:
    using Timing = LinkTiming;
    static constexpr qint32 kBaudRate = 19200;

    explicit SerialLink(QObject* parent = nullptr);
    ~SerialLink() override;

    void setTiming(Timing timing);
    Timing timing() const;

    // Opens a serial port by platform name or device path (COM3, /dev/ttyUSB0, /dev/pts/7) at
    // 19200 baud, 8N1, no flow control. Whatever was open is closed once the new port is open;
    // on failure it stays in use, and this returns false and says why in error.
    bool openPort(const QString& nameOrPath, QString* error = nullptr);
    // Runs on a device that is already open and stays owned by the caller (the in-process
    // virtual port). name is what messages call it; empty uses the device's objectName.
    void attachDevice(QIODevice* device, const QString& name = {});
    // Closes an owned port or lets go of an attached device. A run still going ends as failed.
    void closePort();

    bool isOpen() const;
    QString portName() const;
    // Whether the serial driver of the open port agreed to pass bytes on without delay.
    bool lowLatency() const { return m_savedSerialFlags.has_value(); }
    bool isBusy() const;

    // Starts the jobs one after the other. Refused while a run is active or without an open
    // port; refusal then holds the text for the user.
    bool run(std::vector<std::unique_ptr<Transfer>> jobs, QString* refusal = nullptr);
    // One frame with no reply awaited; refused like run().
    bool sendFrame(const Frame& frame, QString* refusal = nullptr);
    // Ends the running transfer as the user asked; queued jobs still follow.
    void cancel();

    static QString busyText();
    static QString noPortText();

    // Where the host's time goes between a reply and the next request, for the benches: the
    // steady clock (ns) when the reply's bytes were taken from the device, when the engine had
    // decided, and when the write of the next frame began (its traffic and status noted) and
    // when it returned. Kept only while switched on.
    struct TurnaroundStamp
    {
        std::int64_t seenNs = 0;
        std::int64_t decidedNs = 0;
        std::int64_t writingNs = 0;
        std::int64_t writtenNs = 0;
    };
    void setStampTurnaround(bool on);
    std::vector<TurnaroundStamp> takeTurnaroundStamps();

signals:
    void transferStarted();
    void reported(const quarvel::link::Report& report);
    // Why the transfer ended and what it did; emitted just before transferFinished.
    void transferEnded(const quarvel::link::TransferSummary& summary);
    void transferFinished(quarvel::link::Outcome outcome);
    void runFinished(bool allSucceeded);
    // The device went away (adapter pulled). The link closes it on its own, after this signal.
    void portLost(const QString& message);
    // Line traffic, for a log or a console.
    void frameSent(const quarvel::link::Frame& frame);
    // Each frame written and each run of bytes taken or dropped, with its meaning and the time
    // on this link's monotonic clock (also logged to lcLink).
    void traffic(const quarvel::link::TrafficEntry& entry);

private slots:
    // Connected by signature to QSerialPort and to any device declaring the same signal.
    void onDeviceError(QSerialPort::SerialPortError error);

private:
    using Lock = std::unique_lock<std::mutex>;
    // How long traffic and progress from the line thread may wait to be heard of, when no
    // call without a request comes first: a frame of the screen.
    static constexpr std::chrono::milliseconds kNotesDelay{16};

    std::int64_t now() const { return m_clock.elapsed(); }
    // Whether a line thread serves the port (else the device's signals and m_timer do).
    bool isThreaded() const;
    static std::int64_t steadyNs();
#ifdef Q_OS_UNIX
    bool startLineThread(int fd);
#endif
    void stopLineThread();
    void connectDevice(QIODevice* device);
    void disconnectDevice();
    void onReadyRead();
    void onTimer();
    void onDeviceLost();

    // With m_mutex held, on either thread: the owner's (who delivers the notes when its call
    // returns) or the line thread (which posts them).
    enum class Caller
    {
        Owner,
        Line
    };
    void bytesArrived(const std::uint8_t* data, std::size_t size, Caller caller);
    void execute(LinkEngine::Actions actions, Caller caller = Caller::Owner);
    void setEngineDeadline(std::optional<int> ms);
    // What the owner's thread is to hear of: an engine action it emits as a signal, or the
    // loss of the port.
    struct PortLost
    {
        QString message;
    };
    using Note = std::variant<LinkEngine::Action, PortLost>;
    void note(Note note);
    void noteTraffic(TrafficEntry entry);
    void emitNote(Note& note);
    void writeFrame(const Frame& frame);
    void flushInput();
    void lineLost();
    void postDelivery(bool writing = false);
    // Emits what is noted, in order, on the link's own thread.
    void deliver();
    void emitTraffic(const TrafficEntry& entry);

    // Guards the engine and everything the line thread touches: the notes, the timer's tag and
    // the stamps. Never held while a signal is emitted.
    mutable std::mutex m_mutex;
    LinkEngine m_engine;
    QElapsedTimer m_clock;
    QTimer m_timer;
    LinkEngine::TimerTag m_timerTag = 0;

    std::unique_ptr<QSerialPort> m_ownedPort;
    std::optional<int> m_savedSerialFlags; // the driver's flags before low latency was asked
#ifdef Q_OS_UNIX
    int m_lineFd = -1; // the owned port's descriptor for the line thread
    std::unique_ptr<LineThread> m_line;
#endif
    QPointer<QIODevice> m_device;
    QString m_portName;
    QList<QMetaObject::Connection> m_connections;
    bool m_lost = false;
    bool m_lossPosted = false;
    unsigned m_generation = 0; // changes with every open, attach and close

    bool m_stamping = false;
    std::optional<TurnaroundStamp> m_stamp; // of the reply being handled
    std::vector<TurnaroundStamp> m_stamps;
    // Values, not closures: noting sits between a reply and the next request, and moving an
    // action into kept capacity costs no allocation.
    std::vector<Note> m_notes;
    std::vector<Note> m_spareNotes; // the last batch's capacity, for the next swap
    bool m_notesUrgent = false;     // they hold the end of a transfer
    bool m_notesDue = false;        // the line thread will post them when kNotesDelay has passed
    bool m_deliveryPosted = false;
    bool m_delivering = false; // only on the link's own thread
};

} // namespace quarvel::link
