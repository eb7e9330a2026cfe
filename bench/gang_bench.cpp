// The production-line figures, each as a line for people and a row for the table of `make bench`:
//
// 1. Gang: N wire-exact selectors on N ptys, programmed and verified at once by one process on
//    one event loop (session::GangRun), against the slowest of the same selectors done one at a
//    time; and the host's CPU over wall during the gang (the selectors' own threads left out).
// 2. A USB adapter's 16 ms latency timer, emulated: a full read against the line bound, and
//    what the link check says of it (and of the same selector without it); a teach run through
//    it, whose records may come in two chunks a tick apart.
//
//   gang_bench [--ports N] [--large M]      (0 leaves that gang out)
#include "bench_row.h"
#include "wire_selector.h"

#include "image/parameter_image.h"
#include "session/gang_run.h"
#include "session/selector_session.h"
#include "sim/virtual_selector.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QStringList>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

using namespace quarvel;
using bench::format;
using bench::printRow;

namespace {

constexpr double kExchangeSeconds =
    (10 * bench::WireSelector::kByteNs + bench::WireSelector::kTurnaroundNs) / 1e9;

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

ParameterImage fileImage()
{
    ParameterImage image;
    for (int a = 0; a < ParameterImage::kCellCount; ++a)
        image.setNumber(a, (a * 7 + 3) % 200);
    return image;
}

struct Selectors
{
    std::vector<std::unique_ptr<bench::WireSelector>> all;
    QStringList paths;
    double threadCpu() const
    {
        double cpu = 0;
        for (const auto& s : all)
            cpu += s->threadCpuSeconds();
        return cpu;
    }
};

bool startSelectors(Selectors& selectors, int count)
{
    for (int i = 0; i < count; ++i) {
        auto selector = std::make_unique<bench::WireSelector>(true);
        selector->setSpin(false);
        std::string error;
        if (!selector->start(&error)) {
            std::fprintf(stderr, "wire selector: %s\n", error.c_str());
            return false;
        }
        selectors.paths << QString::fromStdString(selector->slavePath());
        selectors.all.push_back(std::move(selector));
    }
    return true;
}

struct GangFigures
{
    double wall = 0;
    double hostCpu = 0;
    int passed = 0;
};

GangFigures runGang(const QStringList& ports, const Selectors& selectors)
{
    session::GangJob job;
    job.image = fileImage();
    job.verify = true;
    session::GangRun run(ports, job);
    QEventLoop loop;
    QObject::connect(&run, &session::GangRun::finished, &loop, &QEventLoop::quit);
    const double cpu0 = processCpuSeconds() - selectors.threadCpu();
    QElapsedTimer wall;
    wall.start();
    run.start();
    loop.exec();
    GangFigures f;
    f.wall = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    f.hostCpu = processCpuSeconds() - selectors.threadCpu() - cpu0;
    f.passed = run.passed();
    return f;
}

void gang(int ports, bool againstSingles, double& slowestSingle)
{
    Selectors selectors;
    if (!startSelectors(selectors, ports)) return;
    if (againstSingles) {
        for (const QString& port : selectors.paths) {
            const GangFigures one = runGang({port}, selectors);
            slowestSingle = std::max(slowestSingle, one.wall);
        }
    }
    const GangFigures f = runGang(selectors.paths, selectors);
    const double ratio = f.wall / slowestSingle;
    const double cpu = f.hostCpu / f.wall;
    std::printf(
        "gang of %d, program and verify: %d passed, wall %.2f s, slowest single alone %.2f s, ratio %.3f, "
        "host CPU/wall %.3f\n",
        ports, f.passed, f.wall, slowestSingle, ratio, cpu);
    const std::string name = "gang of " + std::to_string(ports) + " ptys, program+verify";
    if (againstSingles) {
        printRow(name + ", wall / slowest single", "<= 1.05", format("%.3f", ratio),
                 ratio <= 1.05 && f.passed == ports);
        printRow(name + ", CPU / wall", "<= 0.10", format("%.3f", cpu), cpu <= 0.10);
    } else {
        printRow(name + ", wall / slowest single", "reported",
                 format("%.3f", ratio) + " (" + std::to_string(f.passed) + " passed)");
        printRow(name + ", CPU / wall", "reported", format("%.3f", cpu));
    }
}

// Starts the selector on its pty and opens that port in the session.
bool serve(bench::WireSelector& selector, session::SelectorSession& session)
{
    std::string error;
    if (!selector.start(&error)) {
        std::fprintf(stderr, "wire selector: %s\n", error.c_str());
        return false;
    }
    return session.device().openPort(QString::fromStdString(selector.slavePath()));
}

void latencyTimer()
{
    for (const int latencyMs : {16, 0}) {
        bench::WireSelector selector(true);
        selector.setLatencyTimerMs(latencyMs);
        session::SelectorSession session;
        if (!serve(selector, session)) return;
        QElapsedTimer wall;
        wall.start();
        auto read = session.readSelector();
        QSignalSpy readDone(read.operation, &session::ReadOperation::finished);
        readDone.wait(60000);
        const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
        const double bound = (189 - 1) * kExchangeSeconds + std::max(0.3, kExchangeSeconds);
        auto check = session.device().checkLink(50);
        QSignalSpy checkDone(check.operation, &session::CheckOperation::finished);
        checkDone.wait(60000);
        const auto result = checkDone.isEmpty() ? session::CheckResult{}
                                                : checkDone.takeFirst().at(0).value<session::CheckResult>();
        const std::string label = latencyMs ? "16 ms latency timer" : "wire-exact, no latency timer";
        std::printf("%s: full read %.2f s, %.2f x the line bound; check median %.2f ms: %s\n", label.c_str(),
                    seconds, seconds / bound, result.report.medianMs, result.report.text.c_str());
        printRow("full read, " + label + ", / line bound", "reported", format("%.2f", seconds / bound));
        const auto expected = latencyMs ? link::LineDiagnosis::LatencyTimer : link::LineDiagnosis::Healthy;
        printRow("check diagnosis, " + label, latencyMs ? "latency timer" : "line healthy",
                 latencyMs ? (result.report.diagnosis == expected ? "latency timer" : result.report.text)
                           : result.report.text,
                 result.report.diagnosis == expected);
    }
}

// Teach over a pty, its records from a selector whose regular type is 0x10, through the
// latency timer's chunks and without: both must give the same "Sampling ok" line.
void teachThroughLatencyTimer()
{
    QString lines[2];
    for (const int latencyMs : {16, 0}) {
        bench::WireSelector selector(true);
        selector.setLatencyTimerMs(latencyMs);
        selector.feedCoinsWhileSampling(1, 12, 150, 0x10);
        session::SelectorSession session;
        if (!serve(selector, session)) return;
        auto run = session.startSampling(2);
        if (run.operation == nullptr) return;
        QSignalSpy done(run.operation, &session::SamplingOperation::finished);
        done.wait(20000);
        const auto result = done.isEmpty() ? session::SamplingResult{}
                                           : done.takeFirst().at(0).value<session::SamplingResult>();
        lines[latencyMs ? 0 : 1] =
            result.succeeded() ? result.successText : QStringLiteral("failed: ") + result.message;
    }
    std::printf("teach, record type 0x10, 16 ms latency timer: %s\nteach, record type 0x10, wire-exact: %s\n",
                qPrintable(lines[0]), qPrintable(lines[1]));
    printRow("teach through a 16 ms latency timer, record type 0x10", "Sampling ok, as wire-exact",
             lines[0].toStdString(),
             lines[0].startsWith(QLatin1String("Sampling ok")) && lines[0] == lines[1]);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int ports = 8;
    int large = 32;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--ports")) ports = args[i + 1].toInt();
        if (args[i] == QLatin1String("--large")) large = args[i + 1].toInt();
    }
    double slowestSingle = 0;
    if (ports > 0) gang(ports, true, slowestSingle);
    if (large > 0) gang(large, false, slowestSingle);
    latencyTimer();
    teachThroughLatencyTimer();
    return 0;
}
