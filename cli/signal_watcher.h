#pragma once

#include <QObject>

namespace quarvel::cli {

// Turns SIGINT and SIGTERM (on Windows: Ctrl+C, Ctrl+Break and closing the console) into a Qt
// signal on the event loop, so that a running transfer is ended in an orderly way. On Unix a
// self-pipe written by the handler is read through a socket notifier; on Windows the handler,
// which runs on a thread of the system's, posts to the watcher. A second signal, arriving before
// the first was handled, ends the process at once. One instance per process.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // False when the handlers could not be installed.

signals:
    void received(int signalNumber);

private:
#ifdef Q_OS_UNIX
    void drain();
#endif

    bool m_watching = false;
};

} // namespace quarvel::cli
