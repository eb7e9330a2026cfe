#include "command_line.h"

#include "command_options.h"
#include "command_table.h"
#include "exit_codes.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

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

ParseResult parseCommand(const CommandInfo& info, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    addOptions(parser, info.kind);
    QStringList rest = arguments.mid(2);
    rest.prepend(arguments.at(0));
    if (!parser.parse(rest)) return usageError(&info, parser.errorText());
    if (parser.isSet(helpOption())) return {std::nullopt, exit_code::kSuccess, commandHelp(info, parser)};

    Invocation inv;
    inv.command = info.kind;
    inv.files = parser.positionalArguments();
    const QStringList wanted = positionalNames(info.kind);
    if (inv.files.size() > wanted.size())
        return usageError(&info, QStringLiteral("unexpected argument '%1'").arg(inv.files.at(wanted.size())));
    if (inv.files.size() < wanted.size())
        return usageError(
            &info,
            QStringLiteral("missing %1").arg(wanted.mid(inv.files.size()).join(QStringLiteral(" and "))));
    if (inv.files.contains(QString())) return usageError(&info, QStringLiteral("a file name is empty"));

    for (const OptionRule& rule : optionRules()) {
        if (!rule.takenBy(info.kind)) continue;
        if (rule.flag) inv.*rule.flag = parser.isSet(rule.option);
        if (!rule.read) continue;
        const QString wrong = rule.read({parser, rule.option, info}, inv);
        if (!wrong.isEmpty()) return usageError(&info, wrong);
    }
    // A restore is exact only if it is known to be: it is always read back.
    if (info.kind == CommandKind::Restore) inv.verify = true;
    return {std::move(inv), exit_code::kSuccess, {}};
}

} // namespace

} // namespace quarvel::cli
