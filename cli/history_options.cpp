#include "option_rows.h"

#include "history/history_target.h"

#include <QDateTime>

namespace quarvel::cli::options {

namespace {

// --history: a line's server, as a URL without a password.
QString readHistoryUrl(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    inv.historyUrl = in.value();
    const auto parsed = history::parseHistoryUrl(inv.historyUrl);
    if (!parsed.target) return parsed.error;
    if (inv.noHistory) return QStringLiteral("--history and --no-history cannot go together");
    return {};
}

QString readStation(const OptionInput& in, Invocation& inv)
{
    inv.station = in.value();
    return {};
}

QString readSerial(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    bool ok = false;
    inv.serialNo = in.value().toInt(&ok);
    if (!ok || inv.serialNo < 0 || inv.serialNo > 255)
        return QStringLiteral("--serial takes 0..255, not '%1'").arg(in.value());
    return {};
}

QString readSince(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    inv.since = QDateTime::fromString(in.value(), Qt::ISODate);
    if (!inv.since.isValid()) inv.since = QDateTime(QDate::fromString(in.value(), Qt::ISODate), QTime(0, 0));
    if (!inv.since.isValid())
        return QStringLiteral("--since takes a date as 2026-12-08 or 2026-12-08T14:00, not '%1'")
            .arg(in.value());
    return {};
}

QString readFile(const OptionInput& in, Invocation& inv)
{
    inv.coinFile = in.value();
    return {};
}

QString readJson(const OptionInput& in, Invocation& inv)
{
    inv.json = in.isSet();
    if (inv.json && inv.csv) return QStringLiteral("--csv and --json cannot go together");
    return {};
}

QString readDiff(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    inv.diffId = in.value().trimmed();
    if (inv.diffId.size() < 4) return QStringLiteral("--diff takes at least 4 characters of an id");
    return {};
}

} // namespace

std::vector<OptionRule> historyOptionRules()
{
    return {
        {option({"no-history"}, "Record nothing in the history."), kRecorded, nullptr,
         &Invocation::noHistory},
        {option({"history"},
                "Record in a line's PostgreSQL server instead of the user's own file (the password from "
                "PGPASSWORD or ~/.pgpass; while the server cannot be reached, records wait in that file).",
                "postgresql://HOST/DATABASE"),
         kRecorded, readHistoryUrl},
        {option({"station"}, "The station's name in the history.", "NAME"), kGang, readStation},
        {option({"history"}, "Ask a line's PostgreSQL server instead of the user's own file.",
                "postgresql://HOST/DATABASE"),
         kHistory, readHistoryUrl},
        {option({"serial"}, "Only the selector with this serial number.", "N"), kHistory, readSerial},
        {option({"since"}, "Only attempts on or after this day or time (2026-12-08, 2026-12-08T14:00).",
                "DATE"),
         kHistory, readSince},
        {option({"file"}, "Only attempts with this coin data file (its name, or its path).", "NAME"),
         kHistory, readFile},
        {option({"failed"}, "Only attempts that failed."), kHistory, nullptr, &Invocation::failedOnly},
        {option({"station"}, "Only attempts of this station.", "NAME"), kHistory, readStation},
        {option({"csv"}, "Print CSV, one row per attempt, a header first."), kHistory, nullptr,
         &Invocation::csv},
        {option({"json"}, "Print one JSON array, one object per attempt."), kHistory, readJson},
        {option({"diff"}, "List the settings the attempt ID changed.", "ID"), kHistory, readDiff},
    };
}

} // namespace quarvel::cli::options
