#include "command_options.h"

#include "history/history_target.h"
#include "session/port_identity.h"
#include "sim/coin_types.h"

#include <QRegularExpression>

#include <initializer_list>

namespace quarvel::cli {

namespace {

constexpr std::uint32_t bit(CommandKind kind)
{
    return 1U << static_cast<unsigned>(kind);
}

constexpr std::uint32_t kRead = bit(CommandKind::Read);
constexpr std::uint32_t kProgram = bit(CommandKind::Program);
constexpr std::uint32_t kRestore = bit(CommandKind::Restore);
constexpr std::uint32_t kTeach = bit(CommandKind::Teach);
constexpr std::uint32_t kGang = bit(CommandKind::Gang);
constexpr std::uint32_t kCheck = bit(CommandKind::Check);
constexpr std::uint32_t kOnePort = kRead | kProgram | kRestore | kTeach | kCheck;
constexpr std::uint32_t kPort = kOnePort | kGang;
constexpr std::uint32_t kSim = kOnePort | bit(CommandKind::Simulate);
constexpr std::uint32_t kHistory = bit(CommandKind::History);
// The commands whose attempts the history records (a line check changes nothing).
constexpr std::uint32_t kRecorded = kRead | kProgram | kRestore | kTeach | kGang;

constexpr char kPortText[] = "Serial port: COM3, /dev/ttyUSB0, /dev/pts/7, or sim.";
constexpr char kBackupText[] =
    "Before programming, read the selector and save its memory to FILE, or as a new file in DIR (named by "
    "date, time, port and serial number); nothing is programmed when that fails. Never the file being "
    "programmed; an existing FILE only with --force. gang takes a DIR and keeps one file per selector.";

QCommandLineOption option(std::initializer_list<const char*> names, const char* description,
                          const char* valueName = nullptr)
{
    QStringList list;
    for (const char* name : names)
        list << QLatin1String(name);
    return {list, QString::fromUtf8(description), valueName ? QLatin1String(valueName) : QString()};
}

int coinTypeNamed(const QString& name)
{
    const auto types = sim::coinTypes();
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (name.compare(QLatin1String(types[i].name.data(), static_cast<qsizetype>(types[i].name.size())),
                         Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

QString readNoVerify(const OptionInput& in, Invocation& inv)
{
    inv.verify = !in.isSet();
    return {};
}

// Each of the virtual selector's options: marks them given, and refuses them on a real port.
QString simGiven(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    inv.sim.given = true;
    if (takesPort(in.command.kind) && !inv.usesSimPort())
        return QStringLiteral(
            "--memory, --wire-time, --record-type, --coin-interval and --fault need --port sim");
    return {};
}

struct Positional
{
    CommandKind command;
    const char* name;
    const char* description;
};

constexpr Positional kPositionals[] = {
    {CommandKind::Program, "FILE", "The coin data file to program."},
    {CommandKind::Gang, "FILE", "The coin data file to program."},
    {CommandKind::Restore, "BACKUP", "The backup to restore."},
    {CommandKind::Show, "FILE", "The coin data file to show."},
    {CommandKind::Diff, "FILE_A", "The first coin data file."},
    {CommandKind::Diff, "FILE_B", "The second coin data file."},
};

} // namespace

bool takesPort(CommandKind kind)
{
    return (kPort & bit(kind)) != 0;
}

bool takesSimOptions(CommandKind kind)
{
    return (kSim & bit(kind)) != 0;
}

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

} // namespace

QString coinNames()
{
    QStringList names;
    for (const auto& type : sim::coinTypes())
        names << QString::fromLatin1(type.name.data(), static_cast<qsizetype>(type.name.size()));
    return names.join(QStringLiteral(", "));
}

const QCommandLineOption& helpOption()
{
    static const QCommandLineOption help = option({"h", "help"}, "Show this help.");
    return help;
}

const std::vector<OptionRule>& optionRules()
{
    static const std::vector<OptionRule> rules{
        {option({"p", "port"}, kPortText, "PORT"), kOnePort,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return QStringLiteral("--port is required");
             if (in.values().size() > 1)
                 return QStringLiteral("%1 takes one --port; use gang for several")
                     .arg(QLatin1String(in.command.name));
             inv.port = in.values().constLast();
             if (inv.port.isEmpty()) return QStringLiteral("--port needs a port name");
             return {};
         }},
        {option({"p", "port"}, kPortText, "PORT"), kGang,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return QStringLiteral("--port is required");
             inv.ports = in.values();
             inv.port = inv.ports.constLast();
             if (inv.port.isEmpty()) return QStringLiteral("--port needs a port name");
             // Two runs on one port would corrupt each other's exchanges, and so would one port
             // named twice: a link and its target, or a by-id name and the device.
             QStringList devices;
             for (const QString& port : std::as_const(inv.ports)) {
                 if (port.isEmpty()) return QStringLiteral("--port needs a port name");
                 const QString device =
                     port == QLatin1String(kSimPort) ? port : session::canonicalPortPath(port);
                 const auto twice = devices.indexOf(device);
                 if (twice >= 0) {
                     const QString first = inv.ports.at(twice);
                     return first == port
                                ? QStringLiteral("port %1 is given twice").arg(port)
                                : QStringLiteral("%1 and %2 are the same port (%3)").arg(first, port, device);
                 }
                 devices << device;
             }
             return {};
         }},
        {option({"q", "quiet"}, "Print only errors."), kPort, nullptr, &Invocation::quiet},
        {option({"trace"}, "Print every frame sent and received on standard error: time in ms, direction, "
                           "bytes and meaning."),
         kPort, nullptr, &Invocation::trace},
        {option({"o", "output"}, "Write the image to this coin data file (- for standard output).", "FILE"),
         kRead | kTeach,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             inv.outputFile = in.value();
             if (inv.outputFile.isEmpty()) return QStringLiteral("-o needs a file name");
             return {};
         }},
        {option({"channel"}, "The coin channel to teach, 1 to 12.", "N"), kTeach,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return QStringLiteral("--channel is required");
             bool number = false;
             inv.channel = in.value().toInt(&number);
             if (!number || inv.channel < 1 || inv.channel > 12)
                 return QStringLiteral("--channel must be 1 to 12, not '%1'").arg(in.value());
             return {};
         }},
        {option({"from"}, "Start from the image in this coin data file.", "FILE"), kTeach,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             inv.fromFile = in.value();
             if (inv.fromFile.isEmpty()) return QStringLiteral("--from needs a file name");
             return {};
         }},
        {option({"program"}, "Program the taught image into the selector afterwards."), kTeach, nullptr,
         &Invocation::programAfter},
        {option({"calibrate"}, "Keep each channel's A window, as after Open & Program."), kTeach, nullptr,
         &Invocation::calibrate},
        {option({"coin"}, "With --port sim: the kind of coin fed in (default: the channel's).", "NAME"),
         kTeach,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             if (!inv.usesSimPort()) return QStringLiteral("--coin needs --port sim");
             inv.coinType = coinTypeNamed(in.value());
             if (inv.coinType < 0)
                 return QStringLiteral("unknown coin '%1'; the coins are %2").arg(in.value(), coinNames());
             return {};
         }},
        {option({"json"}, "Print one JSON value instead of text."),
         kRead | bit(CommandKind::Show) | bit(CommandKind::Ports),
         [](const OptionInput& in, Invocation& inv) -> QString {
             inv.json = in.isSet();
             if (inv.json && !inv.outputFile.isEmpty())
                 return QStringLiteral("--json prints the settings; it cannot go with -o");
             return {};
         }},
        {option({"log"}, "Append one CSV row per selector to this file.", "FILE.csv"), kGang,
         [](const OptionInput& in, Invocation& inv) -> QString {
             inv.logFile = in.value();
             if (in.isSet() && inv.logFile.isEmpty()) return QStringLiteral("--backup and --log need a name");
             return {};
         }},
        {option({"wait"}, "Station mode: program each next selector on a port, until Ctrl-C."), kGang,
         nullptr, &Invocation::wait},
        {option({"count"}, "Read exchanges to send (default 50).", "N"), kCheck,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             bool number = false;
             inv.count = in.value().toInt(&number);
             if (!number || inv.count < 1 || inv.count > 100000)
                 return QStringLiteral("--count must be 1 to 100000, not '%1'").arg(in.value());
             return {};
         }},
        {option({"no-verify"}, "Do not read the selector back after programming. By default the programmed "
                               "cells are read back and every cell that differs is listed (exit code 3)."),
         kProgram | kTeach, readNoVerify},
        // A gang reports a difference as that selector's FAIL: exit code 2, never 3.
        {option({"no-verify"}, "Do not read each selector back after programming. By default each is read "
                               "back, and one whose programmed cells differ fails."),
         kGang, readNoVerify},
        // Reading back is the default; --verify stays accepted so that existing scripts keep working.
        {option({"verify"}, "Read back after programming (the default)."), kProgram | kGang,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (in.isSet() && !inv.verify)
                 return QStringLiteral("--verify and --no-verify cannot go together");
             return {};
         }},
        {option({"force"}, "Program cells that are not numbers 0..255 all the same, as the bytes listed; let "
                           "--backup replace an existing file."),
         kTeach | kProgram | kGang, nullptr, &Invocation::force},
        {option({"force"}, "Restore a backup taken from another selector, and cells that are not numbers "
                           "0..255 as the bytes listed; let --backup replace an existing file."),
         kRestore, nullptr, &Invocation::force},
        {option({"backup"}, kBackupText, "FILE|DIR"), kProgram | kTeach | kRestore,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             inv.backup = in.value();
             if (inv.backup.isEmpty()) return QStringLiteral("--backup needs a file or folder");
             if (in.command.kind == CommandKind::Teach && !inv.programAfter)
                 return QStringLiteral("--backup goes with --program");
             return {};
         }},
        {option({"backup"}, kBackupText, "FILE|DIR"), kGang,
         [](const OptionInput& in, Invocation& inv) -> QString {
             inv.backupDir = in.value();
             if (in.isSet() && inv.backupDir.isEmpty())
                 return QStringLiteral("--backup and --log need a name");
             return {};
         }},
        {option({"pty"}, "Serve the selector on a pseudo-terminal."), bit(CommandKind::Simulate), nullptr,
         &Invocation::pty},
        {option({"swap"},
                "Play a station's operator: take each programmed selector off once the host only polls it, "
                "and put the next on after MIN to MAX ms (e.g. 300-3000).",
                "MIN-MAX"),
         bit(CommandKind::Simulate),
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             static const QRegularExpression range(QStringLiteral("^(\\d{1,6})-(\\d{1,6})$"));
             const auto match = range.match(in.value());
             if (!match.hasMatch() || match.captured(1).toLongLong() > match.captured(2).toLongLong())
                 return QStringLiteral("--swap takes MIN-MAX in milliseconds, as 300-3000, not '%1'")
                     .arg(in.value());
             sim::SwapPlan plan;
             plan.minGapMs = match.captured(1).toLongLong();
             plan.maxGapMs = match.captured(2).toLongLong();
             inv.sim.swaps = plan;
             return {};
         }},
        {option({"put-back"},
                "With --swap: take these units (1 = the first) off in the middle of programming and put "
                "them back once the host is done with them, e.g. 2 or 2,5.",
                "N,..."),
         bit(CommandKind::Simulate),
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             if (!inv.sim.swaps) return QStringLiteral("--put-back needs --swap");
             for (const QString& unit : in.value().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                 bool ok = false;
                 const int n = unit.trimmed().toInt(&ok);
                 if (!ok || n < 1)
                     return QStringLiteral("--put-back takes unit numbers from 1, as 2 or 2,5, not '%1'")
                         .arg(in.value());
                 inv.sim.swaps->putBack.insert(n);
             }
             return {};
         }},
        {option({"half-gap"},
                "Send each measurement record's second half this many ms after its first "
                "(default 0).",
                "MS"),
         bit(CommandKind::Simulate),
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             bool ok = false;
             const uint ms = in.value().toUInt(&ok);
             if (!ok || ms > 600000)
                 return QStringLiteral("--half-gap takes 0..600000 ms, not '%1'").arg(in.value());
             inv.halfGapMs = static_cast<int>(ms);
             return {};
         }},
        {option({"repeat-answer"},
                "Send the start answer again, unasked, before the Nth coin of each sampling run (N:half: "
                "between its halves).",
                "N[:half]"),
         bit(CommandKind::Simulate),
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             static const QRegularExpression form(QStringLiteral("^(\\d{1,4})(:half)?$"));
             const auto match = form.match(in.value());
             if (!match.hasMatch() || match.captured(1).toInt() < 1)
                 return QStringLiteral("--repeat-answer takes N or N:half (N from 1), not '%1'")
                     .arg(in.value());
             inv.repeatAnswer = {match.captured(1).toInt(), match.hasCaptured(2)};
             return {};
         }},
        {option({"memory"},
                "Start the virtual selector from this coin data file (cells it lacks keep the factory "
                "values).",
                "FILE"),
         kSim,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (QString wrong = simGiven(in, inv); !wrong.isEmpty() || !in.isSet()) return wrong;
             inv.sim.memoryFile = in.values().constLast();
             if (inv.sim.memoryFile.isEmpty()) return QStringLiteral("--memory needs a file name");
             return {};
         }},
        {option({"wire-time"}, "Pace the virtual selector's bytes as a 19200-baud line would."), kSim,
         [](const OptionInput& in, Invocation& inv) -> QString {
             inv.sim.wireTime = in.isSet();
             return simGiven(in, inv);
         }},
        {option({"record-type"},
                "Type byte of a regular coin's measurement record, 0..255 or 0x00..0xFF (default 0).", "N"),
         kSim,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (QString wrong = simGiven(in, inv); !wrong.isEmpty() || !in.isSet()) return wrong;
             bool ok = false;
             const uint type = in.value().toUInt(&ok, 0);
             if (!ok || type > 255)
                 return QStringLiteral("--record-type takes 0..255 (or 0x00..0xFF), not '%1'")
                     .arg(in.value());
             inv.sim.recordType = static_cast<std::uint8_t>(type);
             return {};
         }},
        {option({"coin-interval"},
                "Milliseconds between the coins fed to the virtual selector (default: a hand's pace, 600 to "
                "900).",
                "MS"),
         kSim,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (QString wrong = simGiven(in, inv); !wrong.isEmpty() || !in.isSet()) return wrong;
             bool ok = false;
             const int ms = in.value().toInt(&ok);
             if (!ok || ms < 0 || ms > 60000)
                 return QStringLiteral("--coin-interval takes 0..60000 milliseconds, not '%1'")
                     .arg(in.value());
             inv.sim.coinIntervalMs = ms;
             return {};
         }},
        {option({"fault"},
                "Faults for the virtual selector to commit (see below); may be given more than once.",
                "SPEC"),
         kSim,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (QString wrong = simGiven(in, inv); !wrong.isEmpty() || !in.isSet()) return wrong;
             // Several --fault options make one plan, as if joined by commas.
             const QString text = in.values().join(QLatin1Char(','));
             if (text.isEmpty()) return {};
             const auto parsed = sim::FaultPlan::parse(text.toStdString());
             if (!parsed.plan) return QString::fromStdString(parsed.error);
             inv.sim.faults = *parsed.plan;
             return {};
         }},
        {option({"no-history"}, "Record nothing in the history."), kRecorded, nullptr,
         &Invocation::noHistory},
        {option({"history"},
                "Record in a line's PostgreSQL server instead of the user's own file (the password from "
                "PGPASSWORD or ~/.pgpass; while the server cannot be reached, records wait in that file).",
                "postgresql://HOST/DATABASE"),
         kRecorded, readHistoryUrl},
        {option({"station"}, "The station's name in the history.", "NAME"), kGang,
         [](const OptionInput& in, Invocation& inv) -> QString {
             inv.station = in.value();
             return {};
         }},
        {option({"history"}, "Ask a line's PostgreSQL server instead of the user's own file.",
                "postgresql://HOST/DATABASE"),
         kHistory, readHistoryUrl},
        {option({"serial"}, "Only the selector with this serial number.", "N"), kHistory,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             bool ok = false;
             inv.serialNo = in.value().toInt(&ok);
             if (!ok || inv.serialNo < 0 || inv.serialNo > 255)
                 return QStringLiteral("--serial takes 0..255, not '%1'").arg(in.value());
             return {};
         }},
        {option({"since"}, "Only attempts on or after this day or time (2026-12-08, 2026-12-08T14:00).",
                "DATE"),
         kHistory,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             inv.since = QDateTime::fromString(in.value(), Qt::ISODate);
             if (!inv.since.isValid())
                 inv.since = QDateTime(QDate::fromString(in.value(), Qt::ISODate), QTime(0, 0));
             if (!inv.since.isValid())
                 return QStringLiteral("--since takes a date as 2026-12-08 or 2026-12-08T14:00, not '%1'")
                     .arg(in.value());
             return {};
         }},
        {option({"file"}, "Only attempts with this coin data file (its name, or its path).", "NAME"),
         kHistory,
         [](const OptionInput& in, Invocation& inv) -> QString {
             inv.coinFile = in.value();
             return {};
         }},
        {option({"failed"}, "Only attempts that failed."), kHistory, nullptr, &Invocation::failedOnly},
        {option({"station"}, "Only attempts of this station.", "NAME"), kHistory,
         [](const OptionInput& in, Invocation& inv) -> QString {
             inv.station = in.value();
             return {};
         }},
        {option({"csv"}, "Print CSV, one row per attempt, a header first."), kHistory, nullptr,
         &Invocation::csv},
        {option({"json"}, "Print one JSON array, one object per attempt."), kHistory,
         [](const OptionInput& in, Invocation& inv) -> QString {
             inv.json = in.isSet();
             if (inv.json && inv.csv) return QStringLiteral("--csv and --json cannot go together");
             return {};
         }},
        {option({"diff"}, "List the settings the attempt ID changed.", "ID"), kHistory,
         [](const OptionInput& in, Invocation& inv) -> QString {
             if (!in.isSet()) return {};
             inv.diffId = in.value().trimmed();
             if (inv.diffId.size() < 4) return QStringLiteral("--diff takes at least 4 characters of an id");
             return {};
         }},
    };
    return rules;
}

void addOptions(QCommandLineParser& parser, CommandKind kind)
{
    parser.addOption(helpOption());
    for (const OptionRule& rule : optionRules()) {
        if (rule.takenBy(kind)) parser.addOption(rule.option);
    }
    for (const Positional& positional : kPositionals) {
        if (positional.command == kind)
            parser.addPositionalArgument(QLatin1String(positional.name),
                                         QString::fromUtf8(positional.description));
    }
}

QStringList positionalNames(CommandKind kind)
{
    QStringList names;
    for (const Positional& positional : kPositionals) {
        if (positional.command == kind) names << QLatin1String(positional.name);
    }
    return names;
}

} // namespace quarvel::cli
