// The serial link's port: opening it (and saying why it would not open), the driver that
// waits for it, attaching a device, and letting it go when it is closed or lost.
#include "link/qt/serial_link.h"

#include "link/qt/event_loop_driver.h"
#include "link/qt/low_latency.h"
#include "link/qt/turnaround_stamps.h"
#ifdef Q_OS_UNIX
#include "link/qt/line_thread.h"
#endif

#include <QFile>
#include <QIODevice>
#include <QMetaMethod>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quarvel::link {

namespace {

const char kOpenFailedText[] = "The serial port %1 could not be opened: %2";
const char kInUseText[] = "The serial port %1 is in use by another program.";
const char kLostText[] = "The serial port %1 was disconnected.";
const char kUnnamedDevice[] = "(unnamed device)";
const char kErrorSignal[] = "errorOccurred(QSerialPort::SerialPortError)";
const char kErrorSlot[] = "onDeviceError(QSerialPort::SerialPortError)";

// QSerialPort opens a name through \\.\ only when it is written "COM"; "com12" typed by hand
// would go to the system as it is, which reaches COM1..COM9 only.
QString systemPortName(const QString& nameOrPath)
{
#ifdef Q_OS_WIN
    static const QRegularExpression com(QStringLiteral("^com(\\d+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(nameOrPath);
    if (match.hasMatch()) return QStringLiteral("COM") + match.captured(1);
#endif
    return nameOrPath;
}

#ifdef Q_OS_UNIX
QByteArray devicePath(const QString& nameOrPath)
{
    return QFile::encodeName(nameOrPath.startsWith(QLatin1Char('/')) ? nameOrPath
                                                                     : QStringLiteral("/dev/") + nameOrPath);
}
#endif

// Qt reports a port locked or held open by another program as a permission error ("Permission
// error while locking the device"), which sends people to the dialout group. When we may open
// the device, the refusal can only be another program holding it.
bool heldByAnother(const QSerialPort& port, const QString& nameOrPath)
{
    if (port.error() != QSerialPort::PermissionError) return false;
#ifdef Q_OS_UNIX
    return ::access(devicePath(nameOrPath).constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(nameOrPath);
    return true; // a COM port is opened by one program at a time; there is no group to join
#endif
}
} // namespace

bool SerialLink::openPort(const QString& nameOrPath, QString* error)
{
    // The same device cannot be opened twice (its lock is ours); any other stays in use until
    // the new one is open, so a name that fails to open loses nothing.
    if (nameOrPath == m_portName) closePort();
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(systemPortName(nameOrPath));
    port->setBaudRate(kBaudRate);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
#ifdef Q_OS_UNIX
    // The line thread reads through a descriptor of its own, opened before Qt locks the port.
    // Qt keeps the port's lock and settings and is never asked to read: it would race the
    // thread for every byte.
    const int fd = ::open(devicePath(nameOrPath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int fdError = errno;
    const QIODevice::OpenMode mode = QIODevice::WriteOnly;
#else
    const QIODevice::OpenMode mode = QIODevice::ReadWrite;
#endif
    if (!port->open(mode)) {
#ifdef Q_OS_UNIX
        if (fd >= 0) ::close(fd);
#endif
        if (error)
            *error = heldByAnother(*port, nameOrPath)
                         ? QString::fromLatin1(kInUseText).arg(nameOrPath)
                         : QString::fromLatin1(kOpenFailedText).arg(nameOrPath, port->errorString());
        return false;
    }
#ifdef Q_OS_UNIX
    if (fd < 0) {
        port->close();
        if (error)
            *error = fdError == EBUSY ? QString::fromLatin1(kInUseText).arg(nameOrPath)
                                      : QString::fromLatin1(kOpenFailedText)
                                            .arg(nameOrPath, QString::fromLocal8Bit(std::strerror(fdError)));
        return false;
    }
#endif
    // Raise DTR as the selector's cable expects; a pty refuses modem lines and that is fine.
    port->setDataTerminalReady(true);
    port->clearError();
    const std::optional<int> flags = requestLowLatency(*port);

    // The old port gets its own flags back as it closes; only then are the new one's kept.
    closePort();
    m_savedSerialFlags = flags;
    m_ownedPort = std::move(port);
    m_device = m_ownedPort.get();
    m_portName = nameOrPath;
    connectDevice(m_ownedPort.get());
#ifdef Q_OS_UNIX
    auto driver = std::make_unique<LineThread>(fd, m_mutex, driverEvents());
#else
    auto driver = std::make_unique<EventLoopDriver>(m_ownedPort.get(), m_mutex, driverEvents());
#endif
    if (!startDriver(std::move(driver))) {
        closePort();
        if (error)
            *error = QString::fromLatin1(kOpenFailedText)
                         .arg(nameOrPath, QString::fromLocal8Bit(std::strerror(EAGAIN)));
        return false;
    }
    return true;
}

// The driver calls back with the mutex held, on its own thread or the link's.
LineDriver::Events SerialLink::driverEvents()
{
    LineDriver::Events events;
    events.bytes = [this](LineDriver::Bytes bytes) {
        turnaround::mark(turnaround::Point::Seen);
        auto actions = m_engine.bytesArrived(bytes, now());
        turnaround::mark(turnaround::Point::Decided);
        execute(std::move(actions));
        turnaround::mark(turnaround::Point::Done);
    };
    events.dropped = [this](LineDriver::Bytes bytes) {
        noteTraffic(TrafficEntry{0, 0, Direction::Received, {bytes.begin(), bytes.end()}, kNoiseDropped});
    };
    events.due = [this] { execute(m_engine.timerFired(m_timerTag, now())); };
    events.lost = [this] { lineLost(); };
    // Without the mutex: the link's own thread delivers now, another posts it.
    events.settled = [this] {
        if (onOwnThread()) {
            deliver();
            return;
        }
        const Lock lock(m_mutex);
        postDelivery();
    };
    return events;
}

bool SerialLink::startDriver(std::unique_ptr<LineDriver> driver)
{
    // Held until the driver is known to the link: a thread waits for it before its first call.
    const Lock lock(m_mutex);
    m_lossPosted = false;
    if (!driver->start()) return false;
    m_driver = std::move(driver);
    return true;
}

void SerialLink::stopDriver()
{
    if (m_driver) m_driver->stop();
    m_driver.reset();
}

// With the mutex held, on either thread: the link's own thread takes the port down.
void SerialLink::lineLost()
{
    if (m_lossPosted) return;
    m_lossPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this, generation = m_generation] {
            if (generation == m_generation) onDeviceLost();
        },
        Qt::QueuedConnection);
}

void SerialLink::attachDevice(QIODevice* device, const QString& name)
{
    closePort();
    if (!device) return;
    m_device = device;
    m_portName = !name.isEmpty() ? name : device->objectName();
    if (m_portName.isEmpty()) m_portName = QString::fromLatin1(kUnnamedDevice);
    connectDevice(device);
    startDriver(std::make_unique<EventLoopDriver>(device, m_mutex, driverEvents()));
}

void SerialLink::closePort()
{
    // The port is going: a run still waiting on it cannot finish.
    {
        const Lock lock(m_mutex);
        if (m_engine.isRunning()) execute(m_engine.abort(Transfer::AbortReason::PortLost, now()));
    }
    const QPointer<SerialLink> alive(this);
    deliver();
    if (!alive) return;
    stopDriver();
    disconnectDevice();
    ++m_generation;
    m_device = nullptr;
    m_portName.clear();
    m_lost = false;
    if (m_ownedPort) {
        if (m_savedSerialFlags) restoreSerialFlags(*m_ownedPort, *m_savedSerialFlags);
        m_savedSerialFlags.reset();
        m_ownedPort->close();
        // We may be inside one of the port's own signals: let it finish before it is deleted.
        m_ownedPort.release()->deleteLater();
    }
}

bool SerialLink::isOpen() const
{
    return m_device && !m_lost && m_device->isOpen();
}

QString SerialLink::portName() const
{
    return m_portName;
}

void SerialLink::connectDevice(QIODevice* device)
{
    m_lost = false;
    ++m_generation;
    m_connections << connect(device, &QObject::destroyed, this, &SerialLink::onDeviceLost);

    // By signature, so that any device reporting errors like a serial port is watched without
    // this code knowing its type.
    const QMetaObject* meta = device->metaObject();
    const int signalIndex = meta->indexOfSignal(QMetaObject::normalizedSignature(kErrorSignal).constData());
    if (signalIndex < 0) return;
    const int slotIndex = metaObject()->indexOfSlot(QMetaObject::normalizedSignature(kErrorSlot).constData());
    m_connections << connect(device, meta->method(signalIndex), this, metaObject()->method(slotIndex));
}

void SerialLink::disconnectDevice()
{
    for (const auto& connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
}

void SerialLink::onDeviceError(QSerialPort::SerialPortError error)
{
    // Only a vanished device ends the link; time-outs and write hiccups are the protocol's job.
    if (error == QSerialPort::ResourceError) onDeviceLost();
}

void SerialLink::onDeviceLost()
{
    if (m_lost) return;
    const QString message = QString::fromLatin1(kLostText).arg(m_portName);
    // A dead descriptor may keep signalling until it is closed; stop listening right away.
    disconnectDevice();
    {
        const Lock lock(m_mutex);
        m_lost = true;
        // Listeners hear why before the run ends, so the run's result can name the lost port.
        note(PortLost{message});
        execute(m_engine.abort(Transfer::AbortReason::PortLost, now()));
    }
    const QPointer<SerialLink> alive(this);
    deliver();
    if (!alive) return;
    // Closing inside the device's own error signal is not safe; do it once that has returned.
    const unsigned generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_generation) closePort();
        },
        Qt::QueuedConnection);
}

} // namespace quarvel::link
