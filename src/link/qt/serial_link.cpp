#include "link/qt/serial_link.h"

#include "link/qt/low_latency.h"
#ifdef Q_OS_UNIX
#include "link/qt/line_thread.h"
#endif

#include <QIODevice>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <termios.h>
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
    stopLineThread();
    disconnectDevice();
    m_timer.stop();
    if (m_ownedPort && m_savedSerialFlags) restoreSerialFlags(*m_ownedPort, *m_savedSerialFlags);
    if (m_ownedPort) m_ownedPort->close();
}

void SerialLink::setTiming(Timing timing)
{
    const Lock lock(m_mutex);
    m_engine.setTiming(timing);
}

SerialLink::Timing SerialLink::timing() const
{
    const Lock lock(m_mutex);
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
    const Lock lock(m_mutex);
    return m_engine.isRunning();
}

bool SerialLink::isThreaded() const
{
#ifdef Q_OS_UNIX
    return m_line != nullptr;
#else
    return false;
#endif
}

void SerialLink::setStampTurnaround(bool on)
{
    const Lock lock(m_mutex);
    m_stamping = on;
}

std::vector<SerialLink::TurnaroundStamp> SerialLink::takeTurnaroundStamps()
{
    const Lock lock(m_mutex);
    return std::exchange(m_stamps, {});
}

bool SerialLink::run(std::vector<std::unique_ptr<Transfer>> jobs, QString* refusal)
{
    if (!isOpen()) {
        if (refusal) *refusal = noPortText();
        return false;
    }
    {
        const Lock lock(m_mutex);
        auto actions = m_engine.run(std::move(jobs), now());
        if (!actions) {
            if (refusal) *refusal = busyText();
            return false;
        }
        execute(std::move(*actions));
    }
    deliver();
    return true;
}

bool SerialLink::sendFrame(const Frame& frame, QString* refusal)
{
    if (!isOpen()) {
        if (refusal) *refusal = noPortText();
        return false;
    }
    {
        const Lock lock(m_mutex);
        auto actions = m_engine.sendFrame(frame, now());
        if (!actions) {
            if (refusal) *refusal = busyText();
            return false;
        }
        execute(std::move(*actions));
    }
    deliver();
    return true;
}

void SerialLink::cancel()
{
    {
        const Lock lock(m_mutex);
        execute(m_engine.abort(Transfer::AbortReason::UserCancel, now()));
    }
    deliver();
}

void SerialLink::onReadyRead()
{
    if (!m_device || m_lost) return;
    {
        const Lock lock(m_mutex);
        const QByteArray bytes = m_device->readAll();
        if (!bytes.isEmpty())
            bytesArrived(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                         static_cast<std::size_t>(bytes.size()), Caller::Owner);
    }
    deliver();
}

void SerialLink::bytesArrived(const std::uint8_t* data, std::size_t size, Caller caller)
{
    const std::int64_t seenNs = m_stamping ? steadyNs() : 0;
    auto actions = m_engine.bytesArrived(std::span(data, size), now());
    if (m_stamping) m_stamp = TurnaroundStamp{seenNs, steadyNs(), 0, 0};
    execute(std::move(actions), caller);
    if (m_stamp && m_stamp->writtenNs != 0) m_stamps.push_back(*m_stamp);
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
    {
        const Lock lock(m_mutex);
        execute(m_engine.timerFired(m_timerTag, now()));
    }
    deliver();
}

// What touches the line is done at once, on whichever thread the engine decided; what tells
// of it is noted for the link's own thread. A request is written last, after the bookkeeping of
// its call: a pty hands it on from the writer's CPU, so the sooner the writer sleeps after it,
// the sooner the selector has it.
void SerialLink::execute(LinkEngine::Actions actions, Caller caller)
{
    std::optional<Frame> request;
    const auto sendRequest = [&] {
        if (request) writeFrame(*std::exchange(request, std::nullopt));
    };
    for (auto& action : actions) {
        if (const auto* write = std::get_if<LinkEngine::Write>(&action)) {
            sendRequest();
            request = write->frame;
            note(std::move(action));
        } else if (std::holds_alternative<LinkEngine::Flush>(action)) {
            sendRequest();
            flushInput();
        } else if (const auto* arm = std::get_if<LinkEngine::ArmTimer>(&action)) {
            m_timerTag = arm->tag;
            setEngineDeadline(arm->ms);
        } else if (std::holds_alternative<LinkEngine::StopTimer>(action)) {
            setEngineDeadline(std::nullopt);
        } else if (auto* traffic = std::get_if<LinkEngine::Traffic>(&action)) {
            noteTraffic(std::move(traffic->entry));
        } else {
            if (std::holds_alternative<LinkEngine::TransferFinished>(action) ||
                std::holds_alternative<LinkEngine::RunFinished>(action))
                m_notesUrgent = true;
            note(std::move(action));
        }
    }
    // The owner delivers its own notes when its call returns; the line thread's wait for it.
    if (caller == Caller::Line) postDelivery(request.has_value());
    sendRequest();
}

void SerialLink::setEngineDeadline(std::optional<int> ms)
{
#ifdef Q_OS_UNIX
    if (m_line) {
        m_line->setDeadline(LineThread::Alarm::Engine,
                            ms ? std::optional(LineThread::Clock::now() + std::chrono::milliseconds(*ms))
                               : std::nullopt);
        return;
    }
#endif
    if (ms)
        m_timer.start(*ms);
    else
        m_timer.stop();
}

void SerialLink::note(Note note)
{
    m_notes.push_back(std::move(note));
}

void SerialLink::emitNote(Note& note)
{
    if (auto* lost = std::get_if<PortLost>(&note)) {
        emit portLost(lost->message);
        return;
    }
    std::visit(
        [this](auto& action) {
            using A = std::decay_t<decltype(action)>;
            if constexpr (std::is_same_v<A, LinkEngine::Write>) {
                emit frameSent(action.frame);
            } else if constexpr (std::is_same_v<A, LinkEngine::Traffic>) {
                emitTraffic(action.entry);
            } else if constexpr (std::is_same_v<A, LinkEngine::Status>) {
                emit reported(action.report);
            } else if constexpr (std::is_same_v<A, LinkEngine::TransferStarted>) {
                emit transferStarted();
            } else if constexpr (std::is_same_v<A, LinkEngine::TransferFinished>) {
                emit transferEnded(action.summary);
                emit transferFinished(action.outcome);
            } else if constexpr (std::is_same_v<A, LinkEngine::RunFinished>) {
                emit runFinished(action.allSucceeded);
            } else {
                // Done on the line at once and never noted; a new action must be emitted above.
                static_assert(std::is_same_v<A, LinkEngine::Flush> ||
                              std::is_same_v<A, LinkEngine::ArmTimer> ||
                              std::is_same_v<A, LinkEngine::StopTimer>);
            }
        },
        std::get<LinkEngine::Action>(note));
}

// The line thread has noted something. The end of a transfer is heard of at once: the next
// step waits for it. Traffic and progress that come with a request wait for the next call that
// writes nothing (the first bytes of the reply, mostly), at the latest kNotesDelay: so the
// owner's thread never wakes beside a request on its way, and the line thread never wakes just
// for it.
void SerialLink::postDelivery(bool writing)
{
    if (m_deliveryPosted || m_notes.empty()) return;
#ifdef Q_OS_UNIX
    if (!m_notesUrgent && writing && m_line) {
        if (!m_notesDue) {
            m_notesDue = true;
            m_line->setDeadline(LineThread::Alarm::Notes, LineThread::Clock::now() + kNotesDelay);
        }
        return;
    }
#endif
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(this, &SerialLink::deliver, Qt::QueuedConnection);
}

// A slot that calls back into the link while a signal is being emitted only adds to the
// notes, after the rest of the batch: signals come out in the order they were noted, and those
// of one engine call are never interleaved with those of the next. One lock a batch: the line
// thread needs the mutex for every reply.
void SerialLink::deliver()
{
    if (m_delivering) return;
    m_delivering = true;
    // A slot may delete the link from inside one of its signals.
    const QPointer<SerialLink> alive(this);
    std::vector<Note> batch = std::move(m_spareNotes);
    for (;;) {
        batch.clear();
        {
            const Lock lock(m_mutex);
            batch.swap(m_notes);
            m_deliveryPosted = false;
            m_notesUrgent = false;
        }
        if (batch.empty()) break;
        for (auto& n : batch) {
            emitNote(n);
            if (!alive) return;
        }
    }
    m_spareNotes = std::move(batch);
    m_delivering = false;
}

void SerialLink::writeFrame(const Frame& frame)
{
    // The line thread never looks at m_device: it is the owner's, and the thread is stopped
    // before it changes.
    if (m_lost) return;
    if (m_stamp && m_stamp->writingNs == 0) m_stamp->writingNs = steadyNs();
#ifdef Q_OS_UNIX
    if (m_line) {
        for (std::size_t done = 0; done < kFrameSize;) {
            const ssize_t n = ::write(m_lineFd, frame.data() + done, kFrameSize - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) {
                lineLost();
                return;
            }
            // The driver's buffer is full (it never is for five bytes on a working line). What
            // cannot go within an exchange time-out is a lost frame, and retried as one.
            pollfd p{m_lineFd, POLLOUT, 0};
            if (::poll(&p, 1, m_engine.timing().replyTimeoutMs) <= 0) return;
        }
        if (m_stamp && m_stamp->writtenNs == 0) m_stamp->writtenNs = steadyNs();
        return;
    }
#endif
    if (!m_device) return;
    m_device->write(reinterpret_cast<const char*>(frame.data()), kFrameSize);
    // QSerialPort only queues a write until its next pass of the event loop; the selector is
    // waiting, so hand the frame to the driver now.
    if (m_ownedPort && m_device == m_ownedPort.get()) m_ownedPort->flush();
    if (m_stamp && m_stamp->writtenNs == 0) m_stamp->writtenNs = steadyNs();
}

void SerialLink::noteTraffic(TrafficEntry entry)
{
    // Stamped when it happens, which may be well before it is shown; a trace reads better with
    // microseconds. Bytes the engine held before naming them (a record's first half, what a
    // silence settled) keep the millisecond they arrived at.
    const qint64 us = m_clock.nsecsElapsed() / 1000;
    if (entry.timeMs > 0 && entry.timeMs < us / 1000) {
        entry.fractionUs = 0;
    } else {
        entry.timeMs = us / 1000;
        entry.fractionUs = static_cast<int>(us % 1000);
    }
    note(LinkEngine::Action{LinkEngine::Traffic{std::move(entry)}});
}

void SerialLink::emitTraffic(const TrafficEntry& entry)
{
    qCDebug(lcLink).noquote() << QString::fromStdString(formatTraffic(entry));
    emit traffic(entry);
}

void SerialLink::flushInput()
{
    if (m_lost) return;
    std::vector<std::uint8_t> stale;
#ifdef Q_OS_UNIX
    if (m_line) {
        // The line thread reads only under the mutex held here: whatever the driver has, the
        // engine has not seen.
        std::uint8_t buffer[256];
        for (ssize_t n = 0; (n = ::read(m_lineFd, buffer, sizeof buffer)) > 0;)
            stale.insert(stale.end(), buffer, buffer + n);
        ::tcflush(m_lineFd, TCIFLUSH);
    }
#endif
    if (stale.empty() && m_device && !isThreaded()) {
        const QByteArray bytes = m_device->readAll();
        stale.assign(bytes.begin(), bytes.end());
        // Bytes the driver holds but Qt has not fetched yet are just as stale.
        if (m_ownedPort && m_device == m_ownedPort.get()) m_ownedPort->clear(QSerialPort::Input);
    }
    if (!stale.empty()) noteTraffic(TrafficEntry{0, 0, Direction::Received, std::move(stale), kNoiseDropped});
}

} // namespace quarvel::link
