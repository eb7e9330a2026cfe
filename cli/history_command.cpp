#include "history_command.h"

#include "exit_codes.h"
#include "image_diff.h"
#include "json_text.h"
#include "text_columns.h"

#include "history/history_setup.h"
#include "history/history_store.h"
#include "image/parameter_image.h"

#include <QFileInfo>

#include <iostream>

namespace quarvel::cli {

namespace {

std::string text(const QString& value)
{
    return value.toStdString();
}

QString timeOf(const history::HistoryRecord& r)
{
    return r.at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString resultOf(const history::HistoryRecord& r)
{
    return r.succeeded ? QStringLiteral("ok") : QStringLiteral("FAILED");
}

QString serialOf(const history::HistoryRecord& r)
{
    return r.serialNo >= 0 ? QString::number(r.serialNo) : QStringLiteral("-");
}

// RFC 4180: a field with a comma, quote or line break is quoted, its quotes doubled.
std::string csvField(QString value)
{
    if (value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('"')) ||
        value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'))) {
        value.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        value = QLatin1Char('"') + value + QLatin1Char('"');
    }
    return text(value);
}

// The memory as an image whose cells hold the bytes, for the settings' names and meanings.
ParameterImage imageOf(const QByteArray& cells)
{
    ParameterImage image;
    for (int cell = 0; cell < cells.size(); ++cell)
        image.setNumber(cell, static_cast<unsigned char>(cells[cell]));
    return image;
}

int diffOne(history::HistoryStore& store, const QString& id)
{
    const auto found = store.withIdPrefix(id);
    if (found.size() != 1) {
        std::cerr << "quarvelctl history: "
                  << (found.empty() ? "no attempt has the id " : "more than one attempt's id begins with ")
                  << text(id) << '\n';
        return exit_code::kTrouble;
    }
    const history::HistoryRecord& r = found.front();
    std::cout << text(r.id) << "  " << text(timeOf(r)) << "  " << text(r.operation) << "  serial "
              << text(serialOf(r)) << '\n';
    if (history::changesOf(r).empty() && history::changeSummary(r) != QLatin1String("no change")) {
        std::cerr << "quarvelctl history: the selector's memory " << (r.before.isEmpty() ? "before" : "after")
                  << " this attempt is not known (read with a backup, and verify, to record it)\n";
        return exit_code::kTrouble;
    }
    const auto differences = diffImages(imageOf(r.before), imageOf(r.after));
    std::cout << differencesText(differences) << differences.size()
              << (differences.size() == 1 ? " cell changed\n" : " cells changed\n") << std::flush;
    return exit_code::kSuccess;
}

} // namespace

std::string historyTable(const std::vector<history::HistoryRecord>& records)
{
    std::string out =
        "id        time                 operation  result  completion        serial  port            "
        "station     file             changed\n";
    for (const auto& r : records) {
        out += padRight(text(r.id.left(8)), 10) + padRight(text(timeOf(r)), 21) +
               padRight(text(r.operation), 11) + padRight(text(resultOf(r)), 8) +
               padRight(text(r.completion), 18) + padRight(text(serialOf(r)), 8) +
               padRight(text(r.port), 16) + padRight(text(r.station), 12) +
               padRight(text(QFileInfo(r.coinFile).fileName()), 17) + text(history::changeSummary(r)) + '\n';
    }
    return out;
}

std::string historyCsv(const std::vector<history::HistoryRecord>& records)
{
    std::string out =
        "id,time,host,station,port,adapter,serial_number,identity,operation,result,completion,"
        "time_outs,bad_checksums,wrong_echoes,echoes,duration_ms,coin_data_file,sha256,backup_file,"
        "memory_before,memory_after,message\n";
    for (const auto& r : records) {
        const QStringList fields{r.id,
                                 r.at.toUTC().toString(Qt::ISODateWithMs),
                                 r.host,
                                 r.station,
                                 r.port,
                                 r.adapter,
                                 r.serialNo >= 0 ? QString::number(r.serialNo) : QString(),
                                 QString::fromLatin1(r.identity.toHex()),
                                 r.operation,
                                 r.succeeded ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
                                 r.completion,
                                 QString::number(r.timeOuts),
                                 QString::number(r.badChecksums),
                                 QString::number(r.wrongEchoes),
                                 QString::number(r.echoes),
                                 QString::number(r.durationMs),
                                 r.coinFile,
                                 r.coinSha256,
                                 r.backupFile,
                                 QString::fromLatin1(r.before.toHex()),
                                 QString::fromLatin1(r.after.toHex()),
                                 r.message};
        for (qsizetype i = 0; i < fields.size(); ++i)
            out += (i ? "," : "") + csvField(fields[i]);
        out += '\n';
    }
    return out;
}

std::string historyJson(const std::vector<history::HistoryRecord>& records)
{
    std::string out = "[";
    for (std::size_t n = 0; n < records.size(); ++n) {
        const auto& r = records[n];
        const auto quoted = [](const QString& value) { return jsonQuote(value.toStdString()); };
        out += n ? ",\n {" : "\n {";
        out +=
            "\"id\": " + quoted(r.id) + ", \"time\": " + quoted(r.at.toUTC().toString(Qt::ISODateWithMs)) +
            ", \"host\": " + quoted(r.host) + ", \"station\": " + quoted(r.station) +
            ", \"port\": " + quoted(r.port) + ", \"adapter\": " + quoted(r.adapter) +
            ", \"serial_number\": " + (r.serialNo >= 0 ? std::to_string(r.serialNo) : std::string("null")) +
            ", \"identity\": " + quoted(QString::fromLatin1(r.identity.toHex())) +
            ", \"operation\": " + quoted(r.operation) +
            ", \"succeeded\": " + (r.succeeded ? "true" : "false") +
            ", \"completion\": " + quoted(r.completion) +
            ", \"faults\": {\"time_outs\": " + std::to_string(r.timeOuts) +
            ", \"bad_checksums\": " + std::to_string(r.badChecksums) +
            ", \"wrong_echoes\": " + std::to_string(r.wrongEchoes) +
            ", \"echoes\": " + std::to_string(r.echoes) +
            "}, \"duration_ms\": " + std::to_string(r.durationMs) +
            ", \"coin_data_file\": " + quoted(r.coinFile) + ", \"sha256\": " + quoted(r.coinSha256) +
            ", \"backup_file\": " + quoted(r.backupFile) +
            ", \"memory_before\": " + quoted(QString::fromLatin1(r.before.toHex())) +
            ", \"memory_after\": " + quoted(QString::fromLatin1(r.after.toHex())) +
            ", \"changed\": " + quoted(history::changeSummary(r)) + ", \"message\": " + quoted(r.message) +
            "}";
    }
    return out + (records.empty() ? "]\n" : "\n]\n");
}

int runHistory(const Invocation& invocation)
{
    history::HistoryTarget target;
    target.path = history::defaultHistoryFile();
    if (!invocation.historyUrl.isEmpty())
        target = *history::parseHistoryUrl(invocation.historyUrl).target;
    else if (!QFileInfo::exists(target.path)) {
        // Nothing recorded yet: an empty list, and no file made by asking.
        std::cout << (invocation.json  ? "[]\n"
                      : invocation.csv ? historyCsv({})
                                       : historyTable({}))
                  << std::flush;
        return exit_code::kSuccess;
    }
    history::HistoryStore store(QStringLiteral("history-command"));
    if (!store.open(target)) {
        std::cerr << "quarvelctl history: " << text(target.printable()) << ": "
                  << text(store.lastError().trimmed()) << '\n';
        return exit_code::kUsageOrFile;
    }
    if (!invocation.diffId.isEmpty()) return diffOne(store, invocation.diffId);
    history::HistoryFilter filter;
    filter.serialNo = invocation.serialNo;
    filter.since = invocation.since;
    filter.coinFile = invocation.coinFile;
    filter.station = invocation.station;
    filter.failedOnly = invocation.failedOnly;
    const auto records = store.find(filter);
    if (records.empty() && !store.lastError().isEmpty()) {
        std::cerr << "quarvelctl history: " << text(store.lastError()) << '\n';
        return exit_code::kUsageOrFile;
    }
    std::cout << (invocation.json  ? historyJson(records)
                  : invocation.csv ? historyCsv(records)
                                   : historyTable(records))
              << std::flush;
    return exit_code::kSuccess;
}

} // namespace quarvel::cli
