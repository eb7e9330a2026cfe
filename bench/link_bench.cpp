// Measures a full read and a full programming of the virtual selector through SerialLink:
// wall time against the time the bytes need on a 19200-baud line, and CPU time against wall
// time (the link must wait on timers and readyRead, not spin).
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

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

using namespace quarvel;

namespace {

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
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
    return 0;
}
