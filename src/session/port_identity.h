#pragma once

#include <QList>
#include <QString>

namespace quarvel::session {

// The device a port name or path leads to, symlinks followed (/dev/serial/by-id/... and a link
// to a pty name the same port as its target). Names that are no file (COM3) stay as they are.
QString canonicalPortPath(const QString& nameOrPath);

// A serial port as the system lists it.
struct ListedPort
{
    QString location; // /dev/ttyUSB0, COM3
    quint16 vendor = 0;
    quint16 product = 0;
    QString serialNumber;
};

// The serial ports there are now.
QList<ListedPort> listedPorts();

// A serial port known by what it is as well as by its name: a USB adapter that is pulled and
// plugged in again often comes back under another name (/dev/ttyUSB1 for /dev/ttyUSB0).
struct PortIdentity
{
    QString path;     // as the user gave it
    QString byIdPath; // Linux: the /dev/serial/by-id link to it, when there is one
    bool usb = false; // vendor and product below are known
    quint16 vendor = 0;
    quint16 product = 0;
    QString serialNumber;

    // Taken while the port is there.
    static PortIdentity of(const QString& path);
    // Where the same adapter is now: a USB adapter by its vendor, product and serial number or
    // by-id link; a link the user gave (it follows the adapter); else the name itself. Empty
    // while it is not there.
    QString locate() const;
    QString locate(const QList<ListedPort>& ports) const;
};

} // namespace quarvel::session
