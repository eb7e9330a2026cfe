#include "link/qt/event_loop_driver.h"

#include "link/qt/turnaround_stamps.h"

#include <QByteArray>
#include <QIODevice>
#include <QSerialPort>

namespace quarvel::link {

EventLoopDriver::EventLoopDriver(QIODevice* device, std::mutex& guard, Events events)
    : m_device(device), m_guard(guard), m_events(std::move(events))
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early, which would cut the exchange time-out short.
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { onTimer(); });
}

EventLoopDriver::~EventLoopDriver()
{
    stop();
}

bool EventLoopDriver::start()
{
    if (!m_device) return false;
    m_readyRead = QObject::connect(m_device, &QIODevice::readyRead, &m_timer, [this] { onReadyRead(); });
    return true;
}

void EventLoopDriver::stop()
{
    QObject::disconnect(m_readyRead);
    m_timer.stop();
}

void EventLoopDriver::write(const Frame& frame)
{
    if (!m_device) return;
    turnaround::mark(turnaround::Point::Writing);
    m_device->write(reinterpret_cast<const char*>(frame.data()), kFrameSize);
    // QSerialPort only queues a write until its next pass of the event loop; the selector is
    // waiting, so hand the frame to the driver now (as much as it takes without waiting).
    if (auto* port = qobject_cast<QSerialPort*>(m_device.data())) port->flush();
    turnaround::mark(turnaround::Point::Written);
}

void EventLoopDriver::flushInput()
{
    if (!m_device) return;
    const QByteArray bytes = m_device->readAll();
    // Bytes the driver holds but Qt has not fetched yet are just as stale.
    if (auto* port = qobject_cast<QSerialPort*>(m_device.data())) port->clear(QSerialPort::Input);
    if (!bytes.isEmpty())
        m_events.dropped(Bytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size())));
}

void EventLoopDriver::setDeadline(std::optional<int> ms)
{
    if (ms)
        m_timer.start(*ms);
    else
        m_timer.stop();
}

void EventLoopDriver::onReadyRead()
{
    if (!m_device) return;
    {
        const std::lock_guard lock(m_guard);
        const QByteArray bytes = m_device->readAll();
        if (bytes.isEmpty()) return;
        m_events.bytes(Bytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                             static_cast<std::size_t>(bytes.size())));
    }
    // May delete this driver with its link.
    m_events.settled();
}

void EventLoopDriver::onTimer()
{
    {
        const std::lock_guard lock(m_guard);
        m_events.due();
    }
    m_events.settled();
}

} // namespace quarvel::link
