// The link as the desktop program runs it: the main window, its status window and traffic log
// follow every transfer, on a pty served by the wire selector. Reports the own cost per
// exchange (no wire time) and a full read and programming against the line bound (wire-exact),
// so that whatever the windows do between a reply and the next request shows; then the same
// through the session alone, as quarvelctl runs it. Each beside a C client's read of the round.
//
//   desktop_link_bench [--rounds N]     (QT_QPA_PLATFORM=offscreen without a display)
#include "bench_row.h"
#include "c_client.h"
#include "wire_selector.h"

#include "session/selector_session.h"
#include "ui/main/main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

using namespace quarvel;
using bench::format;
using bench::median;
using bench::percentileUs;
using bench::printRow;

namespace {

constexpr double kExchangeSeconds =
    (10 * bench::WireSelector::kByteNs + bench::WireSelector::kTurnaroundNs) / 1e9;
constexpr double kPause = 0.3;
constexpr double kReadBound = 188 * kExchangeSeconds + kPause;
// Programming as the desktop does it: the line probe (cells 0 and 1, read with no pause
// after) before the 184 writes of the three ranges.
constexpr double kProgramBound = (2 + 184) * kExchangeSeconds + 3 * kPause;

// Starts an operation and waits, on the event loop, until the session is idle again.
template <typename Start> double timed(session::SelectorSession& session, Start start)
{
    QEventLoop loop;
    auto c = QObject::connect(&session.device(), &session::Device::busyChanged, [&](bool busy) {
        if (!busy) loop.quit();
    });
    QElapsedTimer wall;
    wall.start();
    if (!start()) {
        QObject::disconnect(c);
        return -1;
    }
    loop.exec();
    QObject::disconnect(c);
    return static_cast<double>(wall.nsecsElapsed()) / 1e9;
}

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Outcome
{
    std::vector<std::int64_t> gaps;
    std::vector<double> readSeconds, programSeconds, readCpuShares;
    bool ok = true;
};

// With a C client, its read is taken after each round: the floor of the same machine. Without
// windows it is the session alone, as quarvelctl drives it.
Outcome runDesktop(bool wireTime, int rounds, bench::CClient* floor = nullptr, bool windows = true)
{
    Outcome out;
    bench::WireSelector selector(wireTime);
    std::string error;
    if (!selector.start(&error)) {
        std::fprintf(stderr, "pty: %s\n", error.c_str());
        out.ok = false;
        return out;
    }
    session::SelectorSession session;
    std::optional<MainWindow> window;
    if (windows) {
        window.emplace(session);
        window->startUp({StartPort::Kind::Path, QString::fromStdString(selector.slavePath())});
        window->show();
    } else if (!session.device().openPort(QString::fromStdString(selector.slavePath()))) {
        out.ok = false;
        return out;
    }
    for (int r = 0; r < rounds && out.ok; ++r) {
        // The program's CPU: the whole process less the selector's thread.
        const double cpu0 = processCpuSeconds() - selector.threadCpuSeconds();
        const double read = timed(session, [&] { return session.readSelector(); });
        out.readCpuShares.push_back((processCpuSeconds() - selector.threadCpuSeconds() - cpu0) / read);
        auto gaps = selector.takeGaps();
        out.gaps.insert(out.gaps.end(), gaps.begin(), gaps.end());
        const double program = timed(session, [&] { return session.program({}); });
        gaps = selector.takeGaps();
        out.gaps.insert(out.gaps.end(), gaps.begin(), gaps.end());
        out.ok = read > 0 && program > 0;
        if (floor) floor->read();
        out.readSeconds.push_back(read);
        out.programSeconds.push_back(program);
        std::printf("%s, %s, round %d: read %.4f s (cpu/wall %.4f), programming %.4f s\n",
                    windows ? "desktop" : "session", wireTime ? "wire-exact" : "no wire time", r + 1, read,
                    out.readCpuShares.back(), program);
    }
    return out;
}

// The read and programming ratios of a run against the C client read between its rounds; a
// row that says "failed" when either could not run, so the table never just loses the target.
bool rowsAgainstFloor(const std::string& who, const Outcome& run, const bench::CClient& floor)
{
    if (!run.ok || !floor.ok()) {
        printRow("full read and programming against the C client, " + who, "runs", "failed", false);
        return false;
    }
    const double floorRatio = floor.readSeconds(kPause) / kReadBound;
    const double read = median(run.readSeconds) / kReadBound - floorRatio;
    const double program = median(run.programSeconds) / kProgramBound - floorRatio;
    printRow("full read ratio - the C client's, " + who, "<= 0.002", format("%+.4f", read), read <= 0.002);
    printRow("full programming ratio - the C client's read ratio, " + who, "<= 0.002",
             format("%+.4f", program), program <= 0.002);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Settings and the state file of this run stay in a folder of its own.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    int rounds = 3;
    if (const auto i = args.indexOf("--rounds"); i >= 0 && i + 1 < args.size())
        rounds = std::max(1, args.at(i + 1).toInt());

    const Outcome plain = runDesktop(false, rounds);
    const double med = percentileUs(plain.gaps, 0.5), p99 = percentileUs(plain.gaps, 0.99);
    std::printf("desktop own cost per exchange: %zu exchanges, median %.1f us, p99 %.1f us\n",
                plain.gaps.size(), med, p99);
    // Without wire time the next reply is back before the windows have shown the last one, so
    // this is the windows' work per exchange; on a line it overlaps the wire time.
    printRow("  desktop program, no wire time: request to request beyond the pty, median / p99", "report",
             format("%.0f us / ", med) + format("%.0f us", p99));

    bench::CClient floor(true, false);
    const Outcome wire = runDesktop(true, rounds, floor.ok() ? &floor : nullptr);
    // The windows' part, seen from the selector: beside the C client's, the tail shows when
    // they get in the link's way.
    std::printf("desktop host gap on the wire-exact line: median %.1f us, p90 %.1f us, p99 %.1f us; "
                "C client %.1f / %.1f / %.1f us\n",
                percentileUs(wire.gaps, 0.5), percentileUs(wire.gaps, 0.9), percentileUs(wire.gaps, 0.99),
                floor.gapMedianUs(), floor.gapPercentileUs(0.9), floor.gapPercentileUs(0.99));
    printRow("  desktop program: host gap on the wire-exact line, median / p90 (C client)", "report",
             format("%.0f / ", percentileUs(wire.gaps, 0.5)) +
                 format("%.0f us (", percentileUs(wire.gaps, 0.9)) + format("%.0f / ", floor.gapMedianUs()) +
                 format("%.0f us)", floor.gapPercentileUs(0.9)));
    const double read = median(wire.readSeconds) / kReadBound;
    const double program = median(wire.programSeconds) / kProgramBound;
    printRow("full read / line bound, desktop program (wire-exact pty)", "<= 1.01", format("%.4f", read),
             read <= 1.01);
    printRow("full programming / line bound, desktop program (wire-exact pty)", "<= 1.01",
             format("%.4f", program), program <= 1.01);
    bool ok = rowsAgainstFloor("desktop program", wire, floor);
    const double cpuShare = median(wire.readCpuShares);
    printRow("CPU / wall during full read, desktop program", "<= 0.05", format("%.4f", cpuShare),
             cpuShare <= 0.05);

    // The same operations through the session alone, as quarvelctl runs them.
    bench::CClient sessionFloor(true, false);
    const Outcome bare = runDesktop(true, rounds, sessionFloor.ok() ? &sessionFloor : nullptr, false);
    ok = rowsAgainstFloor("quarvelctl's session", bare, sessionFloor) && ok;
    return plain.ok && ok ? 0 : 1;
}
