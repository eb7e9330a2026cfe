// Process CPU time of the sampling window while a run waits for coins: the window and the
// link must wait on events, not poll. Opens the window on the virtual selector, starts a run
// on channel 1, then lets the event loop sit for the given seconds with no coin inserted.
// Then, as a reference, the wait the simplest programs use: processEvents() and a clock check
// in a loop, for two seconds, scaled to the same span.
//
//   sampling_idle_bench [seconds]       (default 10; needs a display or QT_QPA_PLATFORM)
#include "bench_row.h"
#include "session/selector_session.h"
#include "sim/virtual_selector.h"
#include "ui/sampling/sampling_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace quarvel;

namespace {

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    session::SelectorSession session;
    QString error;
    if (!session.bench().open({}, &error)) {
        std::fprintf(stderr, "virtual selector: %s\n", qPrintable(error));
        return 1;
    }
    SamplingState state;
    QPointer<SamplingWindow> window;
    SamplingWindow::present(window, session, state, {}, false);
    window->findChild<QPushButton*>(QStringLiteral("insert_0"))->click();

    double cpuStart = 0;
    QElapsedTimer wall;
    // Measure once the handshake is over and the run only waits for coins.
    QTimer::singleShot(1000, &app, [&] {
        if (!session.bench().model()->isSampling()) {
            std::fprintf(stderr, "the run did not start sampling\n");
            app.exit(1);
            return;
        }
        cpuStart = cpuSeconds();
        wall.start();
        // Precise: a coarse timer of this length may fire some hundred ms early.
        QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, [&] { app.exit(0); });
    });
    const int rc = app.exec();
    if (rc != 0) return rc;
    const double cpu = cpuSeconds() - cpuStart;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    std::printf("waiting for coins: wall %.2f s, process CPU %.4f s (%.3f %% of wall)\n", elapsed, cpu,
                100.0 * cpu / elapsed);

    constexpr double kNaiveSeconds = 2.0;
    const double naiveStart = cpuSeconds();
    QElapsedTimer naiveWall;
    naiveWall.start();
    while (static_cast<double>(naiveWall.nsecsElapsed()) / 1e9 < kNaiveSeconds)
        QCoreApplication::processEvents();
    const double naive = (cpuSeconds() - naiveStart) / kNaiveSeconds * seconds;
    std::printf("naive reference wait: process CPU %.3f s per %d s\n", naive, seconds);

    const double perTenSeconds = cpu / elapsed * 10.0;
    bench::printRow(
        "CPU, 10 s of a sampling run waiting for coins", "<= 20 ms",
        bench::format("%.1f ms", perTenSeconds * 1e3) +
            bench::format(" (naive loop %.0f ms, ", naive / seconds * 10.0 * 1e3) +
            bench::format("x%.0f)", perTenSeconds > 0 ? naive / seconds * 10.0 / perTenSeconds : 0),
        perTenSeconds <= 0.020);
    return 0;
}
