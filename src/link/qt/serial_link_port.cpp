// The serial link's port: opening it (and saying why it would not open), watching it for a
// hang-up, attaching a device, and letting it go when it is closed or lost.
#include "link/qt/serial_link.h"

#include "link/qt/low_latency.h"

#include <QFile>
#include <QIODevice>
#include <QMetaMethod>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <poll.h>
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

// Qt reports a port locked or held open by another program as a permission error ("Permission
// error while locking the device"), which sends people to the dialout group. When we may open
// the device, the refusal can only be another program holding it.
bool heldByAnother(const QSerialPort& port, const QString& nameOrPath)
{
    if (port.error() != QSerialPort::PermissionError) return false;
#ifdef Q_OS_UNIX
    const QString device =
        nameOrPath.startsWith(QLatin1Char('/')) ? nameOrPath : QStringLiteral("/dev/") + nameOrPath;
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
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
    if (!port->open(QIODevice::ReadWrite)) {
        if (error)
            *error = heldByAnother(*port, nameOrPath)
                         ? QString::fromLatin1(kInUseText).arg(nameOrPath)
                         : QString::fromLatin1(kOpenFailedText).arg(nameOrPath, port->errorString());
        return false;
    }
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
    watchForHangUp();
    return true;
}

// A terminal that hangs up (its USB adapter pulled, a pty's other end closed) reads as zero
// bytes for ever. QSerialPort takes that for "nothing yet" and keeps polling, so a link that
// only listens (a sampling run waiting for coins) would spin without ever hearing of the loss.
// Read and programming notice through their next write; this watch tells all of them at once.
void SerialLink::watchForHangUp()
{
#ifdef Q_OS_UNIX
    const int fd = static_cast<int>(m_ownedPort->handle());
    if (fd < 0) return;
    m_hangUpWatch = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_hangUpWatch.get(), &QSocketNotifier::activated, this, [this, fd] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLHUP | POLLERR | POLLNVAL))) return;
        m_hangUpWatch->setEnabled(false);
        onDeviceLost();
    });
#endif
}

void SerialLink::attachDevice(QIODevice* device, const QString& name)
{
    closePort();
    if (!device) return;
    m_device = device;
    m_portName = !name.isEmpty() ? name : device->objectName();
    if (m_portName.isEmpty()) m_portName = QString::fromLatin1(kUnnamedDevice);
    connectDevice(device);
}

void SerialLink::closePort()
{
    // The port is going: a run still waiting on it cannot finish.
    if (m_engine.isRunning()) execute(m_engine.abort(Transfer::AbortReason::PortLost, now()));
    disconnectDevice();
    if (m_hangUpWatch) {
        // Off before its descriptor closes; deleted later, as we may be inside its signal.
        m_hangUpWatch->setEnabled(false);
        m_hangUpWatch.release()->deleteLater();
    }
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
    m_connections << connect(device, &QIODevice::readyRead, this, &SerialLink::onReadyRead);
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
    m_lost = true;
    const QString message = QString::fromLatin1(kLostText).arg(m_portName);
    // A dead descriptor may keep signalling until it is closed; stop listening right away.
    disconnectDevice();
    // Listeners hear why before the run ends, so the run's result can name the lost port.
    const QPointer<SerialLink> alive(this);
    post([this, message] { emit portLost(message); });
    if (!alive) return;
    execute(m_engine.abort(Transfer::AbortReason::PortLost, now()));
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
