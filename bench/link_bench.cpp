// The link's figures, each as a line for people and a row for the table of `make bench`:
//
// 1. Own cost per exchange: with no wire time at all, the time from a reply's last byte being
//    available on the device to the next request being written, through SerialLink on the
//    in-process VirtualPort (stamped at the device: readyRead and writeData) and on a serial
//    port over a pty (stamped by the selector's thread: its last write of a reply and the read
//    that takes the next request, so both kernel hops count against the program), beside C
//    clients doing the same between our runs, and where the host's part of it goes.
// 2. Wire-exact: the same pty selector pacing bytes as a 19200-baud line with a 1 ms
//    turnaround; a full read and a full programming against the shortest time the line allows.
// 3. CPU over wall of the program during that full read, beside a naive reference read that
//    polls processEvents() and a clock, as simple programs of this kind do.
// 4. Idle checks: a selector that never answers, and the quiet after a port is lost.
//
//   link_bench [--rounds N]
#include "bench_row.h"
#include "c_client.h"
#include "wire_selector.h"

#include "image/parameter_image.h"
#include "link/frame.h"
#include "link/program_transfer.h"
#include "link/qt/serial_link.h"
#include "link/qt/turnaround_stamps.h"
#include "link/read_transfer.h"
#include "sim/fault_plan.h"
#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPort>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace quarvel;
using bench::format;
using bench::median;
using bench::percentileUs;
using bench::printRow;

namespace {

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The shortest full read and programming a 19200-baud line allows, in seconds. An exchange is
// five bytes out, the selector's turnaround, five bytes back. A read's closing pause counts
// from its last request, so the last exchange overlaps it; programming sends the end frame
// right after the last acknowledgement and pauses from then, so the end frame's own bytes
// overlap the pause.
constexpr double kExchangeSeconds =
    (10 * bench::WireSelector::kByteNs + bench::WireSelector::kTurnaroundNs) / 1e9;
constexpr int kReadCells = 189;
constexpr int kProgramCells = 184; // 85 + 38 + 61
constexpr int kProgramRanges = 3;

double readBound(double pause)
{
    return (kReadCells - 1) * kExchangeSeconds + std::max(pause, kExchangeSeconds);
}

double programBound(double pause)
{
    return kProgramCells * kExchangeSeconds + kProgramRanges * pause;
}

struct Figures
{
    double wall = 0;
    double cpu = 0;
    bool ok = false;
};

// Runs the jobs to the end on the event loop; cpu is the whole process's.
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
    const double cpu0 = processCpuSeconds();
    QString why;
    if (!serial.run(std::move(jobs), &why)) {
        std::fprintf(stderr, "refused: %s\n", qPrintable(why));
        QObject::disconnect(c);
        return f;
    }
    loop.exec();
    f.wall = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    f.cpu = processCpuSeconds() - cpu0;
    QObject::disconnect(c);
    return f;
}

// A read whose cells land in image when it ends, so that a programming after it writes back
// what the selector held.
std::vector<std::unique_ptr<link::Transfer>> readJob(link::SerialLink& serial, ParameterImage& image)
{
    QObject::connect(
        &serial, &link::SerialLink::transferEnded, &serial,
        [&image](const link::TransferSummary& summary) {
            if (const auto* cells = std::get_if<link::ReadCells>(&summary.output)) link::store(*cells, image);
        },
        Qt::SingleShotConnection);
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::ReadTransfer>());
    return jobs;
}

void reportOwnCost(const char* where, const std::vector<std::int64_t>& gaps)
{
    const double median = percentileUs(gaps, 0.5);
    const double p99 = percentileUs(gaps, 0.99);
    std::printf("own cost per exchange, %-10s %zu exchanges  median %7.1f us  p99 %7.1f us  max %8.1f us\n",
                where, gaps.size(), median, p99, percentileUs(gaps, 1.0));
    printRow(std::string("own cost per exchange, ") + where + ", median", "<= 50 us",
             format("%.1f us", median), median <= 50);
    printRow(std::string("own cost per exchange, ") + where + ", p99", "<= 500 us", format("%.1f us", p99),
             p99 <= 500);
}

// A VirtualPort that stamps the device boundary: a reply becomes readable (readyRead, seen
// before the link's own slot) and the link writes its next request.
class StampedPort : public sim::VirtualPort
{
public:
    explicit StampedPort(sim::VirtualSelector& model) : VirtualPort(model)
    {
        connect(this, &QIODevice::readyRead, this, [this] {
            m_replyNs = bench::monotonicNs();
            m_awaiting = true;
        });
    }
    std::vector<std::int64_t> takeGaps()
    {
        m_awaiting = false;
        return std::exchange(m_gaps, {});
    }

protected:
    qint64 writeData(const char* data, qint64 size) override
    {
        if (m_awaiting) m_gaps.push_back(bench::monotonicNs() - m_replyNs);
        m_awaiting = false;
        return VirtualPort::writeData(data, size);
    }

private:
    std::int64_t m_replyNs = 0;
    bool m_awaiting = false;
    std::vector<std::int64_t> m_gaps;
};

// Full reads and a full programming; the gaps are collected after every run, so the wait
// across a closing pause is never one of them.
template <typename Source>
std::vector<std::int64_t> ownCostRuns(link::SerialLink& serial, Source& source, int reads,
                                      const std::function<void()>& between = {})
{
    std::vector<std::int64_t> gaps;
    ParameterImage image;
    const auto collect = [&] {
        const auto more = source.takeGaps();
        gaps.insert(gaps.end(), more.begin(), more.end());
    };
    for (int i = 0; i < reads; ++i) {
        runJobs(serial, readJob(serial, image));
        collect();
        if (between) between();
    }
    runJobs(serial, link::programJobs(image));
    collect();
    return gaps;
}

void ownCostInProcess(int reads)
{
    sim::VirtualSelector model;
    model.loadMemory(sim::VirtualSelector::factoryMemory());
    StampedPort port(model);
    port.open(QIODevice::ReadWrite);
    link::SerialLink serial;
    serial.attachDevice(&port, "virtual");
    reportOwnCost("in-process", ownCostRuns(serial, port, reads));
}

// Where the host's part of an exchange goes, from the driver's stamps held against the
// selector's: each stamp belongs to the exchange whose reply ended last before it was seen. The
// selector's thread may take the request before the write call has even returned, so the
// kernel's part is counted from the start of the write.
void reportTurnaround(const char* line, const std::vector<link::turnaround::Stamp>& stamps,
                      const std::vector<bench::WireSelector::Exchange>& exchanges,
                      const bench::CClient& floor)
{
    std::vector<std::int64_t> toSlot, engine, toWrite, writeCall, toSelector;
    for (const auto& s : stamps) {
        const auto after = std::upper_bound(exchanges.begin(), exchanges.end(), s.seenNs,
                                            [](std::int64_t t, const auto& e) { return t < e.replyEndNs; });
        if (after == exchanges.begin()) continue;
        const auto& e = *std::prev(after);
        if (e.requestSeenNs < s.writingNs) continue; // not the request this reply led to
        toSlot.push_back(s.seenNs - e.replyEndNs);
        engine.push_back(s.decidedNs - s.seenNs);
        toWrite.push_back(s.writingNs - s.decidedNs);
        writeCall.push_back(s.writtenNs - s.writingNs);
        toSelector.push_back(e.requestSeenNs - s.writingNs);
    }
    const auto row = [line](const char* what, const std::vector<std::int64_t>& ns) {
        const double median = percentileUs(ns, 0.5);
        std::printf("  turnaround, %-62s median %7.1f us  p99 %7.1f us\n", what, median,
                    percentileUs(ns, 0.99));
        printRow(std::string("  turnaround, ") + line + ": " + what + ", median", "report",
                 format("%.1f us", median));
    };
    std::printf("turnaround on the %s, %zu of %zu exchanges stamped in the driver:\n", line, toSlot.size(),
                stamps.size());
    row("reply written -> the link has read it (kernel, wake-up)", toSlot);
    row("read -> the engine has decided", engine);
    row("decided -> the write begins (traffic and status noted)", toWrite);
    row("the write call (the selector's thread may run inside it)", writeCall);
    row("the write begins -> the selector reads it (kernel, its thread)", toSelector);
    // The kernel's parts as the blocking C client meets them in the same run.
    row("C client: reply written -> its read returns it", floor.parts().wake);
    row("C client: the write call", floor.parts().writeCall);
    row("C client: the write begins -> the selector reads it", floor.parts().toSelector);
}

// Own cost per exchange over the pty, beside the C clients' read between our runs; false when
// the pty could not be used.
bool ownCostPty(int reads)
{
    bench::WireSelector selector(false);
    std::string error;
    link::SerialLink serial;
    QString openError;
    if (!selector.start(&error)) {
        std::fprintf(stderr, "pty: %s\n", error.c_str());
        return false;
    }
    if (!serial.openPort(QString::fromStdString(selector.slavePath()), &openError)) {
        std::fprintf(stderr, "pty: %s\n", qPrintable(openError));
        return false;
    }
    bench::CClient blocking(false, false), polling(false, true);
    // The same client on a thread of its own, as the link's: where the kernel puts a thread
    // against the selector's moves the pty's hand-over by several microseconds either way.
    bench::CClient threaded(false, false);
    if (!blocking.ok() || !polling.ok() || !threaded.ok()) return false;
    link::turnaround::record(true);
    selector.takeExchanges();
    const auto gaps = ownCostRuns(serial, selector, reads, [&] {
        blocking.read();
        polling.read();
        std::thread([&] { threaded.read(); }).join();
    });
    if (!blocking.ok() || !polling.ok() || !threaded.ok()) {
        std::fprintf(stderr, "pty: a C client's read broke off\n");
        return false;
    }
    reportOwnCost("pty", gaps);
    reportTurnaround("pty", link::turnaround::take(), selector.takeExchanges(), blocking);
    link::turnaround::record(false);
    for (const auto& [client, what] : {std::pair{&blocking, "blocking"}, std::pair{&polling, "poll-waiting"}})
        std::printf("pty floor, %s C client: %zu exchanges  median %7.1f us  p99 %7.1f us\n", what,
                    client->exchanges(), client->gapMedianUs(), client->gapPercentileUs(0.99));
    printRow("  floor: the same over the pty from a blocking C client, median", "report",
             format("%.1f us", blocking.gapMedianUs()));
    printRow("  floor: the same from a C client that waits in poll(), median", "report",
             format("%.1f us", polling.gapMedianUs()));
    printRow("  floor: the same from a blocking C client on a thread of its own, median", "report",
             format("%.1f us", threaded.gapMedianUs()) +
                 format(" (write begins -> selector reads it %.1f us)",
                        percentileUs(threaded.parts().toSelector, 0.5)));
    const double ratio = percentileUs(gaps, 0.5) / blocking.gapMedianUs();
    printRow("own cost per exchange over the pty / the C client's", "<= 1.3", format("%.2f", ratio),
             ratio <= 1.3);
    return true;
}

// The program's CPU during a run: the whole process less the selector's thread.
struct HostFigures
{
    double wall = 0;
    double cpu = 0;
    bool ok = true;
};

HostFigures runOnWire(link::SerialLink& serial, bench::WireSelector& selector,
                      std::vector<std::unique_ptr<link::Transfer>> jobs)
{
    const double selectorCpu0 = selector.threadCpuSeconds();
    const Figures f = runJobs(serial, std::move(jobs));
    return {f.wall, f.cpu - (selector.threadCpuSeconds() - selectorCpu0), f.ok};
}

// A read as the simplest programs do it: write, then spin on processEvents() and the clock
// until five bytes are there or 200 ms have passed, then busy-wait the closing pause.
HostFigures naiveRead(const QString& path, bench::WireSelector& selector)
{
    QSerialPort port(path);
    port.setBaudRate(19200);
    if (!port.open(QIODevice::ReadWrite)) return {0, 0, false};
    const double selectorCpu0 = selector.threadCpuSeconds();
    const double cpu0 = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    bool ok = true;
    qint64 sentMs = 0;
    for (int address = 0; address < kReadCells && ok; ++address) {
        const link::Frame request = link::readRequest(static_cast<std::uint8_t>(address));
        port.write(reinterpret_cast<const char*>(request.data()), link::kFrameSize);
        sentMs = wall.elapsed();
        while (port.bytesAvailable() < link::kFrameSize) {
            QCoreApplication::processEvents();
            if (wall.elapsed() - sentMs >= 200) {
                ok = false;
                break;
            }
        }
        port.read(link::kFrameSize);
    }
    while (wall.elapsed() - sentMs < 300) {
    }
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double cpu = processCpuSeconds() - cpu0 - (selector.threadCpuSeconds() - selectorCpu0);
    selector.takeGaps();
    return {seconds, cpu, ok};
}

bool wireExact(int rounds)
{
    bench::WireSelector selector(true);
    std::string error;
    if (!selector.start(&error)) {
        std::fprintf(stderr, "pty: %s\n", error.c_str());
        return false;
    }
    const QString path = QString::fromStdString(selector.slavePath());
    std::printf("wire-exact selector thread: %s\n",
                selector.realTime() ? "real-time priority" : "normal priority");
    const double pause = link::LinkTiming{}.closingPauseMs / 1000.0;
    std::vector<double> readRatios, programRatios, cpuShares, exchangeUs;
    std::vector<std::int64_t> hostGaps;
    bench::CClient floor(true, false);
    // A C client of the link's own shape: waiting in poll() on a thread of its own.
    bench::CClient shaped(true, true);
    if (!floor.ok() || !shaped.ok()) return false;
    // The reads' exchanges, stamped: on this line every reply byte comes after a wait, so the
    // code between a reply and the next request runs cold, unlike over a pty with no wire time.
    std::vector<link::turnaround::Stamp> stamps;
    std::vector<bench::WireSelector::Exchange> exchanges;
    {
        link::SerialLink serial;
        QString openError;
        if (!serial.openPort(path, &openError)) {
            std::fprintf(stderr, "pty: %s\n", qPrintable(openError));
            return false;
        }
        link::turnaround::record(true);
        selector.takeExchanges();
        for (int r = 0; r < rounds; ++r) {
            ParameterImage image;
            const HostFigures read = runOnWire(serial, selector, readJob(serial, image));
            for (const auto& stamp : link::turnaround::take())
                stamps.push_back(stamp);
            for (const auto& exchange : selector.takeExchanges())
                exchanges.push_back(exchange);
            const auto gaps = selector.takeGaps();
            const auto lates = selector.takeLates();
            hostGaps.insert(hostGaps.end(), gaps.begin(), gaps.end());
            std::printf("  host gap median %.1f us p99 %.1f us; selector late median %.1f us p99 %.1f us\n",
                        percentileUs(gaps, 0.5), percentileUs(gaps, 0.99), percentileUs(lates, 0.5),
                        percentileUs(lates, 0.99));
            const HostFigures program = runOnWire(serial, selector, link::programJobs(image));
            selector.takeGaps();
            selector.takeLates();
            link::turnaround::take();
            selector.takeExchanges();
            floor.read();
            std::thread([&] { shaped.read(); }).join();
            readRatios.push_back(read.wall / readBound(pause));
            programRatios.push_back(program.wall / programBound(pause));
            cpuShares.push_back(read.cpu / read.wall);
            // What one exchange took on average, with the pause taken out.
            exchangeUs.push_back((read.wall - pause) / (kReadCells - 1) * 1e6);
            std::printf("wire-exact pty, round %d: read %s %.4f s (bound %.4f s, x%.4f, cpu/wall %.4f), "
                        "programming %s %.4f s (bound %.4f s, x%.4f)\n",
                        r + 1, read.ok ? "ok" : "FAILED", read.wall, readBound(pause),
                        read.wall / readBound(pause), read.cpu / read.wall, program.ok ? "ok" : "FAILED",
                        program.wall, programBound(pause), program.wall / programBound(pause));
            if (!read.ok || !program.ok) return false;
        }
        link::turnaround::record(false);
    }
    if (!floor.ok() || !shaped.ok()) {
        std::fprintf(stderr, "wire-exact pty: a C client's read broke off\n");
        return false;
    }
    const double readRatio = median(readRatios);
    const double programRatio = median(programRatios);
    const double cpuShare = median(cpuShares);
    printRow("full read / line bound (wire-exact pty)", "<= 1.01",
             format("%.4f", readRatio) + format(" (bound %.4f s)", readBound(pause)), readRatio <= 1.01);
    printRow("full programming / line bound (wire-exact pty)", "<= 1.01",
             format("%.4f", programRatio) + format(" (bound %.4f s)", programBound(pause)),
             programRatio <= 1.01);

    const HostFigures naive = naiveRead(path, selector);
    const double naiveShare = naive.wall > 0 ? naive.cpu / naive.wall : 0;
    std::printf("naive reference read: %s %.4f s (x%.4f), cpu/wall %.3f\n", naive.ok ? "ok" : "FAILED",
                naive.wall, naive.wall / readBound(pause), naiveShare);

    // Where the time over the line's own goes: the host's gap, seen from the selector, beside a
    // blocking C client's on the same kind of line.
    std::printf("pty floor, blocking C client on the wire-exact line: %zu exchanges  median %7.1f us\n",
                floor.exchanges(), floor.gapMedianUs());
    printRow("  floor: host gap of a blocking C client on the wire-exact line, median", "report",
             format("%.1f us", floor.gapMedianUs()));
    printRow("  floor: the same from a C client waiting in poll() on a thread of its own, median", "report",
             format("%.1f us", shaped.gapMedianUs()));
    reportTurnaround("wire-exact line", stamps, exchanges, floor);
    const double floorUs = floor.requestToRequestUs();
    std::printf(
        "request to request: quarvel %.1f us, naive loop %.1f us, blocking C client %.1f us, line %.1f us\n",
        median(exchangeUs), (naive.wall - pause) / (kReadCells - 1) * 1e6, floorUs, kExchangeSeconds * 1e6);
    // The same read by a blocking C client: the figure's floor on this machine and this pty.
    const double floorRatio = floor.readSeconds(pause) / readBound(pause);
    printRow("  floor: full read / line bound of a blocking C client (wire-exact pty)", "report",
             format("%.4f", floorRatio));
    const double hostGap = percentileUs(hostGaps, 0.5);
    printRow("  host gap per exchange on the wire-exact line, median", "report", format("%.1f us", hostGap));
    // Against the C client measured in this same run.
    printRow("host gap median - the C client's", "<= 10 us",
             format("%+.1f us", hostGap - floor.gapMedianUs()), hostGap - floor.gapMedianUs() <= 10);
    printRow("full read ratio - the C client's", "<= 0.002", format("%+.4f", readRatio - floorRatio),
             readRatio - floorRatio <= 0.002);
    printRow("full programming ratio - the C client's read ratio", "<= 0.002",
             format("%+.4f", programRatio - floorRatio), programRatio - floorRatio <= 0.002);
    printRow("  request to request: quarvel / naive loop / C client / line", "report",
             format("%.0f / ", median(exchangeUs)) +
                 format("%.0f / ", (naive.wall - pause) / (kReadCells - 1) * 1e6) +
                 format("%.0f / ", floorUs) + format("%.0f us", kExchangeSeconds * 1e6));
    printRow("CPU / wall during full read", "<= 0.05",
             format("%.4f", cpuShare) + format(" (naive loop %.2f, ", naiveShare) +
                 format("x%.0f)", cpuShare > 0 ? naiveShare / cpuShare : 0),
             cpuShare <= 0.05);
    return true;
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

// Five time-outs and the closing pause: their full time, and next to no CPU.
void silentRead()
{
    SilentDevice silent;
    link::SerialLink serial;
    serial.attachDevice(&silent, "silent");
    ParameterImage image;
    const Figures f = runJobs(serial, readJob(serial, image));
    std::printf("silent selector (read) %s  wall %.3f s  cpu %.4f s\n", f.ok ? "succeeded?!" : "fails",
                f.wall, f.cpu);
    printRow("CPU, read of a silent selector (5 time-outs, pause)", "report",
             format("%.1f ms", f.cpu * 1e3) + format(" over %.2f s", f.wall));
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
    runJobs(serial, readJob(serial, image));
    constexpr int kQuietMs = 400;
    const double cpu0 = processCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(kQuietMs, &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("after a lost port: cpu %.4f s over %d ms idle\n", processCpuSeconds() - cpu0, kQuietMs);
}

// A read over a pty, then the port left open and quiet: the line thread must sleep (a passed
// alarm not cleared would keep it busy on a whole core).
bool idleAfterPtyRead()
{
    bench::WireSelector selector(false);
    std::string error;
    link::SerialLink serial;
    QString openError;
    if (!selector.start(&error) ||
        !serial.openPort(QString::fromStdString(selector.slavePath()), &openError)) {
        printRow("CPU, port open and quiet after a read, 1 s", "<= 10 ms", "could not run", false);
        return false;
    }
    ParameterImage image;
    const HostFigures read = runOnWire(serial, selector, readJob(serial, image));
    constexpr int kQuietMs = 1000;
    const double cpu0 = processCpuSeconds();
    const double selectorCpu0 = selector.threadCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(kQuietMs, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = processCpuSeconds() - cpu0 - (selector.threadCpuSeconds() - selectorCpu0);
    const bool ok = read.ok && cpu <= 0.010;
    printRow("CPU, port open and quiet after a read, 1 s", "<= 10 ms",
             read.ok ? format("%.2f ms", cpu * 1e3) : std::string("read failed"), ok);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int rounds = 3;
    if (const auto i = args.indexOf("--rounds"); i >= 0 && i + 1 < args.size())
        rounds = std::max(1, args.at(i + 1).toInt());

    std::printf("QUARVEL link bench, %d rounds\n", rounds);
    ownCostInProcess(rounds);
    bool ok = ownCostPty(rounds);
    ok = wireExact(rounds) && ok;
    silentRead();
    quietAfterLoss();
    ok = idleAfterPtyRead() && ok;
    return ok ? 0 : 1;
}
