#pragma once

#include "history/history_record.h"
#include "history/history_target.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <optional>

namespace quarvel::history {

class RecorderWorker;

struct RecorderConfig
{
    HistoryTarget local;                 // the SQLite file: the history, or a server's spool
    std::optional<HistoryTarget> server; // a line's server: records go there, spooled first
    int retryMs = 2000;                  // how often an unreachable server is tried again
    int connectTimeoutS = 3;
};

// Takes records from any thread and writes them on a thread of its own, so that no device
// operation waits for a database. With a server each record is spooled to the local file first
// and sent in the order taken, exactly once (a record sent again is kept once by its id); while
// the server cannot be reached the spool grows and waitingChanged() says how far. Problems with
// the local file (a full disk, a read-only file) are said once each through problem().
class HistoryRecorder : public QObject
{
    Q_OBJECT

public:
    explicit HistoryRecorder(RecorderConfig config, QObject* parent = nullptr);
    // Writes what was taken (the server is tried once more), then stops.
    ~HistoryRecorder() override;

    const RecorderConfig& config() const { return m_config; }
    // Returns at once; the record is written on the recorder's thread.
    void record(const HistoryRecord& record);
    // Waits until every record taken so far has been written (and a server tried once): for
    // the end of a program and for tests.
    void sync();
    // Waits until every record taken so far is in the local file (a server not tried): before a
    // window reads the history, so that the operation just ended is in it.
    void waitForWrites();
    // Records waiting for the server.
    int waiting() const { return m_waiting.load(); }

signals:
    void waitingChanged(int count);
    void problem(const QString& text);

private:
    friend class RecorderWorker;
    // How to call the worker and wait for it: directly when it shares the caller's thread.
    Qt::ConnectionType waitingCall() const;
    RecorderConfig m_config;
    QThread m_thread;
    RecorderWorker* m_worker = nullptr;
    std::atomic<int> m_waiting{0};
};

// "history: 3 records waiting for the server" (one record: "1 record").
QString waitingText(int count);

} // namespace quarvel::history
