#include "sim/qt/pty_bridge.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <span>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace quarvel::sim {

namespace {

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtyBridge::PtyBridge(VirtualSelector& model, QObject* parent) : QObject(parent), m_model(model)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PtyBridge::deliverDue);
}

PtyBridge::~PtyBridge()
{
    close();
}

bool PtyBridge::open(QString* error)
{
    close();
    const auto fail = [this, error](const QString& text) {
        if (error != nullptr) *error = text;
        close();
        return false;
    };

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) return fail(systemError("posix_openpt"));
    if (::fcntl(m_master, F_SETFD, FD_CLOEXEC) < 0 ||
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK) < 0)
        return fail(systemError("fcntl"));
    if (::grantpt(m_master) < 0) return fail(systemError("grantpt"));
    if (::unlockpt(m_master) < 0) return fail(systemError("unlockpt"));

    std::array<char, 128> name{};
#ifdef __linux__
    if (::ptsname_r(m_master, name.data(), name.size()) != 0) return fail(systemError("ptsname_r"));
#else
    const char* shared = ::ptsname(m_master);
    if (shared == nullptr) return fail(systemError("ptsname"));
    std::strncpy(name.data(), shared, name.size() - 1);
#endif
    m_slavePath = QString::fromLocal8Bit(name.data());

    m_slave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) return fail(systemError("open slave"));
    termios tio{};
    if (::tcgetattr(m_slave, &tio) < 0) return fail(systemError("tcgetattr"));
    // Raw: no echo, no line editing, no CR/LF translation. The speed is only for show.
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    if (::tcsetattr(m_slave, TCSANOW, &tio) < 0) return fail(systemError("tcsetattr"));

    m_readNotifier = new QSocketNotifier(static_cast<qintptr>(m_master), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyBridge::readMaster);
    m_writeNotifier = new QSocketNotifier(static_cast<qintptr>(m_master), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyBridge::flushBacklog);

    m_schedule.reset();
    m_goneReported = m_model.isGone();
    return true;
}

void PtyBridge::close()
{
    m_timer.stop();
    m_queue.clear();
    m_backlog.clear();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_slave >= 0) ::close(m_slave);
    if (m_master >= 0) ::close(m_master);
    m_slave = -1;
    m_master = -1;
    m_slavePath.clear();
}

bool PtyBridge::insertCoin(int coinType, bool irregular)
{
    return sendRecord(m_model.insertCoin(coinType, irregular));
}

bool PtyBridge::insertCoin(const CoinSample& sample)
{
    return sendRecord(m_model.insertCoin(sample));
}

bool PtyBridge::sendRecord(const std::optional<std::vector<Emission>>& emissions)
{
    if (!emissions) return false;
    schedule(nowUs(), *emissions);
    // A fault plan may unplug the selector at this record, as at any reply.
    if (m_model.isGone() && !m_goneReported) {
        m_goneReported = true;
        emit gone();
    }
    return true;
}

void PtyBridge::readMaster()
{
    std::array<std::uint8_t, 256> buffer{};
    for (;;) {
        const ssize_t n = ::read(m_master, buffer.data(), buffer.size());
        if (n <= 0) break; // EAGAIN: all taken; EIO cannot happen while our slave descriptor is open
        const std::int64_t arrival = m_schedule.requestArrivalUs(nowUs(), static_cast<std::size_t>(n));
        schedule(arrival,
                 m_model.receive(std::span(buffer.data(), static_cast<std::size_t>(n)), arrival / 1000));
    }
    if (m_model.isGone() && !m_goneReported) {
        m_goneReported = true;
        emit gone();
    }
}

void PtyBridge::schedule(std::int64_t atUs, const std::vector<Emission>& emissions)
{
    if (!isOpen()) return;
    for (const auto& e : emissions) {
        const auto slot = m_schedule.placeReply(atUs, e.delayMs * 1000, e.bytes.size());
        if (!m_schedule.wireTime()) {
            m_queue.push(slot.endUs, e.bytes);
            continue;
        }
        for (std::size_t i = 0; i < e.bytes.size(); ++i)
            m_queue.push(slot.startUs + LineSchedule::wireTimeUs(i + 1), {e.bytes[i]});
    }
    arm();
}

void PtyBridge::arm()
{
    const auto next = m_queue.nextDueUs();
    if (!next) return;
    const std::int64_t waitUs = std::max<std::int64_t>(*next - nowUs(), 0);
    m_timer.start(static_cast<int>((waitUs + 999) / 1000));
}

void PtyBridge::deliverDue()
{
    const auto bytes = m_queue.takeDue(nowUs());
    if (!bytes.empty())
        writeOut(
            QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    arm();
}

void PtyBridge::writeOut(const QByteArray& bytes)
{
    if (!isOpen()) return;
    m_backlog.append(bytes);
    flushBacklog();
}

void PtyBridge::flushBacklog()
{
    while (!m_backlog.isEmpty()) {
        const ssize_t n =
            ::write(m_master, m_backlog.constData(), static_cast<std::size_t>(m_backlog.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            m_backlog.clear(); // the line is broken; retrying would only spin
            break;
        }
        if (n <= 0) break;
        m_backlog.remove(0, n);
    }
    if (m_writeNotifier != nullptr) m_writeNotifier->setEnabled(!m_backlog.isEmpty());
}

} // namespace quarvel::sim
