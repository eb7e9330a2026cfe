#pragma once

#include <QObject>

class QSocketNotifier;

namespace quarvel::cli {

// Turns SIGINT and SIGTERM into a Qt signal on the event loop (a self-pipe written by the
// handler, read through a socket notifier), so that a running transfer is ended in an orderly
// way. A second signal, arriving before the first was handled, ends the process at once.
// One instance per process.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // False when the pipe or the handlers could not be installed.
    bool isWatching() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace quarvel::cli
