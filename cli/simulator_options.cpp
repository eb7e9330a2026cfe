#include "option_rows.h"

#include "sim/fault_plan.h"
#include "sim/station_swaps.h"

#include <QRegularExpression>

namespace quarvel::cli::options {

namespace {

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

QString readSwap(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    static const QRegularExpression range(QStringLiteral("^(\\d{1,6})-(\\d{1,6})$"));
    const auto match = range.match(in.value());
    if (!match.hasMatch() || match.captured(1).toLongLong() > match.captured(2).toLongLong())
        return QStringLiteral("--swap takes MIN-MAX in milliseconds, as 300-3000, not '%1'").arg(in.value());
    sim::SwapPlan plan;
    plan.minGapMs = match.captured(1).toLongLong();
    plan.maxGapMs = match.captured(2).toLongLong();
    inv.sim.swaps = plan;
    return {};
}

QString readPutBack(const OptionInput& in, Invocation& inv)
{
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
}

QString readHalfGap(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    bool ok = false;
    const uint ms = in.value().toUInt(&ok);
    if (!ok || ms > 600000) return QStringLiteral("--half-gap takes 0..600000 ms, not '%1'").arg(in.value());
    inv.halfGapMs = static_cast<int>(ms);
    return {};
}

QString readRepeatAnswer(const OptionInput& in, Invocation& inv)
{
    if (!in.isSet()) return {};
    static const QRegularExpression form(QStringLiteral("^(\\d{1,4})(:half)?$"));
    const auto match = form.match(in.value());
    if (!match.hasMatch() || match.captured(1).toInt() < 1)
        return QStringLiteral("--repeat-answer takes N or N:half (N from 1), not '%1'").arg(in.value());
    inv.repeatAnswer = {match.captured(1).toInt(), match.hasCaptured(2)};
    return {};
}

QString readMemory(const OptionInput& in, Invocation& inv)
{
    if (QString wrong = simGiven(in, inv); !wrong.isEmpty() || !in.isSet()) return wrong;
    inv.sim.memoryFile = in.values().constLast();
    if (inv.sim.memoryFile.isEmpty()) return QStringLiteral("--memory needs a file name");
    return {};
}

QString readWireTime(const OptionInput& in, Invocation& inv)
{
    inv.sim.wireTime = in.isSet();
    return simGiven(in, inv);
}

QString readRecordType(const OptionInput& in, Invocation& inv)
{
    if (QString wrong = simGiven(in, inv); !wrong.isEmpty() || !in.isSet()) return wrong;
    bool ok = false;
    const uint type = in.value().toUInt(&ok, 0);
    if (!ok || type > 255)
        return QStringLiteral("--record-type takes 0..255 (or 0x00..0xFF), not '%1'").arg(in.value());
    inv.sim.recordType = static_cast<std::uint8_t>(type);
    return {};
}

QString readCoinInterval(const OptionInput& in, Invocation& inv)
{
    if (QString wrong = simGiven(in, inv); !wrong.isEmpty() || !in.isSet()) return wrong;
    bool ok = false;
    const int ms = in.value().toInt(&ok);
    if (!ok || ms < 0 || ms > 60000)
        return QStringLiteral("--coin-interval takes 0..60000 milliseconds, not '%1'").arg(in.value());
    inv.sim.coinIntervalMs = ms;
    return {};
}

QString readFault(const OptionInput& in, Invocation& inv)
{
    if (QString wrong = simGiven(in, inv); !wrong.isEmpty() || !in.isSet()) return wrong;
    // Several --fault options make one plan, as if joined by commas.
    const QString text = in.values().join(QLatin1Char(','));
    if (text.isEmpty()) return {};
    const auto parsed = sim::FaultPlan::parse(text.toStdString());
    if (!parsed.plan) return QString::fromStdString(parsed.error);
    inv.sim.faults = *parsed.plan;
    return {};
}

} // namespace

std::vector<OptionRule> simulatorOptionRules()
{
    return {
        {option({"pty"}, "Serve the selector on a pseudo-terminal."), bit(CommandKind::Simulate), nullptr,
         &Invocation::pty},
        {option({"swap"},
                "Play a station's operator: take each programmed selector off once the host only polls it, "
                "and put the next on after MIN to MAX ms (e.g. 300-3000).",
                "MIN-MAX"),
         bit(CommandKind::Simulate), readSwap},
        {option({"put-back"},
                "With --swap: take these units (1 = the first) off in the middle of programming and put "
                "them back once the host is done with them, e.g. 2 or 2,5.",
                "N,..."),
         bit(CommandKind::Simulate), readPutBack},
        {option({"half-gap"},
                "Send each measurement record's second half this many ms after its first "
                "(default 0).",
                "MS"),
         bit(CommandKind::Simulate), readHalfGap},
        {option({"repeat-answer"},
                "Send the start answer again, unasked, before the Nth coin of each sampling run (N:half: "
                "between its halves).",
                "N[:half]"),
         bit(CommandKind::Simulate), readRepeatAnswer},
        {option({"memory"},
                "Start the virtual selector from this coin data file (cells it lacks keep the factory "
                "values).",
                "FILE"),
         kSim, readMemory},
        {option({"wire-time"}, "Pace the virtual selector's bytes as a 19200-baud line would."), kSim,
         readWireTime},
        {option({"record-type"},
                "Type byte of a regular coin's measurement record, 0..255 or 0x00..0xFF (default 0).", "N"),
         kSim, readRecordType},
        {option({"coin-interval"},
                "Milliseconds between the coins fed to the virtual selector (default: a hand's pace, 600 to "
                "900).",
                "MS"),
         kSim, readCoinInterval},
        {option({"fault"},
                "Faults for the virtual selector to commit (see below); may be given more than once.",
                "SPEC"),
         kSim, readFault},
    };
}

} // namespace quarvel::cli::options
