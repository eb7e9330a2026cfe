#include "sim/qt/virtual_port.h"

#include <QMetaObject>

#include <algorithm>
#include <span>

namespace quarvel::sim {

VirtualPort::VirtualPort(VirtualSelector& model, QObject* parent) : QIODevice(parent), m_model(model)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    // Coarse timers may fire early; the host's time-outs are measured against these deliveries.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &VirtualPort::deliverDue);
}

VirtualPort::~VirtualPort() = default;

void VirtualPort::setWireTime(bool on)
{
    m_schedule.setWireTime(on);
}

bool VirtualPort::open(OpenMode mode)
{
    // A vanished adapter cannot be opened again.
    if (m_model.isGone()) {
        setErrorString(QStringLiteral("No such device"));
        return false;
    }
    m_readBuffer.clear();
    m_queue.clear();
    m_schedule.reset();
    m_goneAtUs.reset();
    m_failed = false;
    return QIODevice::open(mode | QIODevice::Unbuffered);
}

void VirtualPort::close()
{
    m_timer.stop();
    m_queue.clear();
    m_readBuffer.clear();
    m_goneAtUs.reset();
    QIODevice::close();
}

qint64 VirtualPort::bytesAvailable() const
{
    return m_readBuffer.size() + QIODevice::bytesAvailable();
}

qint64 VirtualPort::readData(char* data, qint64 maxSize)
{
    const qint64 count = std::min<qint64>(maxSize, m_readBuffer.size());
    std::copy_n(m_readBuffer.constData(), count, data);
    m_readBuffer.remove(0, count);
    return count;
}

qint64 VirtualPort::writeData(const char* data, qint64 size)
{
    if (m_failed) {
        setErrorString(QStringLiteral("The device is gone"));
        return -1;
    }
    const std::int64_t arrival = m_schedule.requestArrivalUs(nowUs(), static_cast<std::size_t>(size));
    const bool wasGone = m_model.isGone();
    const auto emissions = m_model.receive(
        std::span(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)),
        arrival / 1000);
    schedule(arrival, emissions);
    if (!wasGone && m_model.isGone()) noteGone(arrival);

    // QSerialPort reports written bytes from the event loop; so does this port.
    QMetaObject::invokeMethod(
        this, [this, size] { emit bytesWritten(size); }, Qt::QueuedConnection);
    return size;
}

bool VirtualPort::insertCoin(int coinType, bool irregular)
{
    return sendRecord(m_model.insertCoin(coinType, irregular));
}

bool VirtualPort::insertCoin(const CoinSample& sample)
{
    return sendRecord(m_model.insertCoin(sample));
}

bool VirtualPort::sendRecord(const std::optional<std::vector<Emission>>& emissions)
{
    if (!emissions) return false;
    schedule(nowUs(), *emissions);
    // A fault plan may unplug the selector at this record, as at any reply.
    if (m_model.isGone() && !m_goneAtUs) noteGone(nowUs());
    return true;
}

void VirtualPort::inject(const QByteArray& bytes)
{
    schedule(nowUs(), {Emission{0, std::vector<std::uint8_t>(bytes.begin(), bytes.end())}});
}

void VirtualPort::schedule(std::int64_t atUs, const std::vector<Emission>& emissions)
{
    if (!isOpen() || m_failed) return;
    for (const auto& e : emissions) {
        const auto slot = m_schedule.placeReply(atUs, e.delayMs * 1000, e.bytes.size());
        m_queue.push(slot.endUs, e.bytes);
    }
    arm();
}

void VirtualPort::noteGone(std::int64_t atUs)
{
    if (!isOpen()) return;
    // After whatever is already on its way, when the selector would have answered.
    const std::int64_t at = m_schedule.placeReply(atUs, 0, 0).endUs;
    m_goneAtUs = std::max(at, m_queue.lastDueUs().value_or(at));
    arm();
}

void VirtualPort::arm()
{
    std::optional<std::int64_t> next = m_queue.nextDueUs();
    if (m_goneAtUs && (!next || *m_goneAtUs < *next)) next = m_goneAtUs;
    if (!next) return;
    const std::int64_t waitUs = std::max<std::int64_t>(*next - nowUs(), 0);
    m_timer.start(static_cast<int>((waitUs + 999) / 1000));
}

void VirtualPort::deliverDue()
{
    const std::int64_t now = nowUs();
    const auto bytes = m_queue.takeDue(now);
    if (!bytes.empty()) {
        m_readBuffer.append(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<qsizetype>(bytes.size()));
        emit readyRead();
    }
    // A slot of readyRead may have closed the port.
    if (!isOpen()) return;
    if (m_goneAtUs && now >= *m_goneAtUs && m_queue.empty()) {
        m_goneAtUs.reset();
        m_failed = true;
        emit errorOccurred(QSerialPort::ResourceError);
        return;
    }
    arm();
}

} // namespace quarvel::sim
