#pragma once

#include "session/gang_station.h"
#include "session/port_identity.h"

#include <QObject>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

namespace quarvel::session {

// How a station opens a serial port: wherever the adapter it was given is now.
PortOpener portOpener(const PortIdentity& identity);

// The same coin data on several ports at once: one station (and device) per port, each
// deciding on this thread as its operations report, each line served by its own driver. A port
// that fails, hangs or is pulled only ends its own station.
class GangRun : public QObject
{
    Q_OBJECT

public:
    // opener: how a station opens its port; empty opens the port by name ("sim": the virtual
    // selector).
    GangRun(const QStringList& ports, const GangJob& job, const PortOpener& opener = {},
            QObject* parent = nullptr);
    ~GangRun() override;

    void start();
    // Ends every station in order; finished() follows once all have.
    void interrupt();
    // Selectors, not attempts: one that failed and is tried again on its port (the same serial
    // number as the attempt before there) counts once, as its last attempt went. The serial
    // number is one byte, so it tells a selector from the one before it, not from every other
    // of a day's run; one whose number could not be read is a selector of its own.
    int passed() const { return m_passed; }
    int failed() const { return m_failed; }
    int attempts() const { return m_attempts; }
    // "3 selectors: 2 passed, 1 failed; 4 attempts", and how often a port was lost.
    QString summary() const;
    // Station mode: how often a port went away during the run.
    int portsLost() const { return m_portsLost; }
    bool wasInterrupted() const { return m_interrupted; }
    GangStation& station(int index) { return *m_stations.at(static_cast<std::size_t>(index)); }
    int size() const { return static_cast<int>(m_stations.size()); }

signals:
    void progress(int station, const QString& text);
    void unitFinished(const quarvel::session::GangUnitResult& result);
    void portLost(const QString& port, const QString& message);
    void finished();

private:
    void stationDone();
    void count(const GangUnitResult& result);

    struct LastAttempt
    {
        int serialNo = -1;
        bool passed = false;
    };
    std::vector<std::unique_ptr<GangStation>> m_stations;
    std::map<QString, LastAttempt> m_lastOnPort;
    int m_passed = 0;
    int m_failed = 0;
    int m_attempts = 0;
    int m_done = 0;
    int m_portsLost = 0;
    bool m_interrupted = false;
};

} // namespace quarvel::session
