#pragma once

#include "image/parameter_image.h"
#include "session/device.h"
#include "session/station_presence.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>

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
    QString coinFile;     // the file the image came from, for the history
    QString coinSha256;   // its SHA-256 as checked
    QString station;      // the station's name in the history
    history::HistoryRecorder* history = nullptr; // where each unit is recorded (null: nowhere)
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
    int serialNo = -1; // the selector's own serial number; -1 when it was never read
    QString text;      // "184 cells, verified, 3.42 s" or why it failed
};

// Opens the station's port on its device; false with a reason.
using PortOpener = std::function<bool(Device& device, QString* error)>;

// One port of a gang, with a device of its own (no document): backup, programming, verify, and
// in station mode the polling that finds the next selector. Its decisions run on its owner's
// thread as each operation reports; the device's driver serves the line (on POSIX, from a
// thread of its own per port). Nothing here waits on another port.
class GangStation : public QObject
{
    Q_OBJECT

public:
    GangStation(const QString& port, const GangJob& job, PortOpener opener, QObject* parent = nullptr);

    void start();
    // Ctrl-C: the running transfer ends in order and its unit is reported; then done().
    void interrupt();
    QString port() const { return m_port; }
    Device& device() { return m_device; }

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
    void identify(bool afterAbsence);
    void identified(const ReadResult& result);
    bool saveBackup(const ParameterImage& memory);
    void rememberMemory(Operation* operation);
    void portWentAway(const QString& message);
    void finish();
    void follow(Operation* operation);

    QString m_port;
    GangJob m_job;
    PortOpener m_opener;
    Device m_device;
    State m_state = State::Idle;
    bool m_interrupted = false;
    SelectorPresence m_presence; // station mode: whether the last selector was taken off
    SelectorFingerprint m_last;  // station mode: the selector done last, to know it again
    bool m_lastPassed = false;   // station mode: a unit that failed or was cut is tried again
    std::uint64_t m_polls = 0;   // station mode: which cell the next poll reads
    int m_pollCell = 0;
    bool m_afterAbsence = false;              // the running identify read follows an absence
    std::optional<ParameterImage> m_unitRead; // station mode: the unit's one read of its memory
    int m_phaseBase = -1;                     // progress figure where the running phase began
    bool m_portLost = false;                  // station mode: waiting for the adapter to come back
    QElapsedTimer m_clock;
    GangUnitResult m_unit;
    QElapsedTimer m_unitClock;
    QElapsedTimer m_pollClock;
    QTimer m_pollTimer;
};

} // namespace quarvel::session
