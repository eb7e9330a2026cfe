// Start-up and memory of the programs, measured from outside:
//  - the desktop program `quarvel --simulator` against a minimal Qt Widgets program with one
//    window (the floor), started alternately: time from the start of the process to its main
//    window's first paint (each prints the monotonic clock then and leaves, quarvel when
//    QUARVEL_EXIT_WHEN_SHOWN is set), and peak resident memory up to then;
//  - `quarvelctl read --port sim -o FILE`: wall time and peak resident memory of the whole run.
// The desktop programs need a display: run this under xvfb-run. Settings and data go to a
// temporary folder, never the user's own.
//
//   startup_bench --quarvel PATH --floor PATH --ctl PATH [--rounds N]
#include "bench_row.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Run
{
    bool ok = false;
    double shownMs = 0; // start to first paint (desktop programs)
    double exitMs = 0;  // start to exit
    double peakMb = 0;
};

// Starts the program with its standard output on a pipe and waits for it. A program that
// prints a monotonic time stamp has it taken as the moment its window was shown.
Run launch(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    Run run;
    int out[2];
    if (::pipe(out) < 0) return run;
    const std::int64_t start = monotonicNs();
    const pid_t pid = ::fork();
    if (pid < 0) return run;
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        for (const auto& e : env)
            ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        std::_Exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.exitMs = static_cast<double>(monotonicNs() - start) / 1e6;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    const long long shown = std::atoll(text.c_str());
    if (shown > start) run.shownMs = static_cast<double>(shown - start) / 1e6;
    return run;
}

std::string argument(int argc, char** argv, const char* name)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    using quarvel::bench::format;
    using quarvel::bench::median;
    using quarvel::bench::printRow;
    const std::string quarvel = argument(argc, argv, "--quarvel");
    const std::string floor = argument(argc, argv, "--floor");
    const std::string ctl = argument(argc, argv, "--ctl");
    const std::string roundsText = argument(argc, argv, "--rounds");
    const int rounds = roundsText.empty() ? 5 : std::max(1, std::atoi(roundsText.c_str()));
    if (quarvel.empty() || floor.empty() || ctl.empty()) {
        std::fprintf(stderr, "usage: startup_bench --quarvel PATH --floor PATH --ctl PATH [--rounds N]\n");
        return 2;
    }
    char folder[] = "/tmp/quarvel-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string home = folder;
    const bool display = std::getenv("DISPLAY") != nullptr;
    // A real X server when there is one (xvfb-run); otherwise the figures say so.
    std::vector<std::string> env{"XDG_CONFIG_HOME=" + home + "/config", "XDG_DATA_HOME=" + home + "/data",
                                 "XDG_RUNTIME_DIR=" + home, "QUARVEL_EXIT_WHEN_SHOWN=1",
                                 std::string("QT_QPA_PLATFORM=") + (display ? "xcb" : "offscreen")};
    std::printf("start-up bench on %s, %d rounds each, alternating\n",
                display ? "X display" : "offscreen (no DISPLAY)", rounds);

    std::vector<double> appMs, floorMs, appMb, floorMb, ctlMs, ctlMb;
    bool ok = true;
    for (int r = 0; r < rounds; ++r) {
        const Run f = launch({floor}, env);
        const Run q = launch({quarvel, "--simulator"}, env);
        const Run c = launch({ctl, "read", "--port", "sim", "-q", "-o", home + "/read.cdt"}, env);
        std::printf("round %d: floor %s %.1f ms %.1f MB | quarvel %s %.1f ms %.1f MB | quarvelctl read %s "
                    "%.1f ms %.1f MB\n",
                    r + 1, f.ok ? "ok" : "FAILED", f.shownMs, f.peakMb, q.ok ? "ok" : "FAILED", q.shownMs,
                    q.peakMb, c.ok ? "ok" : "FAILED", c.exitMs, c.peakMb);
        ok = ok && f.ok && q.ok && c.ok && f.shownMs > 0 && q.shownMs > 0;
        floorMs.push_back(f.shownMs);
        appMs.push_back(q.shownMs);
        floorMb.push_back(f.peakMb);
        appMb.push_back(q.peakMb);
        ctlMs.push_back(c.exitMs);
        ctlMb.push_back(c.peakMb);
    }
    std::system(("rm -rf '" + home + "'").c_str());
    if (!ok) {
        std::fprintf(stderr, "a program failed to start or to report its window\n");
        return 1;
    }
    const double timeRatio = median(appMs) / median(floorMs);
    const double memoryRatio = median(appMb) / median(floorMb);
    const char* where = display ? "" : " [offscreen]";
    printRow(std::string("start to main window shown, quarvel --simulator / floor") + where, "<= 1.5x",
             format("x%.2f", timeRatio) + format(" (%.0f ms / ", median(appMs)) +
                 format("%.0f ms)", median(floorMs)),
             timeRatio <= 1.5);
    printRow(std::string("peak resident memory, quarvel --simulator / floor") + where, "<= 1.3x",
             format("x%.2f", memoryRatio) + format(" (%.1f MB / ", median(appMb)) +
                 format("%.1f MB)", median(floorMb)),
             memoryRatio <= 1.3);
    printRow("quarvelctl read --port sim: wall", "report", format("%.0f ms", median(ctlMs)));
    printRow("quarvelctl read --port sim: peak resident memory", "report", format("%.1f MB", median(ctlMb)));
    return 0;
}
