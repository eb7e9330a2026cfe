#pragma once

#include "image/parameter_image.h"
#include "session/selector_session.h"
#include "session/station_presence.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace quarvel::session {

// What every selector of a gang gets.
struct GangJob
{
    ParameterImage image; // the coin data file's image
    bool verify = false;  // read each back and compare the programmed cells
    bool wait = false;    // station mode: go on with the next selector on the same port
    QString backupDir;    // read each selector into a coin data file here first ("" for none)
    int pollMs = 500;     // station mode: one read of cell 0 this often
    AbsenceRule absence;  // station mode: when the selector on the port counts as taken off
};

// One selector's programming on one port, as the log and the result line tell it.
struct GangUnitResult
{
    QString port;
    QDateTime finishedAt;
    bool passed = false;
    bool interrupted = false;
    int cellsProgrammed = 0;
    bool verified = false;
    int timeOuts = 0;
    int badChecksums = 0;
    qint64 durationMs = 0;
    QString backupFile;
    QString text; // "184 cells, verified, 3.42 s" or why it failed
};

// Opens the station's port on its session; false with a reason.
using PortOpener = std::function<bool(SelectorSession& session, QString* error)>;

// One port of a gang, with a session of its own: backup, programming, verify, and in station
// mode the polling that finds the next selector. Everything runs on the event loop; nothing
// here waits on another port.
class GangStation : public QObject
{
    Q_OBJECT

public:
    GangStation(const QString& port, const GangJob& job, PortOpener opener, QObject* parent = nullptr);

    void start();
    // Ctrl-C: the running transfer ends in order and its unit is reported; then done().
    void interrupt();
    QString port() const { return m_port; }
    SelectorSession& session() { return m_session; }

signals:
    void progress(const QString& text); // what the port is doing now
    void unitFinished(const quarvel::session::GangUnitResult& result);
    // Station mode: the port went away (adapter pulled); the station waits for it to return.
    void portLost(const QString& port, const QString& message);
    void done();

private:
    enum class State
    {
        Idle,
        Programming,
        Polling,
        Identifying, // station mode: reading a selector that answered after an absence
        Done
    };

    void beginUnit();
    void programmed(const ProgramResult& result);
    void fail(const QString& text);
    void endUnit();
    void schedulePoll();
    void poll();
    void polled(const CheckResult& result);
    void identify();
    void identified(const ReadResult& result);
    void rememberMemory(Operation* operation);
    void portWentAway(const QString& message);
    void finish();
    void follow(Operation* operation);

    QString m_port;
    GangJob m_job;
    PortOpener m_opener;
    SelectorSession m_session;
    State m_state = State::Idle;
    bool m_interrupted = false;
    SelectorPresence m_presence; // station mode: whether the last selector was taken off
    SelectorFingerprint m_last;  // station mode: the selector done last, to know it again
    bool m_portLost = false;     // station mode: waiting for the adapter to come back
    QElapsedTimer m_clock;
    GangUnitResult m_unit;
    QElapsedTimer m_unitClock;
    QElapsedTimer m_pollClock;
    QTimer m_pollTimer;
};

} // namespace quarvel::session
