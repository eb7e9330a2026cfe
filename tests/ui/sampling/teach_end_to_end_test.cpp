// The real quarvel binary, under xvfb-run when there is one, against the virtual selector on a
// pty: Teach Coin Selector, OK, twelve coins on channel 1, Save as a CDT file, then Open &
// Program of that file (asked first), which ends in the calibration window.
#include "image/address_map.h"
#include "image/qt/image_file.h"
#include "sim/coin_types.h"
#include "sim/qt/coin_feeder.h"
#include "sim/qt/pty_bridge.h"
#include "sim/virtual_selector.h"

#include "quarvel_script_run.h"

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
    ASSERT_EQ(testing::runQuarvelScript(QStringLiteral(QUARVEL_BINARY), home, bridge.slavePath(),
                                        QStringLiteral("wait frmMain\n"
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
                                                       "click ConfirmOpenProgram/yes\n"
                                                       "wait sampling/STRCH2\n"
                                                       "wait-idle\n"
                                                       "quit\n")
                                            .arg(cdt)),
              0);
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
