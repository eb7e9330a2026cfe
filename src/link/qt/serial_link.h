#pragma once

#include "link/frame.h"
#include "link/link_engine.h"
#include "link/qt/line_driver.h"
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

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

class QIODevice;

namespace quarvel::link {

// Every frame on the line with its meaning, at debug level; off unless enabled by a logging
// rule such as QT_LOGGING_RULES="quarvel.link.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// The one connection to the selector. Runs queued transfers on an open port or byte device.
// It never spins, sleeps or runs a nested event loop.
//
// The engine decides; a LineDriver waits for the port and serves the engine's deadline. A
// serial port it opens itself on POSIX is served by a thread of its own (LineThread): the reply
// is read, the engine decides and the next request is written in one call, without the event
// loop. Elsewhere (an attached device, Windows) the event loop does the same job
// (EventLoopDriver).
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

    std::int64_t now() const { return m_clock.elapsed(); }
    // Hands the port to its driver; false (and nothing kept) when it could not start.
    bool startDriver(std::unique_ptr<LineDriver> driver);
    void stopDriver();
    LineDriver::Events driverEvents();
    void connectDevice(QIODevice* device);
    void disconnectDevice();
    void onDeviceLost();

    // With m_mutex held, on the link's thread or the driver's.
    void execute(LinkEngine::Actions actions);
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
    void lineLost();
    bool onOwnThread() const;
    void postDelivery();
    // Emits what is noted, in order, on the link's own thread.
    void deliver();
    void emitTraffic(const TrafficEntry& entry);

    // Guards the engine and everything the driver's thread touches: the driver's own state,
    // the notes, the timer's tag. Never held while a signal is emitted, nor across a call that
    // may block.
    mutable std::mutex m_mutex;
    LinkEngine m_engine;
    QElapsedTimer m_clock;
    LinkEngine::TimerTag m_timerTag = 0;
    std::unique_ptr<LineDriver> m_driver;

    std::unique_ptr<QSerialPort> m_ownedPort;
    std::optional<int> m_savedSerialFlags; // the driver's flags before low latency was asked
    QPointer<QIODevice> m_device;          // the owner's thread only
    QString m_portName;
    QList<QMetaObject::Connection> m_connections;
    bool m_lost = false;
    bool m_lossPosted = false;
    unsigned m_generation = 0; // changes with every open, attach and close

    // Values, not closures: noting sits between a reply and the next request, and moving an
    // action into kept capacity costs no allocation.
    std::vector<Note> m_notes;
    std::vector<Note> m_spareNotes; // the last batch's capacity, for the next swap
    bool m_notesUrgent = false;     // they hold the end of a transfer
    bool m_deliveryPosted = false;
    bool m_delivering = false; // only on the link's own thread
};

} // namespace quarvel::link
