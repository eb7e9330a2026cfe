#include "session/port_identity.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace quarvel::session {

QString canonicalPortPath(const QString& nameOrPath)
{
    const QString canonical = QFileInfo(nameOrPath).canonicalFilePath();
    return canonical.isEmpty() ? nameOrPath : canonical;
}

PortIdentity PortIdentity::of(const QString& path)
{
    PortIdentity id;
    id.path = path;
    const QString device = canonicalPortPath(path);
#ifdef Q_OS_LINUX
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (link.canonicalFilePath() == device) {
            id.byIdPath = link.absoluteFilePath();
            break;
        }
    }
#endif
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (canonicalPortPath(info.systemLocation()) != device && info.portName() != path) continue;
        id.usb = info.hasVendorIdentifier() && info.hasProductIdentifier();
        id.vendor = info.vendorIdentifier();
        id.product = info.productIdentifier();
        id.serialNumber = info.serialNumber();
        break;
    }
    return id;
}

QList<ListedPort> listedPorts()
{
    QList<ListedPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.append(
            {info.systemLocation(), info.vendorIdentifier(), info.productIdentifier(), info.serialNumber()});
    return ports;
}

QString PortIdentity::locate() const
{
    // Only a USB adapter with a serial number is looked for in the list.
    return locate(usb && !serialNumber.isEmpty() ? listedPorts() : QList<ListedPort>{});
}

QString PortIdentity::locate(const QList<ListedPort>& ports) const
{
    if (usb && !serialNumber.isEmpty()) {
        for (const ListedPort& port : ports)
            if (port.vendor == vendor && port.product == product && port.serialNumber == serialNumber)
                return port.location;
    }
    if (!byIdPath.isEmpty() && QFileInfo::exists(byIdPath)) return byIdPath;
    // A link the user gave follows the adapter it names; a plain name is all there is to go by.
    if (QFileInfo(path).isSymLink() || !usb || serialNumber.isEmpty()) {
        // A device name (COM3, \\.\COM3) is no file to look for; a path to one (POSIX, or a
        // drive's on Windows) is.
        const bool file =
            path.startsWith(QLatin1Char('/')) || (path.size() > 2 && path.at(1) == QLatin1Char(':'));
        return QFileInfo::exists(path) || !file ? path : QString();
    }
    return {};
}

} // namespace quarvel::session
