#include "command_line.h"
#include "exit_codes.h"
#include "signal_watcher.h"

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace quarvel::cli {
namespace {

ParseResult parse(QStringList arguments)
{
    arguments.prepend(QStringLiteral("/usr/bin/quarvelctl"));
    return parseCommandLine(arguments);
}

TEST(CommandLine, UsageErrorsSayWhatIsWrongAndWhereHelpIs)
{
    const struct
    {
        QStringList arguments;
        const char* message;
        const char* helpCommand; // "" for the top level
    } cases[] = {
        {{}, "quarvelctl: missing command", ""},
        {{"frob"}, "quarvelctl: unknown command 'frob'", ""},
        {{"--port", "sim"}, "quarvelctl: a command comes first, not the option '--port'", ""},
        {{"read"}, "quarvelctl read: --port is required", "read"},
        {{"read", "--port"}, "quarvelctl read: Missing value after '--port'.", "read"},
        {{"read", "--port", ""}, "quarvelctl read: --port needs a port name", "read"},
        {{"read", "-p", "sim", "--bogus"}, "quarvelctl read: Unknown option 'bogus'.", "read"},
        {{"read", "-p", "sim", "extra"}, "quarvelctl read: unexpected argument 'extra'", "read"},
        {{"read", "-p", "sim", "-o", "f.cdt", "--json"},
         "quarvelctl read: --json prints the settings; it cannot go with -o",
         "read"},
        {{"read", "-p", "/dev/ttyS0", "--fault", "drop:1"},
         "quarvelctl read: --memory, --wire-time, --record-type, --coin-interval and --fault need --port sim",
         "read"},
        {{"program", "-p", "COM3", "f.cdt", "--wire-time"},
         "quarvelctl program: --memory, --wire-time, --record-type, --coin-interval and --fault need --port "
         "sim",
         "program"},
        {{"read", "-p", "sim", "--fault", "drop:x"},
         "quarvelctl read: bad fault item \"drop:x\": reply number must be a whole number from 1",
         "read"},
        {{"simulate", "--fault", "drop:1", "--fault", "boom:2"},
         "quarvelctl simulate: bad fault item \"boom:2\": unknown fault (see the list of faults)",
         "simulate"},
        {{"simulate", "--record-type", "0x100"},
         "quarvelctl simulate: --record-type takes 0..255 (or 0x00..0xFF), not '0x100'",
         "simulate"},
        {{"teach", "-p", "sim", "--channel", "1", "--coin-interval", "1.5"},
         "quarvelctl teach: --coin-interval takes 0..60000 milliseconds, not '1.5'",
         "teach"},
        {{"program", "-p", "sim"}, "quarvelctl program: missing FILE", "program"},
        {{"program", "-p", "sim", "a.cdt", "b.cdt"},
         "quarvelctl program: unexpected argument 'b.cdt'",
         "program"},
        {{"program", "-p", "sim", ""}, "quarvelctl program: a file name is empty", "program"},
        {{"gang", "-p", "/dev/pts/3", "-p", "/dev/pts/3", "f.cdt"},
         "quarvelctl gang: port /dev/pts/3 is given twice",
         "gang"},
        {{"gang", "-p", "/dev/null", "-p", "/dev/../dev/null", "f.cdt"},
         "quarvelctl gang: /dev/null and /dev/../dev/null are the same port (/dev/null)",
         "gang"},
        {{"program", "-p", "/dev/ttyUSB0", "-p", "/dev/ttyUSB1", "f.cdt"},
         "quarvelctl program: program takes one --port; use gang for several",
         "program"},
        {{"gang", "-p", "sim", "--wire-time", "f.cdt"},
         "quarvelctl gang: Unknown option 'wire-time'.",
         "gang"},
        {{"teach", "-p", "sim", "--channel", "3", "--backup", "b.cdt"},
         "quarvelctl teach: --backup goes with --program",
         "teach"},
        {{"simulate", "--put-back", "2"}, "quarvelctl simulate: --put-back needs --swap", "simulate"},
        {{"check", "-p", "sim", "--count", "0"},
         "quarvelctl check: --count must be 1 to 100000, not '0'",
         "check"},
        {{"show"}, "quarvelctl show: missing FILE", "show"},
        {{"show", "a.cdt", "--verify"}, "quarvelctl show: Unknown option 'verify'.", "show"},
        {{"diff"}, "quarvelctl diff: missing FILE_A and FILE_B", "diff"},
        {{"diff", "a.cdt"}, "quarvelctl diff: missing FILE_B", "diff"},
        {{"ports", "extra"}, "quarvelctl ports: unexpected argument 'extra'", "ports"},
        {{"simulate", "--port", "sim"}, "quarvelctl simulate: Unknown option 'port'.", "simulate"},
        {{"teach", "-p", "sim"}, "quarvelctl teach: --channel is required", "teach"},
        {{"teach", "-p", "sim", "--channel", "13"},
         "quarvelctl teach: --channel must be 1 to 12, not '13'",
         "teach"},
        {{"teach", "-p", "sim", "--channel", "3x"},
         "quarvelctl teach: --channel must be 1 to 12, not '3x'",
         "teach"},
        {{"teach", "-p", "COM3", "--channel", "3", "--coin", "coin 5"},
         "quarvelctl teach: --coin needs --port sim",
         "teach"},
        {{"teach", "-p", "sim", "--channel", "3", "--coin", "dime"},
         "quarvelctl teach: unknown coin 'dime'; the coins are coin 1, coin 2, coin 5, coin 10, coin 20, "
         "coin 50, "
         "coin 100, coin 200, token 5, token 10, token 20, token 50",
         "teach"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
#ifdef Q_OS_WIN
        // One device under two names needs a file system with /dev: not Windows.
        if (c.arguments.contains(QLatin1String("/dev/null"))) continue;
#endif
        const ParseResult result = parse(c.arguments);
        EXPECT_FALSE(result.invocation);
        // diff answers like cmp: trouble is 2, since 1 means the files differ.
        EXPECT_EQ(result.exitCode, c.arguments.value(0) == QLatin1String("diff") ? 2 : 1);
        const QString help = *c.helpCommand ? QStringLiteral("Try 'quarvelctl %1 --help'.").arg(c.helpCommand)
                                            : QStringLiteral("Try 'quarvelctl --help'.");
        EXPECT_EQ(result.text.toStdString(),
                  (QString::fromUtf8(c.message) + '\n' + help + '\n').toStdString());
    }
}

TEST(CommandLine, HelpAndVersionGoToStandardOutputWithSuccess)
{
    const struct
    {
        QStringList arguments;
        const char* startsWith;
        const char* contains;
    } cases[] = {
        {{"--help"}, "Usage: quarvelctl <command> [options]\n", "130 interrupted"},
        {{"help"}, "Usage: quarvelctl <command> [options]\n", "  simulate  run the virtual selector\n"},
        {{"read", "--help"}, "Usage: quarvelctl read [options] --port PORT\n", "drop:N"},
        {{"help", "program"}, "Usage: quarvelctl program [options] --port PORT FILE\n", "--verify"},
        {{"simulate", "-h"}, "Usage: quarvelctl simulate [options]\n", "late:N:Tms"},
        {{"diff", "--help"}, "Usage: quarvelctl diff [options] FILE_A FILE_B\n", "1 when they differ"},
        {{"--version"}, "quarvelctl ", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
#ifdef Q_OS_WIN
        // One device under two names needs a file system with /dev: not Windows.
        if (c.arguments.contains(QLatin1String("/dev/null"))) continue;
#endif
        const ParseResult result = parse(c.arguments);
        EXPECT_FALSE(result.invocation);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(result.text.startsWith(QString::fromUtf8(c.startsWith))) << result.text.toStdString();
        EXPECT_TRUE(result.text.contains(QString::fromUtf8(c.contains))) << result.text.toStdString();
        // Qt's own usage line would name the test binary.
        EXPECT_FALSE(result.text.contains(QStringLiteral("/usr/bin")));
    }
    // A gang reports a difference as a FAIL (exit code 2): its help promises no 3.
    EXPECT_FALSE(parse({"gang", "--help"}).text.contains(QStringLiteral("exit code 3")));
}

TEST(CommandLine, DeviceCommandsTakeTheirOptions)
{
    const ParseResult program = parse({"program", "-p", "COM3", "coins.cdt", "--verify", "-q"});
    ASSERT_TRUE(program.invocation);
    EXPECT_EQ(program.invocation->command, CommandKind::Program);
    EXPECT_EQ(program.invocation->port, QStringLiteral("COM3"));
    EXPECT_EQ(program.invocation->files, QStringList{QStringLiteral("coins.cdt")});
    EXPECT_TRUE(program.invocation->verify);
    EXPECT_TRUE(program.invocation->quiet);
    EXPECT_FALSE(program.invocation->usesSimPort());
    EXPECT_FALSE(program.invocation->sim.given);

    const ParseResult read = parse({"read", "--port", "/dev/pts/7", "-o", "out.cdt"});
    ASSERT_TRUE(read.invocation);
    EXPECT_EQ(read.invocation->port, QStringLiteral("/dev/pts/7"));
    EXPECT_EQ(read.invocation->outputFile, QStringLiteral("out.cdt"));
    EXPECT_FALSE(read.invocation->json);
}

TEST(CommandLine, ProgrammingVerifiesUnlessToldNot)
{
    const struct
    {
        QStringList args;
        bool verify;
    } cases[] = {
        {{"program", "-p", "COM3", "a.cdt"}, true},
        {{"program", "-p", "COM3", "a.cdt", "--no-verify"}, false},
        {{"gang", "-p", "COM3", "-p", "COM4", "a.cdt"}, true},
        {{"gang", "-p", "COM3", "-p", "COM4", "a.cdt", "--no-verify"}, false},
        {{"teach", "-p", "COM3", "--channel", "2", "--program"}, true},
        {{"teach", "-p", "COM3", "--channel", "2", "--program", "--no-verify"}, false},
    };
    for (const auto& c : cases) {
        const ParseResult result = parse(c.args);
        ASSERT_TRUE(result.invocation) << result.text.toStdString();
        EXPECT_EQ(result.invocation->verify, c.verify) << c.args.join(' ').toStdString();
    }
    EXPECT_FALSE(parse({"program", "-p", "COM3", "a.cdt", "--verify", "--no-verify"}).invocation);
}

TEST(CommandLine, FaultOptionsJoinIntoOnePlanForTheVirtualSelector)
{
    const ParseResult read = parse({"read", "--port", "sim", "--fault", "drop:3", "--fault",
                                    "late:10:250ms,badsum:42", "--memory", "m.cdt", "--wire-time"});
    ASSERT_TRUE(read.invocation);
    EXPECT_TRUE(read.invocation->usesSimPort());
    EXPECT_TRUE(read.invocation->sim.given);
    EXPECT_TRUE(read.invocation->sim.wireTime);
    EXPECT_EQ(read.invocation->sim.memoryFile, QStringLiteral("m.cdt"));
    const std::vector<sim::Fault> expected{
        {sim::FaultKind::Drop, 3, 0}, {sim::FaultKind::Late, 10, 250}, {sim::FaultKind::BadChecksum, 42, 0}};
    EXPECT_EQ(read.invocation->sim.faults.faults(), expected);

    const ParseResult simulate = parse({"simulate", "--pty", "--fault", "random:0.05,seed:7"});
    ASSERT_TRUE(simulate.invocation);
    EXPECT_TRUE(simulate.invocation->pty);
    EXPECT_DOUBLE_EQ(simulate.invocation->sim.faults.randomRate(), 0.05);
    EXPECT_EQ(simulate.invocation->sim.faults.seed(), 7u);

    // Rules that read what an earlier option set: --put-back fills --swap's plan.
    const ParseResult swaps = parse({"simulate", "--put-back", "2,5", "--swap", "300-3000"});
    ASSERT_TRUE(swaps.invocation) << swaps.text.toStdString();
    ASSERT_TRUE(swaps.invocation->sim.swaps);
    EXPECT_EQ(swaps.invocation->sim.swaps->putBack, (std::set<int>{2, 5}));

    const ParseResult none = parse({"simulate"});
    ASSERT_TRUE(none.invocation);
    EXPECT_FALSE(none.invocation->pty);
    EXPECT_TRUE(none.invocation->sim.faults.isEmpty());
}

#ifdef Q_OS_UNIX
// A command stuck in a call that waits never returns to the event loop that takes the signal
// up (a FIFO's open, a read of a terminal): the one signal ends it all the same.
TEST(SignalWatcherDeathTest, OneSignalEndsACommandThatNeverReturnsToItsLoop)
{
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signalNumber);
        EXPECT_EXIT(
            {
                SignalWatcher watcher;
                ::raise(signalNumber);
                for (;;)
                    ::pause();
            },
            ::testing::ExitedWithCode(exit_code::kInterrupted), "");
    }
}
#endif

} // namespace
} // namespace quarvel::cli
