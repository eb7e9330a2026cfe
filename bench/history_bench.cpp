// The history's cost, as a line for people and a row for the table of `make bench`:
//
// 1. SQLite: what recording adds to an operation on the thread that ran it (making the record
//    from the typed result and handing it to the recorder), what the recorder's own thread then
//    spends writing it, and a programming of the in-process virtual selector with and without
//    the history.
// 2. A line's PostgreSQL server (with --server URL): one station of eight ports recording a
//    thousand attempts at once; the rows that arrived, the time, and none lost or doubled.
//
//   history_bench [--rounds N] [--server postgresql://host/database]
#include "bench_row.h"

#include "history/history_recorder.h"
#include "history/history_store.h"
#include "session/history_entry.h"
#include "session/selector_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

using namespace quarvel;
using bench::format;
using bench::printRow;

namespace {

ParameterImage patternImage(int salt)
{
    ParameterImage image;
    for (int a = 0; a < ParameterImage::kCellCount; ++a)
        image.setNumber(a, (a * 37 + salt) % 256);
    return image;
}

session::ProgramResult programmed()
{
    session::ProgramResult result;
    result.reason = link::EndReason::Succeeded;
    result.verified = true;
    result.verifyAsked = true;
    result.before = patternImage(1);
    result.readBack = patternImage(2);
    result.sent = result.readBack;
    return result;
}

history::HistoryTarget fileAt(const QString& path)
{
    history::HistoryTarget target;
    target.path = path;
    return target;
}

// Median milliseconds of a programming of the in-process selector, with or without a recorder.
double programmingMs(history::HistoryRecorder* recorder, int rounds)
{
    session::SelectorSession session;
    session.bench().open();
    session.device().setHistory(recorder);
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        session::ProgramRequest request;
        request.image = patternImage(i);
        request.verify = true;
        QEventLoop loop;
        QElapsedTimer clock;
        clock.start();
        auto started = session.device().program(request);
        if (!started) return -1;
        double took = 0;
        // Until the operation has ended: its record is made and handed over before ended().
        QObject::connect(started.operation, &session::Operation::ended, &loop, [&] {
            took = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            loop.quit();
        });
        loop.exec();
        ms.push_back(took);
    }
    return bench::median(ms);
}

void sqliteFigures(int rounds)
{
    QTemporaryDir dir;
    history::RecorderConfig config;
    config.local = fileAt(dir.filePath(QStringLiteral("history.sqlite")));
    history::HistoryRecorder recorder(config);
    recorder.sync();

    const session::ProgramResult result = programmed();
    session::OperationFacts facts;
    facts.operation = QStringLiteral("program");
    facts.port = QStringLiteral("/dev/ttyUSB0");
    constexpr int kRecords = 1000;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kRecords; ++i)
        recorder.record(session::historyRecordOf(result, facts));
    const double callerMs = static_cast<double>(clock.nsecsElapsed()) / 1e6 / kRecords;
    recorder.sync();
    const double writeMs = static_cast<double>(clock.nsecsElapsed()) / 1e6 / kRecords;
    std::printf("SQLite: %.3f ms per record on the operation's thread, %.2f ms per record written by the "
                "recorder's thread (%d records)\n",
                callerMs, writeMs, kRecords);
    printRow("history: time added to an operation by its record (SQLite)", "< 5 ms",
             format("%.3f ms", callerMs), callerMs < 5);
    printRow("history: SQLite write per record, on the recorder's thread", "-", format("%.2f ms", writeMs));

    const double without = programmingMs(nullptr, rounds);
    const double with = programmingMs(&recorder, rounds);
    std::printf(
        "programming the in-process selector: %.2f ms without the history, %.2f ms with it (median of "
        "%d)\n",
        without, with, rounds);
    printRow("history: programming with the history minus without (in-process selector)", "< 5 ms",
             format("%.2f ms", with - without), with - without < 5);
}

void serverFigures(const QString& url)
{
    const auto parsed = history::parseHistoryUrl(url);
    if (!parsed.target) {
        std::fprintf(stderr, "%s\n", qPrintable(parsed.error));
        return;
    }
    QTemporaryDir dir;
    history::RecorderConfig config;
    config.local = fileAt(dir.filePath(QStringLiteral("spool.sqlite")));
    config.server = parsed.target;
    constexpr int kPorts = 8;
    constexpr int kAttempts = 1000;
    const QString run = history::newAttemptId().left(8);
    session::OperationFacts facts;
    facts.operation = QStringLiteral("station");
    facts.station = QStringLiteral("bench ") + run;
    QElapsedTimer clock;
    clock.start();
    {
        // One station, as gang runs it: one recorder, eight ports recording as their units end.
        history::HistoryRecorder recorder(config);
        std::vector<std::unique_ptr<QThread>> ports;
        for (int p = 0; p < kPorts; ++p) {
            ports.emplace_back(QThread::create([&, p] {
                session::OperationFacts mine = facts;
                mine.port = QStringLiteral("/dev/ttyUSB%1").arg(p);
                for (int i = p; i < kAttempts; i += kPorts)
                    recorder.record(session::historyRecordOf(programmed(), mine));
            }));
            ports.back()->start();
        }
        for (auto& port : ports)
            port->wait();
        recorder.sync();
        if (recorder.waiting() != 0)
            std::printf("%d records still waiting for the server\n", recorder.waiting());
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    history::HistoryStore server(QStringLiteral("bench-check"));
    if (!server.open(*parsed.target)) {
        std::fprintf(stderr, "%s\n", qPrintable(server.lastError()));
        return;
    }
    history::HistoryFilter filter;
    filter.station = facts.station;
    const auto rows = server.find(filter);
    std::printf("PostgreSQL: %d ports, %d attempts: %zu rows in %.2f s (%.0f records/s)\n", kPorts, kAttempts,
                rows.size(), seconds, static_cast<double>(rows.size()) / seconds);
    printRow("history: 8 ports, 1000 attempts to one PostgreSQL server: rows", "1000",
             std::to_string(rows.size()), rows.size() == kAttempts);
    printRow("history: 8 ports, 1000 attempts to one PostgreSQL server: time", "-",
             format("%.2f s", seconds));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 20;
    QString server;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--rounds")) rounds = args[i + 1].toInt();
        if (args[i] == QLatin1String("--server")) server = args[i + 1];
    }
    sqliteFigures(rounds);
    if (!server.isEmpty()) serverFigures(server);
    return 0;
}
