// Windows: console control events. The system calls the handler on a thread of its own, so the
// handler posts to the watcher's thread instead of emitting there.
#include "signal_watcher.h"

#include "exit_codes.h"

#include <QMetaObject>
#include <QMutex>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include <windows.h>

namespace quarvel::cli {

namespace {

QBasicMutex g_mutex;                 // held while posting: the destructor waits for a post under way
SignalWatcher* g_watcher = nullptr;  // guarded by g_mutex
std::atomic<bool> g_pending = false; // set by the handler, cleared once the event loop has it

BOOL WINAPI onConsoleEvent(DWORD event)
{
    int signalNumber = SIGINT;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        break;
    case CTRL_CLOSE_EVENT:
        signalNumber = SIGTERM;
        break;
    default:
        return FALSE; // log-off and shut-down: the system's own handling
    }
    if (g_pending.exchange(true)) std::_Exit(exit_code::kInterrupted); // asked twice: too slow
    {
        const QMutexLocker lock(&g_mutex);
        SignalWatcher* watcher = g_watcher;
        if (!watcher) return FALSE; // being destroyed: the process is ending anyway
        QMetaObject::invokeMethod(
            watcher,
            [watcher, signalNumber] {
                g_pending = false;
                emit watcher->received(signalNumber);
            },
            Qt::QueuedConnection);
    }
    // The system ends the process as soon as the handler returns from a close event: wait, so the
    // orderly end runs and leaves through main (or the system's time-out ends it).
    if (event == CTRL_CLOSE_EVENT) Sleep(INFINITE);
    return TRUE;
}

} // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent)
{
    {
        const QMutexLocker lock(&g_mutex);
        g_watcher = this;
    }
    m_watching = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    if (!m_watching) {
        const QMutexLocker lock(&g_mutex);
        g_watcher = nullptr;
    }
}

SignalWatcher::~SignalWatcher()
{
    if (!m_watching) return;
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    const QMutexLocker lock(&g_mutex);
    g_watcher = nullptr;
}

} // namespace quarvel::cli
