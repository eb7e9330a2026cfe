// The real quarvel binary, under xvfb-run when there is one, against the virtual selector on a
// pty: Teach Coin Selector, OK, twelve coins on channel 1, Save as a CDT file, then Open &
// Program of that file, which ends in the calibration window.
#include "image/address_map.h"
#include "image/image_file.h"
#include "sim/coin_feeder.h"
#include "sim/coin_types.h"
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

TEST(QuarvelProgram, TeachSaveAndOpenAndProgram)
{
    sim::VirtualSelector model;
    sim::PtyBridge bridge(model);
    ASSERT_TRUE(bridge.open());
    // The coins wait in the hand until the selector samples.
    sim::CoinFeeder feeder(bridge);
    feeder.setPace(10, 30);
    feeder.feed(0, 12);

    QTemporaryDir home;
    const QString cdt = home.filePath("taught.cdt");
    const QString script = home.filePath("teach.txt");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("wait frmMain\n"
                              "click frmMain/ComTeach\n"
                              "wait setting\n"
                              "click setting/ComOK\n"
                              "wait sampling\n"
                              "click sampling/insert_0\n"
                              "wait-idle\n"
                              "choose-file %1\n"
                              "click sampling/Command1\n"
                              "click sampling/Command3\n"
                              "trigger mnuOpen_Program\n"
                              "wait sampling/STRCH2\n"
                              "wait-idle\n"
                              "quit\n")
                   .arg(cdt)
                   .toUtf8());
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
    ASSERT_TRUE(finished.wait(90000));
    ASSERT_EQ(quarvel.exitCode(), 0);
    EXPECT_EQ(feeder.remaining(), 0);

    // The file holds channel 1's new references, near the coin type's mean.
    const ImageFileRead read = readImageFile(cdt);
    ASSERT_TRUE(read.file.has_value()) << read.error.toStdString();
    const ParameterImage& saved = read.file->image;
    const int a =
        static_cast<int>(saved.integer(address::refAHigh(1)) * 256 + saved.integer(address::refALow(1)));
    EXPECT_NEAR(a, sim::coinTypes()[0].meanA, 4 * sim::coinTypes()[0].spreadA);
    EXPECT_EQ(saved.integer(address::sigmaA(1)), 10);

    // Open & Program sent that file: three ranges, the selector holds the references.
    EXPECT_EQ(model.counts().samplingStarts, 1);
    EXPECT_EQ(model.counts().endOfProgramming, 3);
    for (const int cell :
         {address::refALow(1), address::refAHigh(1), address::refX(1), address::refY(1), address::refDH(1)})
        EXPECT_EQ(model.cell(cell), saved.integer(cell)) << cell;
}

} // namespace
} // namespace quarvel
