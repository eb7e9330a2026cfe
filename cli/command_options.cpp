#include "command_options.h"

namespace quarvel::cli {

bool takesPort(CommandKind kind)
{
    return kind == CommandKind::Read || kind == CommandKind::Program || kind == CommandKind::Restore ||
           kind == CommandKind::Teach || kind == CommandKind::Gang || kind == CommandKind::Check;
}

bool takesSimOptions(CommandKind kind)
{
    return (takesPort(kind) && kind != CommandKind::Gang) || kind == CommandKind::Simulate;
}

void addOptions(QCommandLineParser& parser, const Options& o, CommandKind kind)
{
    parser.addOption(o.help);
    if (takesPort(kind)) {
        parser.addOption(o.port);
        parser.addOption(o.quiet);
    }
    if (takesPort(kind)) parser.addOption(o.trace);
    if (kind == CommandKind::Read || kind == CommandKind::Teach) parser.addOption(o.output);
    if (kind == CommandKind::Teach) {
        parser.addOption(o.channel);
        parser.addOption(o.from);
        parser.addOption(o.programAfter);
        parser.addOption(o.calibrate);
        parser.addOption(o.coin);
        parser.addOption(o.force);
        parser.addOption(o.backup);
    }
    if (kind == CommandKind::Read || kind == CommandKind::Show || kind == CommandKind::Ports)
        parser.addOption(o.json);
    if (kind == CommandKind::Gang) {
        parser.addOption(o.log);
        parser.addOption(o.wait);
    }
    if (kind == CommandKind::Check) parser.addOption(o.count);
    if (kind == CommandKind::Program || kind == CommandKind::Gang) {
        // A gang reports a difference as that selector's FAIL: exit code 2, never 3.
        parser.addOption(kind == CommandKind::Gang ? o.gangNoVerify : o.noVerify);
        parser.addOption(o.verify);
        parser.addOption(o.force);
        parser.addOption(o.backup);
        parser.addPositionalArgument(QStringLiteral("FILE"),
                                     QStringLiteral("The coin data file to program."));
    }
    if (kind == CommandKind::Restore) {
        parser.addOption(o.restoreForce);
        parser.addOption(o.backup);
        parser.addPositionalArgument(QStringLiteral("BACKUP"), QStringLiteral("The backup to restore."));
    }
    if (kind == CommandKind::Show)
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The coin data file to show."));
    if (kind == CommandKind::Diff) {
        parser.addPositionalArgument(QStringLiteral("FILE_A"), QStringLiteral("The first coin data file."));
        parser.addPositionalArgument(QStringLiteral("FILE_B"), QStringLiteral("The second coin data file."));
    }
    if (kind == CommandKind::Simulate) {
        parser.addOption(o.pty);
        parser.addOption(o.swap);
        parser.addOption(o.putBack);
        parser.addOption(o.halfGap);
        parser.addOption(o.repeatAnswer);
    }
    if (takesSimOptions(kind)) {
        parser.addOption(o.memory);
        parser.addOption(o.wireTime);
        parser.addOption(o.recordType);
        parser.addOption(o.coinInterval);
        parser.addOption(o.fault);
    }
}

} // namespace quarvel::cli
