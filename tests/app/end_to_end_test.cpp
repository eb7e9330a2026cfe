// The real quarvel binary, under xvfb-run when there is one, against the virtual selector on a
// pty: Edit Coin Selector, change a coin value and a tolerance, Program to Coin Selector.
#include "image/parameter_image.h"
#include "link/program_transfer.h"
#include "sim/pty_bridge.h"
#include "sim/virtual_selector.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

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
    const QString script = home.filePath("edit.txt");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("wait frmMain\n"
               "click frmMain/ComEdit\n"
               "wait setting\n"
               "wait-idle\n"
               "type setting/TextDollar3 77\n"
               "select setting/ComboToleranceA3 7\n"
               "click setting/Command2\n"
               "wait-idle\n"
               "quit\n");
    file.close();

    QProcess quarvel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    QStringList args{"--port", bridge.slavePath(), "--script", script};
    const QString xvfb = QStandardPaths::findExecutable("xvfb-run");
    if (!xvfb.isEmpty()) {
        env.remove("QT_QPA_PLATFORM");
        quarvel.setProgram(xvfb);
        args.prepend(QStringLiteral(QUARVEL_BINARY));
        args.prepend("-a");
    } else {
        quarvel.setProgram(QStringLiteral(QUARVEL_BINARY));
    }
    quarvel.setArguments(args);
    quarvel.setProcessEnvironment(env);
    quarvel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QSignalSpy finished(&quarvel, &QProcess::finished);
    quarvel.start();
    // The bridge answers from this event loop while the program runs.
    ASSERT_TRUE(finished.wait(90000));
    ASSERT_EQ(quarvel.exitCode(), 0);

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

} // namespace
} // namespace quarvel
