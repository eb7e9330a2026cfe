#pragma once

// Waits for a condition on a real event loop, looking again each time the loop has handled what
// was there (QTest::qWaitFor sleeps 10 ms between looks, and a selector served on this thread
// stands still meanwhile).
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace quarvel::testing {

inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        // What was deleted later outside any loop goes only here, between loops (as in QTest's).
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (condition()) return true;
        if (deadline.hasExpired()) return false;
        QEventLoop loop;
        // What another thread changes without posting anything, and what a loop kept busy (that
        // never blocks) brings, is seen within a few milliseconds.
        QTimer::singleShot(std::min<qint64>(5, std::max<qint64>(0, deadline.remainingTime())), &loop,
                           &QEventLoop::quit);
        const auto look = QObject::connect(QAbstractEventDispatcher::instance(),
                                           &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
                                               if (condition()) loop.quit();
                                           });
        loop.exec();
        QObject::disconnect(look);
    }
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
