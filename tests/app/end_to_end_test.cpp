// The real quarvel binary, under xvfb-run when there is one, against the virtual selector on a
// pty: Edit Coin Selector, change a coin value and a tolerance, Program to Coin Selector.
#include "image/parameter_image.h"
#include "link/program_transfer.h"
#include "sim/qt/pty_bridge.h"
#include "sim/virtual_selector.h"

#include "quarvel_script_run.h"

#include <QTemporaryDir>

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(QuarvelProgram, EditChangeAndProgram)
{
    sim::VirtualSelector model;
    sim::PtyBridge bridge(model);
    ASSERT_TRUE(bridge.open());
    for (int cell : {85, 124, 125, 126, 127})
        model.setCell(cell, static_cast<std::uint8_t>(200 + cell % 10));
    const auto before = model.memory();

    QTemporaryDir home;
    // The bridge answers from this event loop while the program runs.
    ASSERT_EQ(testing::runQuarvelScript(QStringLiteral(QUARVEL_BINARY), home, bridge.slavePath(),
                                        QString::fromUtf8("wait frmMain\n"
                                                          "click frmMain/ComEdit\n"
                                                          "wait setting\n"
                                                          "wait-idle\n"
                                                          "type setting/TextDollar3 77\n"
                                                          "select setting/ComboToleranceA3 7\n"
                                                          "click setting/Command2\n"
                                                          "wait-idle\n"
                                                          "quit\n")),
              0);

    const std::uint8_t control3 = before[18];
    EXPECT_EQ(model.cell(20), 77);
    EXPECT_EQ(model.cell(18), (control3 & ~15) | 7);
    ParameterImage stamped;
    link::stampFixedCells(stamped);
    for (int cell : {120, 121, 122, 123, 177, 182})
        EXPECT_EQ(model.cell(cell), stamped.integer(cell)) << cell;
    for (int cell : {85, 124, 125, 126, 127})
        EXPECT_EQ(model.cell(cell), before[static_cast<std::size_t>(cell)]) << cell;
    EXPECT_EQ(model.counts().endOfProgramming, 3);
}

// --port sim is the virtual selector, as quarvelctl takes it: its bench window can be opened.
TEST(QuarvelProgram, PortSimStartsTheVirtualSelector)
{
    QTemporaryDir home;
    EXPECT_EQ(testing::runQuarvelScript(QStringLiteral(QUARVEL_BINARY), home, QStringLiteral("sim"),
                                        QStringLiteral("wait frmMain\ntrigger mnuVirtualSelectorWindow\n"
                                                       "wait virtualSelector\nquit\n"),
                                        30000),
              0);
}

// A step that fails ends the run with its own code, even when a quit follows in the same tick.
TEST(QuarvelProgram, FailedStepIsNotMaskedByQuit)
{
    sim::VirtualSelector model;
    sim::PtyBridge bridge(model);
    ASSERT_TRUE(bridge.open());
    QTemporaryDir home;
    EXPECT_EQ(
        testing::runQuarvelScript(QStringLiteral(QUARVEL_BINARY), home, bridge.slavePath(),
                                  QStringLiteral("wait frmMain\ngrab frmMain /nonexistent/x.png\nquit\n")),
        3);
}

} // namespace
TEST(QuarvelProgram, WithoutADisplayItSaysWhatToDo)
{
    const struct
    {
        QStringList arguments;
        int exitCode;
        const char* says;
    } cases[] = {
        {{QStringLiteral("--version")}, 0, "quarvel "},
        {{}, 1, "xvfb-run"},
        {{QStringLiteral("--bogus")}, 1, "Unknown option 'bogus'"},
    };
    for (const auto& c : cases) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(QUARVEL_BINARY), c.arguments);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit); // no abort, no core
        EXPECT_EQ(process.exitCode(), c.exitCode);
        EXPECT_TRUE((process.readAllStandardOutput() + process.readAllStandardError()).contains(c.says));
    }
}

} // namespace quarvel
