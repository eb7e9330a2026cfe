#pragma once

// Waits for a condition on a real event loop, looking again each time the loop has handled what
// was there (QTest::qWaitFor sleeps 10 ms between looks, and a selector served on this thread
// stands still meanwhile).
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace quarvel::testing {

inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    if (condition()) return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    // What another thread changes without posting anything is seen within a few milliseconds, and
    // a loop kept busy never blocks: the nudge looks as well. It also deletes what was deleted
    // later outside this loop, which a nested loop leaves alone.
    QTimer nudge;
    QObject::connect(&nudge, &QTimer::timeout, &loop, [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (condition()) loop.quit();
    });
    nudge.start(5);
    const auto look = QObject::connect(QAbstractEventDispatcher::instance(),
                                       &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
                                           if (condition()) loop.quit();
                                       });
    timeout.start(timeoutMs);
    loop.exec();
    QObject::disconnect(look);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return condition();
}

// Handles what is already on its way to this thread (posted events, signals queued, timers due)
// and returns as soon as the loop would wait for more.
inline void settle()
{
    QEventLoop loop;
    const auto idle = QObject::connect(QAbstractEventDispatcher::instance(),
                                       &QAbstractEventDispatcher::aboutToBlock, &loop, [&] { loop.quit(); });
    QTimer::singleShot(0, &loop, [] {}); // the loop runs at least once round
    loop.exec();
    QObject::disconnect(idle);
}

} // namespace quarvel::testing
