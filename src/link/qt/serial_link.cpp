#include "link/qt/serial_link.h"

#include "link/qt/low_latency.h"

#include <QIODevice>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>

namespace quarvel::link {

// Off unless asked for: a full read alone is 378 lines.
Q_LOGGING_CATEGORY(lcLink, "quarvel.link", QtInfoMsg)

namespace {

// What this class says to the user (the port's own words are beside the port's code).
const char kBusyText[] = "Another device operation is still running.";
const char kNoPortText[] = "No serial port is open.";

} // namespace

SerialLink::SerialLink(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<quarvel::link::Report>("quarvel::link::Report");
    qRegisterMetaType<quarvel::link::Outcome>("quarvel::link::Outcome");
    qRegisterMetaType<quarvel::link::Frame>("quarvel::link::Frame");
    qRegisterMetaType<quarvel::link::TransferSummary>("quarvel::link::TransferSummary");
    qRegisterMetaType<quarvel::link::TrafficEntry>("quarvel::link::TrafficEntry");
    m_clock.start();
    m_timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early, which would cut the exchange time-out short.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SerialLink::onTimer);
}

SerialLink::~SerialLink()
{
    // Quietly: whoever listens may be going away with us.
    disconnectDevice();
    m_timer.stop();
    m_hangUpWatch.reset();
    if (m_ownedPort && m_savedSerialFlags) restoreSerialFlags(*m_ownedPort, *m_savedSerialFlags);
    if (m_ownedPort) m_ownedPort->close();
}

void SerialLink::setTiming(Timing timing)
{
    m_engine.setTiming(timing);
}

SerialLink::Timing SerialLink::timing() const
{
    return m_engine.timing();
}

QString SerialLink::busyText()
{
    return QString::fromLatin1(kBusyText);
}

QString SerialLink::noPortText()
{
    return QString::fromLatin1(kNoPortText);
}

bool SerialLink::isBusy() const
{
    return m_engine.isRunning();
}

bool SerialLink::run(std::vector<std::unique_ptr<Transfer>> jobs, QString* refusal)
{
    if (!isOpen()) {
        if (refusal) *refusal = noPortText();
        return false;
    }
    auto actions = m_engine.run(std::move(jobs), now());
    if (!actions) {
        if (refusal) *refusal = busyText();
        return false;
    }
    execute(std::move(*actions));
    return true;
}

bool SerialLink::sendFrame(const Frame& frame, QString* refusal)
{
    if (!isOpen()) {
        if (refusal) *refusal = noPortText();
        return false;
    }
    auto actions = m_engine.sendFrame(frame, now());
    if (!actions) {
        if (refusal) *refusal = busyText();
        return false;
    }
    execute(std::move(*actions));
    return true;
}

void SerialLink::cancel()
{
    execute(m_engine.abort(Transfer::AbortReason::UserCancel, now()));
}

void SerialLink::onReadyRead()
{
    if (!m_device || m_lost) return;
    const std::int64_t seenNs = m_stamping ? steadyNs() : 0;
    const QByteArray bytes = m_device->readAll();
    if (bytes.isEmpty()) return;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    auto actions = m_engine.bytesArrived(std::span(data, static_cast<std::size_t>(bytes.size())), now());
    if (m_stamping) m_stamp = TurnaroundStamp{seenNs, steadyNs(), 0, 0, 0};
    execute(std::move(actions));
    if (m_stamp && m_stamp->writtenNs != 0) {
        m_stamp->reportedNs = steadyNs();
        m_stamps.push_back(*m_stamp);
    }
    m_stamp.reset();
}

std::int64_t SerialLink::steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SerialLink::onTimer()
{
    execute(m_engine.timerFired(m_timerTag, now()));
}

void SerialLink::execute(LinkEngine::Actions actions)
{
    // The engine lists a reply's traffic and status reports before the request that follows
    // it, and their listeners (status window, traffic log) take a good part of a millisecond.
    // The selector waits for none of that: when only reports come before it, the request goes
    // on the line first and every signal still follows in the engine's order.
    const auto isReport = [](const LinkEngine::Action& a) {
        return std::holds_alternative<LinkEngine::Status>(a) ||
               std::holds_alternative<LinkEngine::Traffic>(a) ||
               std::holds_alternative<LinkEngine::StopTimer>(a);
    };
    const auto write = std::find_if(actions.begin(), actions.end(), [](const auto& a) {
        return std::holds_alternative<LinkEngine::Write>(a);
    });
    const bool writeFirst =
        write != actions.end() && write != actions.begin() && std::all_of(actions.begin(), write, isReport);
    if (writeFirst) {
        const Frame frame = std::get<LinkEngine::Write>(*write).frame;
        m_pending.emplace_back([this, frame] { writeToDevice(frame); });
    }
    for (auto it = actions.begin(); it != actions.end(); ++it) {
        if (writeFirst && it == write) {
            const Frame frame = std::get<LinkEngine::Write>(*it).frame;
            m_pending.emplace_back([this, frame] { emit frameSent(frame); });
            continue;
        }
        m_pending.emplace_back([this, action = std::move(*it)] { perform(action); });
    }
    post({});
}

void SerialLink::writeToDevice(const Frame& frame)
{
    if (!m_device || m_lost) return;
    if (m_stamp && m_stamp->writingNs == 0) m_stamp->writingNs = steadyNs();
#ifdef Q_OS_UNIX
    // Five bytes go straight to the driver: QSerialPort would copy them into its buffer, write
    // them on flush() and wake the event loop once more for the write notifier it arms.
    if (m_ownedPort && m_device == m_ownedPort.get() && m_ownedPort->bytesToWrite() == 0) {
        const ssize_t n = ::write(static_cast<int>(m_ownedPort->handle()), frame.data(), kFrameSize);
        if (n == kFrameSize) {
            if (m_stamp && m_stamp->writtenNs == 0) m_stamp->writtenNs = steadyNs();
            return;
        }
        if (n > 0) {
            // The driver took part of it (it never does for five bytes): Qt sends the rest.
            m_ownedPort->write(reinterpret_cast<const char*>(frame.data()) + n, kFrameSize - n);
            m_ownedPort->flush();
            return;
        }
    }
#endif
    m_device->write(reinterpret_cast<const char*>(frame.data()), kFrameSize);
    // QSerialPort only queues a write until its next pass of the event loop; the selector is
    // waiting, so hand the frame to the driver now.
    if (m_ownedPort && m_device == m_ownedPort.get()) m_ownedPort->flush();
    if (m_stamp && m_stamp->writtenNs == 0) m_stamp->writtenNs = steadyNs();
}

// Runs queued work in order. A slot that calls back into the link while a signal is being
// emitted only appends to the queue, so actions of one engine call are never interleaved with
// those of the next.
void SerialLink::post(std::function<void()> task)
{
    if (task) m_pending.push_back(std::move(task));
    if (m_executing) return;
    m_executing = true;
    // A slot may delete the link from inside one of its signals.
    const QPointer<SerialLink> alive(this);
    while (!m_pending.empty()) {
        auto next = std::move(m_pending.front());
        m_pending.pop_front();
        next();
        if (!alive) return;
    }
    m_executing = false;
}

void SerialLink::perform(const LinkEngine::Action& action)
{
    std::visit(
        [this](const auto& a) {
            using A = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<A, LinkEngine::Flush>) {
                flushDevice();
            } else if constexpr (std::is_same_v<A, LinkEngine::Write>) {
                writeToDevice(a.frame);
                emit frameSent(a.frame);
            } else if constexpr (std::is_same_v<A, LinkEngine::ArmTimer>) {
                m_timerTag = a.tag;
                m_timer.start(a.ms);
            } else if constexpr (std::is_same_v<A, LinkEngine::StopTimer>) {
                m_timer.stop();
            } else if constexpr (std::is_same_v<A, LinkEngine::Status>) {
                emit reported(a.report);
            } else if constexpr (std::is_same_v<A, LinkEngine::TransferStarted>) {
                emit transferStarted();
            } else if constexpr (std::is_same_v<A, LinkEngine::TransferFinished>) {
                emit transferEnded(a.summary);
                emit transferFinished(a.outcome);
            } else if constexpr (std::is_same_v<A, LinkEngine::Traffic>) {
                emitTraffic(a.entry);
            } else if constexpr (std::is_same_v<A, LinkEngine::RunFinished>) {
                emit runFinished(a.allSucceeded);
            }
        },
        action);
}

void SerialLink::emitTraffic(TrafficEntry entry)
{
    // The engine's milliseconds are enough for it; a trace reads better with microseconds.
    const qint64 us = m_clock.nsecsElapsed() / 1000;
    entry.timeMs = us / 1000;
    entry.fractionUs = static_cast<int>(us % 1000);
    qCDebug(lcLink).noquote() << QString::fromStdString(formatTraffic(entry));
    emit traffic(entry);
}

void SerialLink::flushDevice()
{
    if (!m_device || m_lost) return;
    const QByteArray stale = m_device->readAll();
    if (!stale.isEmpty())
        emitTraffic(TrafficEntry{0, 0, Direction::Received, {stale.begin(), stale.end()}, kNoiseDropped});
    // Bytes the driver holds but Qt has not fetched yet are just as stale.
    if (m_ownedPort && m_device == m_ownedPort.get()) m_ownedPort->clear(QSerialPort::Input);
}

} // namespace quarvel::link
