#pragma once

#include <QEvent>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace quarvel {

// Installed on a main window for bench/startup_bench: once the window has painted, prints the
// monotonic clock in nanoseconds and leaves at once, so the start-up can be timed from outside.
// quarvel and the bench's one-window floor program share it, so both stop the clock alike.
class ExitWhenShown : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            QTimer::singleShot(0, [] {
                const auto ns = std::chrono::steady_clock::now().time_since_epoch().count();
                std::printf("%lld\n", static_cast<long long>(ns));
                std::fflush(stdout);
                std::_Exit(0);
            });
        return false;
    }
};

} // namespace quarvel
