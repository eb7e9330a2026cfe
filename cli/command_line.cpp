#include "command_line.h"

#include <QRegularExpression>

#include "command_options.h"
#include "command_table.h"
#include "exit_codes.h"

#include "session/port_identity.h"
#include "sim/coin_types.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QRegularExpression>

#ifndef QUARVEL_VERSION
#define QUARVEL_VERSION "unknown"
#endif

namespace quarvel::cli {

namespace {

constexpr char kProgram[] = "quarvelctl";

QString topLevelHelp()
{
    QString text = QStringLiteral("Usage: %1 <command> [options]\n\n"
                                  "Reads, programs and inspects coin selectors and coin data files.\n\n"
                                  "Commands:\n")
                       .arg(QLatin1String(kProgram));
    for (const auto& info : kCommands)
        text +=
            QStringLiteral("  %1%2\n").arg(QLatin1String(info.name), -10).arg(QLatin1String(info.summary));
    text += QStringLiteral(
                "\nPORT is a platform name or path (COM3, /dev/ttyUSB0, /dev/pts/7), or sim for a virtual\n"
                "selector inside quarvelctl.\n\n"
                "Exit codes: 0 success, 1 usage or file error, 2 device failure, 3 verification\n"
                "mismatch (program, restore), 130 interrupted (gang station mode: see gang --help).\n\n"
                "'%1 <command> --help' describes a command.\n")
                .arg(QLatin1String(kProgram));
    return text;
}

QString tryHelp(const CommandInfo* info)
{
    return info
               ? QStringLiteral("Try '%1 %2 --help'.").arg(QLatin1String(kProgram), QLatin1String(info->name))
               : QStringLiteral("Try '%1 --help'.").arg(QLatin1String(kProgram));
}

ParseResult usageError(const CommandInfo* info, const QString& message)
{
    const QString prefix =
        info ? QStringLiteral("%1 %2: ").arg(QLatin1String(kProgram), QLatin1String(info->name))
             : QStringLiteral("%1: ").arg(QLatin1String(kProgram));
    return {std::nullopt, exit_code::kUsageOrFile,
            prefix + message + QLatin1Char('\n') + tryHelp(info) + '\n'};
}

QString coinNames()
{
    QStringList names;
    for (const auto& type : sim::coinTypes())
        names << QString::fromLatin1(type.name.data(), static_cast<qsizetype>(type.name.size()));
    return names.join(QStringLiteral(", "));
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

ParseResult parseCommand(const CommandInfo& command, const QStringList& arguments);

QString commandHelp(const CommandInfo& info, const QCommandLineParser& parser)
{
    // Qt's usage line names the executable as it was started; ours names the command.
    QString generated = parser.helpText();
    const auto firstBreak = generated.indexOf(QLatin1Char('\n'));
    generated = firstBreak < 0 ? QString() : generated.mid(firstBreak + 1);

    QString usage =
        QStringLiteral("Usage: %1 %2 [options]").arg(QLatin1String(kProgram), QLatin1String(info.name));
    if (*info.arguments) usage += QLatin1Char(' ') + QLatin1String(info.arguments);
    QString text =
        usage + QStringLiteral("\n\n") + QLatin1String(info.description) + QStringLiteral("\n") + generated;
    if (takesPort(info.kind) && takesSimOptions(info.kind)) {
        text += QStringLiteral(
            "\nWith --port sim a virtual selector inside quarvelctl answers; it starts from its "
            "factory\nmemory, or from --memory FILE, and --wire-time, --record-type, --coin-interval and "
            "--fault\nshape it as for 'simulate'. Those options need --port sim.\n");
    }
    if (info.kind == CommandKind::Teach)
        text += QStringLiteral("\nCoin names for --coin: %1.\n").arg(coinNames());
    if (takesSimOptions(info.kind))
        text += QLatin1Char('\n') + QString::fromStdString(sim::FaultPlan::describe());
    return text;
}

} // namespace

ParseResult parseCommandLine(const QStringList& arguments)
{
    if (arguments.size() < 2) return usageError(nullptr, QStringLiteral("missing command"));

    const QString& first = arguments.at(1);
    if (first == QLatin1String("-h") || first == QLatin1String("--help") || first == QLatin1String("help")) {
        if (first == QLatin1String("help") && arguments.size() > 2) {
            // "help read" is "read --help".
            return parseCommandLine({arguments.at(0), arguments.at(2), QStringLiteral("--help")});
        }
        return {std::nullopt, exit_code::kSuccess, topLevelHelp()};
    }
    if (first == QLatin1String("-v") || first == QLatin1String("--version"))
        return {std::nullopt, exit_code::kSuccess,
                QStringLiteral("%1 %2\n").arg(QLatin1String(kProgram), QLatin1String(QUARVEL_VERSION))};

    const CommandInfo* info = findCommand(first);
    if (!info) {
        if (first.startsWith(QLatin1Char('-')))
            return usageError(nullptr,
                              QStringLiteral("a command comes first, not the option '%1'").arg(first));
        return usageError(nullptr, QStringLiteral("unknown command '%1'").arg(first));
    }

    ParseResult parsed = parseCommand(*info, arguments);
    // diff answers like cmp: 0 same, 1 different, 2 trouble (a wrong argument included).
    if (info->kind == CommandKind::Diff && !parsed.invocation && parsed.exitCode != exit_code::kSuccess)
        parsed.exitCode = exit_code::kTrouble;
    return parsed;
}

namespace {

ParseResult parseCommand(const CommandInfo& command, const QStringList& arguments)
{
    const CommandInfo* info = &command;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const Options o;
    addOptions(parser, o, info->kind);
    QStringList rest = arguments.mid(2);
    rest.prepend(arguments.at(0));
    if (!parser.parse(rest)) return usageError(info, parser.errorText());
    if (parser.isSet(o.help)) return {std::nullopt, exit_code::kSuccess, commandHelp(*info, parser)};

    Invocation inv;
    inv.command = info->kind;
    const QStringList positional = parser.positionalArguments();
    int wanted = 0;
    switch (info->kind) {
    case CommandKind::Program:
    case CommandKind::Restore:
    case CommandKind::Gang:
    case CommandKind::Show:
        wanted = 1;
        break;
    case CommandKind::Diff:
        wanted = 2;
        break;
    default:
        break;
    }
    if (positional.size() > wanted)
        return usageError(info, QStringLiteral("unexpected argument '%1'").arg(positional.at(wanted)));
    if (positional.size() < wanted) {
        const QString missing =
            info->kind == CommandKind::Diff
                ? (positional.isEmpty() ? QStringLiteral("FILE_A and FILE_B") : QStringLiteral("FILE_B"))
                : QLatin1String(info->kind == CommandKind::Restore ? "BACKUP" : "FILE");
        return usageError(info, QStringLiteral("missing %1").arg(missing));
    }
    inv.files = positional;
    for (const QString& file : std::as_const(inv.files)) {
        if (file.isEmpty()) return usageError(info, QStringLiteral("a file name is empty"));
    }

    if (takesPort(info->kind)) {
        if (!parser.isSet(o.port)) return usageError(info, QStringLiteral("--port is required"));
        if (info->kind != CommandKind::Gang && parser.values(o.port).size() > 1)
            return usageError(
                info,
                QStringLiteral("%1 takes one --port; use gang for several").arg(QLatin1String(info->name)));
        inv.port = parser.values(o.port).constLast();
        if (inv.port.isEmpty()) return usageError(info, QStringLiteral("--port needs a port name"));
        inv.quiet = parser.isSet(o.quiet);
    }
    if ((info->kind == CommandKind::Read || info->kind == CommandKind::Teach) && parser.isSet(o.output)) {
        inv.outputFile = parser.value(o.output);
        if (inv.outputFile.isEmpty()) return usageError(info, QStringLiteral("-o needs a file name"));
    }
    if (parser.optionNames().contains(QStringLiteral("json"))) inv.json = parser.isSet(o.json);
    if (inv.json && !inv.outputFile.isEmpty())
        return usageError(info, QStringLiteral("--json prints the settings; it cannot go with -o"));
    if (info->kind == CommandKind::Program || info->kind == CommandKind::Gang) {
        if (parser.isSet(o.verify) && parser.isSet(o.noVerify))
            return usageError(info, QStringLiteral("--verify and --no-verify cannot go together"));
        inv.verify = !parser.isSet(o.noVerify);
    }
    if (info->kind == CommandKind::Program || info->kind == CommandKind::Teach ||
        info->kind == CommandKind::Gang || info->kind == CommandKind::Restore)
        inv.force = parser.isSet(o.force);
    // A restore is exact only if it is known to be: it is always read back.
    if (info->kind == CommandKind::Restore) inv.verify = true;
    if (info->kind == CommandKind::Gang) {
        inv.ports = parser.values(o.port);
        // Two runs on one port would corrupt each other's exchanges, and so would one port
        // named twice: a link and its target, or a by-id name and the device.
        QStringList devices;
        for (const QString& port : std::as_const(inv.ports)) {
            if (port.isEmpty()) return usageError(info, QStringLiteral("--port needs a port name"));
            const QString device = port == QLatin1String("sim") ? port : session::canonicalPortPath(port);
            const auto twice = devices.indexOf(device);
            if (twice >= 0) {
                const QString first = inv.ports.at(twice);
                return usageError(
                    info, first == port
                              ? QStringLiteral("port %1 is given twice").arg(port)
                              : QStringLiteral("%1 and %2 are the same port (%3)").arg(first, port, device));
            }
            devices << device;
        }
        inv.backupDir = parser.value(o.backup);
        inv.logFile = parser.value(o.log);
        if ((parser.isSet(o.backup) && inv.backupDir.isEmpty()) ||
            (parser.isSet(o.log) && inv.logFile.isEmpty()))
            return usageError(info, QStringLiteral("--backup and --log need a name"));
        inv.wait = parser.isSet(o.wait);
    }
    if (info->kind == CommandKind::Check && parser.isSet(o.count)) {
        bool number = false;
        inv.count = parser.value(o.count).toInt(&number);
        if (!number || inv.count < 1 || inv.count > 100000)
            return usageError(
                info, QStringLiteral("--count must be 1 to 100000, not '%1'").arg(parser.value(o.count)));
    }
    if (takesPort(info->kind)) inv.trace = parser.isSet(o.trace);
    if ((info->kind == CommandKind::Program || info->kind == CommandKind::Teach ||
         info->kind == CommandKind::Restore) &&
        parser.isSet(o.backup)) {
        inv.backup = parser.value(o.backup);
        if (inv.backup.isEmpty()) return usageError(info, QStringLiteral("--backup needs a file or folder"));
    }
    if (info->kind == CommandKind::Teach) {
        if (!parser.isSet(o.channel)) return usageError(info, QStringLiteral("--channel is required"));
        bool number = false;
        inv.channel = parser.value(o.channel).toInt(&number);
        if (!number || inv.channel < 1 || inv.channel > 12)
            return usageError(
                info, QStringLiteral("--channel must be 1 to 12, not '%1'").arg(parser.value(o.channel)));
        if (parser.isSet(o.from)) {
            inv.fromFile = parser.value(o.from);
            if (inv.fromFile.isEmpty()) return usageError(info, QStringLiteral("--from needs a file name"));
        }
        inv.programAfter = parser.isSet(o.programAfter);
        if (!inv.backup.isEmpty() && !inv.programAfter)
            return usageError(info, QStringLiteral("--backup goes with --program"));
        inv.calibrate = parser.isSet(o.calibrate);
        if (parser.isSet(o.coin)) {
            if (!inv.usesSimPort()) return usageError(info, QStringLiteral("--coin needs --port sim"));
            inv.coinType = coinTypeNamed(parser.value(o.coin));
            if (inv.coinType < 0)
                return usageError(info, QStringLiteral("unknown coin '%1'; the coins are %2")
                                            .arg(parser.value(o.coin), coinNames()));
        }
    }
    if (info->kind == CommandKind::Simulate) {
        inv.pty = parser.isSet(o.pty);
        if (parser.isSet(o.putBack) && !parser.isSet(o.swap))
            return usageError(info, QStringLiteral("--put-back needs --swap"));
        if (parser.isSet(o.swap)) {
            static const QRegularExpression range(QStringLiteral("^(\\d{1,6})-(\\d{1,6})$"));
            const auto match = range.match(parser.value(o.swap));
            if (!match.hasMatch() || match.captured(1).toLongLong() > match.captured(2).toLongLong())
                return usageError(
                    info, QStringLiteral("--swap takes MIN-MAX in milliseconds, as 300-3000, not '%1'")
                              .arg(parser.value(o.swap)));
            sim::SwapPlan plan;
            plan.minGapMs = match.captured(1).toLongLong();
            plan.maxGapMs = match.captured(2).toLongLong();
            const QString units = parser.value(o.putBack);
            for (const QString& unit : units.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                bool ok = false;
                const int n = unit.trimmed().toInt(&ok);
                if (!ok || n < 1)
                    return usageError(
                        info, QStringLiteral("--put-back takes unit numbers from 1, as 2 or 2,5, not '%1'")
                                  .arg(units));
                plan.putBack.insert(n);
            }
            inv.sim.swaps = plan;
        }
        if (parser.isSet(o.halfGap)) {
            bool ok = false;
            const uint ms = parser.value(o.halfGap).toUInt(&ok);
            if (!ok || ms > 600000)
                return usageError(
                    info,
                    QStringLiteral("--half-gap takes 0..600000 ms, not '%1'").arg(parser.value(o.halfGap)));
            inv.halfGapMs = static_cast<int>(ms);
        }
        if (parser.isSet(o.repeatAnswer)) {
            static const QRegularExpression form(QStringLiteral("^(\\d{1,4})(:half)?$"));
            const auto match = form.match(parser.value(o.repeatAnswer));
            if (!match.hasMatch() || match.captured(1).toInt() < 1)
                return usageError(info,
                                  QStringLiteral("--repeat-answer takes N or N:half (N from 1), not '%1'")
                                      .arg(parser.value(o.repeatAnswer)));
            inv.repeatAnswer = {match.captured(1).toInt(), match.hasCaptured(2)};
        }
    }

    if (takesSimOptions(info->kind)) {
        inv.sim.given = parser.isSet(o.memory) || parser.isSet(o.wireTime) || parser.isSet(o.fault) ||
                        parser.isSet(o.recordType) || parser.isSet(o.coinInterval);
        if (inv.sim.given && takesPort(info->kind) && !inv.usesSimPort())
            return usageError(info,
                              QStringLiteral("--memory, --wire-time, --record-type, --coin-interval and "
                                             "--fault need --port sim"));
        if (parser.isSet(o.coinInterval)) {
            bool ok = false;
            const int ms = parser.value(o.coinInterval).toInt(&ok);
            if (!ok || ms < 0 || ms > 60000)
                return usageError(info,
                                  QStringLiteral("--coin-interval takes 0..60000 milliseconds, not '%1'")
                                      .arg(parser.value(o.coinInterval)));
            inv.sim.coinIntervalMs = ms;
        }
        if (parser.isSet(o.recordType)) {
            bool ok = false;
            const uint type = parser.value(o.recordType).toUInt(&ok, 0);
            if (!ok || type > 255)
                return usageError(info, QStringLiteral("--record-type takes 0..255 (or 0x00..0xFF), not '%1'")
                                            .arg(parser.value(o.recordType)));
            inv.sim.recordType = static_cast<std::uint8_t>(type);
        }
        if (parser.isSet(o.memory)) {
            inv.sim.memoryFile = parser.values(o.memory).constLast();
            if (inv.sim.memoryFile.isEmpty())
                return usageError(info, QStringLiteral("--memory needs a file name"));
        }
        inv.sim.wireTime = parser.isSet(o.wireTime);
        // Several --fault options make one plan, as if joined by commas.
        const QString faultText = parser.values(o.fault).join(QLatin1Char(','));
        if (!faultText.isEmpty()) {
            const auto parsed = sim::FaultPlan::parse(faultText.toStdString());
            if (!parsed.plan) return usageError(info, QString::fromStdString(parsed.error));
            inv.sim.faults = *parsed.plan;
        }
    }
    return {std::move(inv), exit_code::kSuccess, {}};
}

} // namespace

} // namespace quarvel::cli
