// Station mode between selectors: the polls that tell a selector taken off from an answer lost
// on the line, the read that knows the selector just done when it is still there, and the wait
// for a pulled adapter.
#include "session/gang_station.h"

namespace quarvel::session {

namespace {
const char kWaiting[] = "waiting for the next selector";
const char kPortLost[] = "port lost; waiting for it to come back";
const char kPortBack[] = "port back; waiting for the next selector";
const char kStillThere[] = "the selector just done is still on the port; waiting for the next";
} // namespace

void GangStation::schedulePoll()
{
    if (m_interrupted) return finish();
    const qint64 since = m_pollClock.isValid() ? m_pollClock.elapsed() : m_job.pollMs;
    m_pollTimer.start(static_cast<int>(std::max<qint64>(0, m_job.pollMs - since)));
}

void GangStation::poll()
{
    m_pollClock.start();
    if (!m_device.isOpen()) {
        // The adapter itself may be away; trying again is the poll.
        QString error;
        if (!m_opener(m_device, &error)) {
            m_presence.unanswered(m_clock.elapsed());
            return schedulePoll();
        }
        if (m_portLost) {
            // Whatever is on the port now is read before anything is programmed: the selector
            // done last, come back with its adapter, is known again and left alone.
            m_portLost = false;
            m_presence.reset(true, m_clock.elapsed());
            emit progress(QString::fromLatin1(kPortBack));
        }
    }
    // One cell a poll, the next in turn: a selector put on in place of the last one shows in
    // its cells even when it was swapped faster than an absence can be told.
    m_pollCell = m_last.pollCell(m_polls++);
    auto start = m_device.checkLink(1, m_pollCell);
    if (!start) {
        m_presence.unanswered(m_clock.elapsed());
        return schedulePoll();
    }
    connect(start.operation, &CheckOperation::finished, this, &GangStation::polled);
}

void GangStation::polled(const CheckResult& result)
{
    if (m_interrupted) return finish();
    if (result.figures.answered() > 0) {
        if (m_presence.gone()) return identify(true);
        if (m_last.differs(m_pollCell, result.figures.values.front())) return identify(false);
        m_presence.answered(m_clock.elapsed());
    } else if (!m_presence.gone() && m_presence.unanswered(m_clock.elapsed()) && !m_portLost) {
        emit progress(QString::fromLatin1(kWaiting));
    }
    schedulePoll();
}

// A selector answers after an absence, or a poll found a cell other than the last unit left.
// It is new only if it is not the one just done, put back or never taken off while the line lost
// a few answers: that one must never be programmed twice. One that failed or was cut is tried
// again once it was away, as a new one is.
void GangStation::identify(bool afterAbsence)
{
    m_state = State::Identifying;
    m_afterAbsence = afterAbsence;
    auto start = m_device.read();
    if (!start) {
        m_state = State::Polling;
        return schedulePoll();
    }
    connect(start.operation, &ReadOperation::finished, this, &GangStation::identified);
}

void GangStation::identified(const ReadResult& result)
{
    if (m_interrupted) return finish();
    m_state = State::Polling;
    if (!result.succeeded() || !result.image) {
        // Nothing known about it yet: the next poll that is answered tries again.
        emit progress(QStringLiteral("a selector answers but cannot be read (%1)").arg(result.message));
        return schedulePoll();
    }
    if (m_last.matches(*result.image) && (m_lastPassed || !m_afterAbsence)) {
        m_presence.reset(false, m_clock.elapsed());
        emit progress(QString::fromLatin1(kStillThere));
        return schedulePoll();
    }
    m_last.clear();
    m_last.learn(*result.image);
    m_unitRead = *result.image;
    beginUnit();
}

// What the selector holds after each read and programming of a unit, so that it is known again.
void GangStation::rememberMemory(Operation* operation)
{
    if (!m_job.wait || m_state == State::Identifying) return;
    if (auto* read = qobject_cast<ReadOperation*>(operation)) {
        connect(read, &ReadOperation::finished, this, [this](const ReadResult& result) {
            if (result.succeeded()) m_last.learn(*result.image);
        });
    } else if (auto* program = qobject_cast<ProgramOperation*>(operation)) {
        connect(program, &ProgramOperation::finished, this,
                [this](const ProgramResult& result) { m_last.learnProgrammed(result.sent, result); });
    }
}

void GangStation::portWentAway(const QString& message)
{
    if (!m_job.wait || m_state == State::Done || m_portLost) return;
    m_portLost = true;
    emit progress(QString::fromLatin1(kPortLost));
    emit portLost(m_port, message);
}

} // namespace quarvel::session
