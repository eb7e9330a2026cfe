#include "command_options.h"

#include "option_rows.h"

#include "session/port_identity.h"
#include "sim/coin_types.h"

#include <QRegularExpression>

#include <initializer_list>

namespace quarvel::cli {

using namespace options;

namespace {

constexpr char kPortText[] = "Serial port: COM3, /dev/ttyUSB0, /dev/pts/7, or sim.";
constexpr char kBackupText[] =
    "Before programming, read the selector and save its memory to FILE, or as a new file in DIR (named by "
    "date, time, port and serial number); nothing is programmed when that fails. Never the file being "
    "programmed; an existing FILE only with --force. gang takes a DIR and keeps one file per selector.";

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
QCommandLineOption options::option(std::initializer_list<const char*> names, const char* description,
                                   const char* valueName)
{
    QStringList list;
    for (const char* name : names)
        list << QLatin1String(name);
    return {list, QString::fromUtf8(description), valueName ? QLatin1String(valueName) : QString()};
}

namespace {

QString readPort(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return QStringLiteral("--port is required");
    if (in.values().size() > 1)
        return QStringLiteral("%1 takes one --port; use gang for several")
            .arg(QLatin1String(in.command.name));
    inv.port = in.values().constLast();
    if (inv.port.isEmpty()) return QStringLiteral("--port needs a port name");
    return {};
}

// gang: several ports, none named twice under any of its names.
QString readGangPorts(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return QStringLiteral("--port is required");
    inv.ports = in.values();
    inv.port = inv.ports.constLast();
    if (inv.port.isEmpty()) return QStringLiteral("--port needs a port name");
    // Two runs on one port would corrupt each other's exchanges, and so would one port
    // named twice: a link and its target, or a by-id name and the device.
    QStringList devices;
    for (const QString& port : std::as_const(inv.ports)) {
        if (port.isEmpty()) return QStringLiteral("--port needs a port name");
        const QString device = port == QLatin1String(kSimPort) ? port : session::canonicalPortPath(port);
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
}

QString readOutput(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    inv.outputFile = in.value();
    if (inv.outputFile.isEmpty()) return QStringLiteral("-o needs a file name");
    return {};
}

QString readChannel(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return QStringLiteral("--channel is required");
    bool number = false;
    inv.channel = in.value().toInt(&number);
    if (!number || inv.channel < 1 || inv.channel > 12)
        return QStringLiteral("--channel must be 1 to 12, not '%1'").arg(in.value());
    return {};
}

QString readFrom(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    inv.fromFile = in.value();
    if (inv.fromFile.isEmpty()) return QStringLiteral("--from needs a file name");
    return {};
}

QString readCoin(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    if (!inv.usesSimPort()) return QStringLiteral("--coin needs --port sim");
    inv.coinType = coinTypeNamed(in.value());
    if (inv.coinType < 0)
        return QStringLiteral("unknown coin '%1'; the coins are %2").arg(in.value(), coinNames());
    return {};
}

QString readJson(const OptionInput& in, Invocation& inv)
{
    inv.json = in.isSet();
    if (inv.json && !inv.outputFile.isEmpty())
        return QStringLiteral("--json prints the settings; it cannot go with -o");
    return {};
}

QString readLog(const OptionInput& in, Invocation& inv)
{
    inv.logFile = in.value();
    if (in.isSet() && inv.logFile.isEmpty()) return QStringLiteral("--backup and --log need a name");
    return {};
}

QString readCount(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    bool number = false;
    inv.count = in.value().toInt(&number);
    if (!number || inv.count < 1 || inv.count > 100000)
        return QStringLiteral("--count must be 1 to 100000, not '%1'").arg(in.value());
    return {};
}

QString readVerify(const OptionInput& in, Invocation& inv)
{
    if (in.isSet() && !inv.verify) return QStringLiteral("--verify and --no-verify cannot go together");
    return {};
}

QString readBackup(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    inv.backup = in.value();
    if (inv.backup.isEmpty()) return QStringLiteral("--backup needs a file or folder");
    if (in.command.kind == CommandKind::Teach && !inv.programAfter)
        return QStringLiteral("--backup goes with --program");
    return {};
}

// gang: one backup file per selector, in this folder.
QString readGangBackupFolder(const OptionInput& in, Invocation& inv)
{
    inv.backupDir = in.value();
    if (in.isSet() && inv.backupDir.isEmpty()) return QStringLiteral("--backup and --log need a name");
    return {};
}

} // namespace

std::vector<OptionRule> options::deviceOptionRules()
{
    return {
        {option({"p", "port"}, kPortText, "PORT"), kOnePort, readPort},
        {option({"p", "port"}, kPortText, "PORT"), kGang, readGangPorts},
        {option({"q", "quiet"}, "Print only errors."), kPort, nullptr, &Invocation::quiet},
        {option({"trace"}, "Print every frame sent and received on standard error: time in ms, direction, "
                           "bytes and meaning."),
         kPort, nullptr, &Invocation::trace},
        {option({"o", "output"}, "Write the image to this coin data file (- for standard output).", "FILE"),
         kRead | kTeach, readOutput},
        {option({"channel"}, "The coin channel to teach, 1 to 12.", "N"), kTeach, readChannel},
        {option({"from"}, "Start from the image in this coin data file.", "FILE"), kTeach, readFrom},
        {option({"program"}, "Program the taught image into the selector afterwards."), kTeach, nullptr,
         &Invocation::programAfter},
        {option({"calibrate"}, "Keep each channel's A window, as after Open & Program."), kTeach, nullptr,
         &Invocation::calibrate},
        {option({"coin"}, "With --port sim: the kind of coin fed in (default: the channel's).", "NAME"),
         kTeach, readCoin},
        {option({"json"}, "Print one JSON value instead of text."),
         kRead | bit(CommandKind::Show) | bit(CommandKind::Ports), readJson},
        {option({"log"}, "Append one CSV row per selector to this file.", "FILE.csv"), kGang, readLog},
        {option({"wait"}, "Station mode: program each next selector on a port, until Ctrl-C."), kGang,
         nullptr, &Invocation::wait},
        {option({"count"}, "Read exchanges to send (default 50).", "N"), kCheck, readCount},
        {option({"no-verify"}, "Do not read the selector back after programming. By default the programmed "
                               "cells are read back and every cell that differs is listed (exit code 3)."),
         kProgram | kTeach, readNoVerify},
        // A gang reports a difference as that selector's FAIL: exit code 2, never 3.
        {option({"no-verify"}, "Do not read each selector back after programming. By default each is read "
                               "back, and one whose programmed cells differ fails."),
         kGang, readNoVerify},
        // Reading back is the default; --verify stays accepted so that existing scripts keep working.
        {option({"verify"}, "Read back after programming (the default)."), kProgram | kGang, readVerify},
        {option({"force"}, "Program cells that are not numbers 0..255 all the same, as the bytes listed; let "
                           "--backup replace an existing file."),
         kTeach | kProgram | kGang, nullptr, &Invocation::force},
        {option({"force"}, "Restore a backup taken from another selector, and cells that are not numbers "
                           "0..255 as the bytes listed; let --backup replace an existing file."),
         kRestore, nullptr, &Invocation::force},
        {option({"backup"}, kBackupText, "FILE|DIR"), kProgram | kTeach | kRestore, readBackup},
        {option({"backup"}, kBackupText, "FILE|DIR"), kGang, readGangBackupFolder},
    };
}

const std::vector<OptionRule>& optionRules()
{
    static const std::vector<OptionRule> rules = [] {
        std::vector<OptionRule> all = deviceOptionRules();
        for (auto rows : {simulatorOptionRules(), historyOptionRules()})
            all.insert(all.end(), rows.begin(), rows.end());
        return all;
    }();
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
