#include "history/history_recorder.h"

#include "history/history_store.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <QTimer>

#include <deque>

namespace quarvel::history {

namespace {

constexpr int kBatch = 100;
} // namespace

// Lives on the recorder's thread, with the connections it opened there.
class RecorderWorker : public QObject
{
public:
    explicit RecorderWorker(HistoryRecorder& owner)
        : m_owner(owner), m_config(owner.m_config),
          m_local(QStringLiteral("history-local-%1").arg(quintptr(this))),
          m_server(QStringLiteral("history-server-%1").arg(quintptr(this)))
    {}

    void start()
    {
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        m_retry->setInterval(m_config.retryMs);
        connect(m_retry, &QTimer::timeout, this, [this] { flush(); });
        if (!m_local.open(m_config.local))
            say(QStringLiteral("local"), QStringLiteral("history: %1 cannot be opened: %2")
                                             .arg(m_config.local.path, m_local.lastError()));
        if (m_config.server) {
            setWaiting(m_local.isOpen() ? m_local.spooledCount() : 0);
            flush();
        }
    }

    void write(HistoryRecord record)
    {
        if (!m_config.server) {
            if (!m_local.isOpen() || !m_local.write(record)) localFailed(record);
            return;
        }
        // Spooled first, so that a server gone in the middle loses nothing.
        if (m_local.isOpen() && m_local.spool(record)) {
            setWaiting(m_waiting + 1);
        } else {
            localFailed(record);
            m_unspooled.push_back(record);
            setWaiting(m_waiting + 1);
        }
        flush();
    }

    // On its own thread, before that ends: the connections are closed where they were opened.
    void stop()
    {
        delete m_retry;
        m_retry = nullptr;
        m_server.close();
        m_local.close();
    }

    void flush()
    {
        if (!m_config.server || m_waiting == 0) return;
        if (!m_server.isOpen() && !m_server.open(*m_config.server, m_config.connectTimeoutS)) return later();
        while (m_local.isOpen()) {
            const auto batch = m_local.spooled(kBatch);
            for (const HistoryRecord& record : batch) {
                if (!m_server.write(record)) return lost();
                m_local.unspool(record.id);
                setWaiting(m_waiting - 1);
            }
            if (static_cast<int>(batch.size()) < kBatch) break;
        }
        while (!m_unspooled.empty()) {
            if (!m_server.write(m_unspooled.front())) return lost();
            m_unspooled.pop_front();
            setWaiting(m_waiting - 1);
        }
        m_said.remove(QStringLiteral("server"));
    }

private:
    void lost()
    {
        m_server.close();
        later();
    }

    void later()
    {
        say(QStringLiteral("server"),
            QStringLiteral("history: the server %1 cannot be reached (%2); records wait "
                           "in %3")
                .arg(m_config.server->printable(), m_server.lastError().trimmed(), m_config.local.path));
        if (m_retry && !m_retry->isActive()) m_retry->start();
    }

    void localFailed(const HistoryRecord&)
    {
        say(QStringLiteral("local"), QStringLiteral("history: %1 cannot be written: %2")
                                         .arg(m_config.local.path, m_local.lastError()));
    }

    // Each kind of problem once, until it has gone away.
    void say(const QString& kind, const QString& text)
    {
        if (m_said.contains(kind)) return;
        m_said.insert(kind);
        emit m_owner.problem(text);
    }

    void setWaiting(int count)
    {
        if (count == m_waiting) return;
        m_waiting = count;
        m_owner.m_waiting = count;
        emit m_owner.waitingChanged(count);
    }

    HistoryRecorder& m_owner;
    const RecorderConfig& m_config;
    HistoryStore m_local;
    HistoryStore m_server;
    QTimer* m_retry = nullptr;
    std::deque<HistoryRecord> m_unspooled; // the local file failed: kept in memory, sent last
    int m_waiting = 0;
    QSet<QString> m_said;
};

HistoryRecorder::HistoryRecorder(RecorderConfig config, QObject* parent)
    : QObject(parent), m_config(std::move(config))
{
    qRegisterMetaType<quarvel::history::HistoryRecord>("quarvel::history::HistoryRecord");
    m_thread.setObjectName(QStringLiteral("history"));
    m_worker = new RecorderWorker(*this);
#ifndef Q_OS_WIN
    m_worker->moveToThread(&m_thread);
    m_thread.start();
#endif
    // Windows: a program whose SQLite connections lived on a thread of their own did not end
    // (under Wine); there the records are written on the caller's thread, each after the event
    // that took it, still never inside a device operation.
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->start(); }, Qt::QueuedConnection);
}

HistoryRecorder::~HistoryRecorder()
{
    sync();
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->stop(); }, waitingCall());
    m_thread.quit();
    m_thread.wait();
    // Its thread has ended, with nothing of it left to run there (a deferred delete of it there
    // left the process unable to end under Wine).
    delete m_worker;
}

void HistoryRecorder::record(const HistoryRecord& record)
{
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, record] { worker->write(record); }, Qt::QueuedConnection);
}

Qt::ConnectionType HistoryRecorder::waitingCall() const
{
    return m_worker->thread() == QThread::currentThread() ? Qt::DirectConnection
                                                          : Qt::BlockingQueuedConnection;
}

void HistoryRecorder::sync()
{
    // What was taken and not yet written on this thread is written first.
    if (waitingCall() == Qt::DirectConnection) QCoreApplication::sendPostedEvents(m_worker);
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->flush(); }, waitingCall());
}

void HistoryRecorder::waitForWrites()
{
    // The records are handled in the order taken: once this has run, every earlier one has.
    if (waitingCall() == Qt::DirectConnection)
        QCoreApplication::sendPostedEvents(m_worker);
    else
        QMetaObject::invokeMethod(
            m_worker, [] {}, Qt::BlockingQueuedConnection);
}

QString waitingText(int count)
{
    return count == 1 ? QStringLiteral("history: 1 record waiting for the server")
                      : QStringLiteral("history: %1 records waiting for the server").arg(count);
}

} // namespace quarvel::history
