#include "link/qt/serial_link.h"

#include "link/qt/line_driver.h"
#include "link/qt/low_latency.h"
#include "link/qt/turnaround_stamps.h"

#include <QIODevice>
#include <QThread>

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
}

SerialLink::~SerialLink()
{
    // Quietly: whoever listens may be going away with us.
    stopDriver();
    disconnectDevice();
    if (m_ownedPort && m_savedSerialFlags) restoreSerialFlags(*m_ownedPort, *m_savedSerialFlags);
    if (m_ownedPort) m_ownedPort->close();
}

void SerialLink::setTiming(Timing timing)
{
    const Lock lock(m_mutex);
    m_engine.setTiming(timing);
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

// What touches the line goes to the driver at once, on whichever thread the engine decided;
// what tells of it is noted for the link's own thread. A request is written last, after the
// bookkeeping of its call: a pty hands it on from the writer's CPU, so the sooner the writer
// sleeps after it, the sooner the selector has it.
void SerialLink::execute(LinkEngine::Actions actions)
{
    // After a loss nothing more goes to the port, whose driver may already have let go of it.
    const bool usable = m_driver && !m_lost;
    std::optional<Frame> request;
    const auto sendRequest = [&] {
        if (request && usable) m_driver->write(*request);
        request.reset();
    };
    for (auto& action : actions) {
        if (const auto* write = std::get_if<LinkEngine::Write>(&action)) {
            sendRequest();
            request = write->frame;
            note(std::move(action));
        } else if (std::holds_alternative<LinkEngine::Flush>(action)) {
            sendRequest();
            if (usable) m_driver->flushInput();
        } else if (const auto* arm = std::get_if<LinkEngine::ArmTimer>(&action)) {
            m_timerTag = arm->tag;
            if (m_driver) m_driver->setDeadline(arm->ms);
        } else if (std::holds_alternative<LinkEngine::StopTimer>(action)) {
            if (m_driver) m_driver->setDeadline(std::nullopt);
        } else if (auto* traffic = std::get_if<LinkEngine::Traffic>(&action)) {
            noteTraffic(std::move(traffic->entry));
        } else {
            if (std::holds_alternative<LinkEngine::TransferFinished>(action) ||
                std::holds_alternative<LinkEngine::RunFinished>(action))
                m_notesUrgent = true;
            note(std::move(action));
        }
    }
    // The end of a transfer is heard of at once from the driver's thread: the next step waits
    // for it. The rest waits for the driver to settle.
    if (m_notesUrgent && !onOwnThread()) postDelivery();
    sendRequest();
}

bool SerialLink::onOwnThread() const
{
    return QThread::currentThread() == thread();
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

// With the mutex held, from the driver's thread: the owner's thread hears of the notes from
// its event loop.
void SerialLink::postDelivery()
{
    if (m_deliveryPosted || m_notes.empty()) return;
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

} // namespace quarvel::link
