// Measures a full read and a full programming of the virtual selector through SerialLink:
// wall time against the time the bytes need on a 19200-baud line, and CPU time against wall
// time (the link must wait on timers and readyRead, not spin). Then the idle figures: a read
// against a selector that never answers (five time-outs and the closing pause), and the quiet
// after a port vanished mid-read; both should cost next to no CPU.
//
//   link_bench [--pty] [--rounds N]
#include "image/parameter_image.h"
#include "link/program_transfer.h"
#include "link/read_transfer.h"
#include "link/serial_link.h"
#include "sim/virtual_port.h"
#include "sim/virtual_selector.h"
#ifdef Q_OS_UNIX
#include "sim/pty_bridge.h"
#endif

#include "sim/fault_plan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX // no min and max macros in the code below
#endif
#include <windows.h>
#endif

using namespace quarvel;

namespace {

double cpuSeconds()
{
#ifdef Q_OS_WIN
    // User and kernel time in 100 ns units; the system counts it per scheduler tick.
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1.0e7;
#else
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
#endif
}

void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Takes every byte and never answers: a selector that is not there.
class SilentDevice : public QIODevice
{
public:
    SilentDevice() { open(ReadWrite | Unbuffered); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return 0; }
    qint64 writeData(const char*, qint64 size) override { return size; }
};

std::vector<std::unique_ptr<link::Transfer>> readJob(ParameterImage& image)
{
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::ReadTransfer>(image));
    return jobs;
}

// 10 bits a byte at 19200 baud, a five-byte request and a five-byte reply per exchange.
constexpr double kByteSeconds = 10.0 / 19200.0;
constexpr double kExchangeWireSeconds = 10 * kByteSeconds;

struct Figures
{
    double wall = 0;
    double cpu = 0;
    bool ok = false;
};

Figures runJobs(link::SerialLink& serial, std::vector<std::unique_ptr<link::Transfer>> jobs)
{
    Figures f;
    QEventLoop loop;
    auto c = QObject::connect(&serial, &link::SerialLink::runFinished, [&](bool ok) {
        f.ok = ok;
        loop.quit();
    });
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    QString why;
    if (!serial.run(std::move(jobs), &why)) {
        std::fprintf(stderr, "refused: %s\n", qPrintable(why));
        return f;
    }
    loop.exec();
    f.wall = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    f.cpu = cpuSeconds() - cpu0;
    QObject::disconnect(c);
    return f;
}

void print(const char* what, const Figures& f, int exchanges, double pauses)
{
    const double wire = exchanges * kExchangeWireSeconds + pauses;
    std::printf("%-28s %s  wall %7.3f s  line time %7.3f s  wall/line %5.2f  cpu/wall %5.3f\n", what,
                f.ok ? "ok  " : "FAIL", f.wall, wire, f.wall / wire, f.cpu / f.wall);
}

// Five time-outs and the closing pause should take their full time and almost no CPU.
void silentRead()
{
    SilentDevice silent;
    link::SerialLink serial;
    serial.attachDevice(&silent, "silent");
    ParameterImage image;
    const Figures f = runJobs(serial, readJob(image));
    const auto timing = serial.timing();
    // The pause counts from the last request, which the fifth time-out already waited out in part.
    const int pauseMs = std::max(0, timing.closingPauseMs - timing.replyTimeoutMs);
    const double expected = (5 * timing.replyTimeoutMs + pauseMs) / 1000.0;
    std::printf("%-28s %s  wall %7.3f s  expected %7.3f s  cpu %7.4f s  cpu/wall %5.3f\n",
                "silent selector (read)", f.ok ? "ok?!" : "fails", f.wall, expected, f.cpu, f.cpu / f.wall);
}

// The port vanishes during a read; afterwards the link must not spin on a dead device.
void quietAfterLoss()
{
    sim::VirtualSelector model;
    model.loadMemory(sim::VirtualSelector::factoryMemory());
    model.setFaultPlan(sim::FaultPlan::parse("gone:40").plan.value_or(sim::FaultPlan{}));
    sim::VirtualPort port(model);
    port.open(QIODevice::ReadWrite);
    link::SerialLink serial;
    serial.attachDevice(&port, "vanishing");
    ParameterImage image;
    runJobs(serial, readJob(image));
    constexpr int kQuietMs = 400;
    const double cpu0 = cpuSeconds();
    idle(kQuietMs);
    std::printf("%-28s cpu %7.4f s over %d ms idle\n", "after a lost port", cpuSeconds() - cpu0, kQuietMs);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool usePty = args.contains("--pty");
    int rounds = 3;
    if (const auto i = args.indexOf("--rounds"); i >= 0 && i + 1 < args.size())
        rounds = args.at(i + 1).toInt();

    sim::VirtualSelector model;
    link::SerialLink serial;
    std::unique_ptr<sim::VirtualPort> port;
#ifdef Q_OS_UNIX
    std::unique_ptr<sim::PtyBridge> bridge;
#endif
    if (usePty) {
#ifdef Q_OS_UNIX
        bridge = std::make_unique<sim::PtyBridge>(model);
        bridge->setWireTime(true);
        QString error;
        if (!bridge->open(&error) || !serial.openPort(bridge->slavePath(), &error)) {
            std::fprintf(stderr, "pty: %s\n", qPrintable(error));
            return 1;
        }
#else
        std::fprintf(stderr, "--pty needs a Unix system\n");
        return 1;
#endif
    } else {
        port = std::make_unique<sim::VirtualPort>(model);
        port->setWireTime(true);
        port->open(QIODevice::ReadWrite);
        serial.attachDevice(port.get(), "virtual");
    }

    std::printf("QUARVEL link bench: %s, wire time on, %d rounds\n",
                usePty ? "pseudo-terminal" : "in-process port", rounds);
    const double pause = serial.timing().closingPauseMs / 1000.0;
    for (int r = 0; r < rounds; ++r) {
        ParameterImage image;
        std::vector<std::unique_ptr<link::Transfer>> read;
        read.push_back(std::make_unique<link::ReadTransfer>(image));
        print("full read (189 cells)", runJobs(serial, std::move(read)), 189, pause);

        std::vector<std::unique_ptr<link::Transfer>> program = link::programJobs(image);
        // 184 write exchanges, three end frames of 5 bytes, three closing pauses.
        print("full programming (3 ranges)", runJobs(serial, std::move(program)), 184,
              3 * (pause + 5 * kByteSeconds));
    }
    silentRead();
    quietAfterLoss();
    return 0;
}
