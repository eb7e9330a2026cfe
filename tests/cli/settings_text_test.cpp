#include "settings_text.h"

#include "image/default_image.h"

#include <gtest/gtest.h>

namespace quarvel::cli {
namespace {

TEST(SettingsReport, MainDefaultImageDecodesToTheStartUpSettings)
{
    ParameterImage image;
    loadMainDefault(image);
    const SettingsReport report = makeSettingsReport(image);
    EXPECT_EQ(report.output.mode, 0);
    EXPECT_EQ(report.output.inhibitLevel, 1);
    EXPECT_EQ(report.signalTime, 50);
    EXPECT_EQ(report.timerScaleA, 1);
    EXPECT_EQ(report.timerScaleB, 1);
    for (const auto& bank : report.banks)
        EXPECT_EQ(bank, (BankSettings{1, 1, 1}));
    for (int n = 1; n <= 12; ++n) {
        const ChannelSettings expected{n, 0, 10, 5, 5, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(report.channels[static_cast<std::size_t>(n - 1)], expected) << "coin " << n;
    }
    // Empty cells are sent as 0 and are fine.
    EXPECT_TRUE(report.flagged.empty());
}

TEST(SettingsReport, CellsOutsideTheirListsAreClampedAndReferencesJoined)
{
    ParameterImage image;
    image.setText(4, "255");    // coin 1 CoinControl
    image.setText(84, "140");   // high inhibit, mode 12 -> shown as mode 0
    image.setText(129, "163");  // coin 1 ToleranceBC: B 3, C 10
    image.setText(0, "52");     // coin 1 A reference, low byte
    image.setText(1, "18");     // high byte
    image.setText(83, "12.6");  // coin 12 value
    image.setText(140, "4000"); // coin 12 ToleranceBC, sent as 160
    const SettingsReport report = makeSettingsReport(image);
    EXPECT_EQ(report.output, (OutputControl{0, 1}));
    const auto& coin1 = report.channels[0];
    EXPECT_EQ(coin1.toleranceA, 15);
    EXPECT_EQ(coin1.separator, 3);
    EXPECT_EQ(coin1.disable, 1);
    EXPECT_EQ(coin1.toleranceB, 3);
    EXPECT_EQ(coin1.toleranceC, 10);
    EXPECT_EQ(coin1.refA, 4660);
    const auto& coin12 = report.channels[11];
    EXPECT_EQ(coin12.value, 13);
    EXPECT_EQ(coin12.toleranceC, 10);
    EXPECT_EQ(coin12.toleranceB, 0);
}

TEST(SettingsReport, TextShowsTheFormsLabelsAndListsFlaggedCells)
{
    ParameterImage image;
    loadMainDefault(image);
    for (int a = 0; a < ParameterImage::kSelectorCells; ++a) {
        if (image.text(a).empty()) image.setText(a, "0");
    }
    image.setText(69, "25"); // coin 10 value
    image.setText(92, "12.5");
    image.setText(93, "-1");
    const std::string text = settingsText(makeSettingsReport(image));
    for (const char* line : {
             "Output Mode:        1. Pulse output\n",
             "Inhibit Level:      High Inhibit\n",
             "Signal Time:        12 x 2 (mS)\n",
             "Price B:            1\n",
             "Coin 1:      0     10      5      5  No               0      0      0      0       0\n",
             "Coin10:     25     10      5      5  No               0      0      0      0       0\n",
             "Timer Scale A:      255 x 2 (mS)\n",
             "     93  TimerScaleA             \"-1\"                        255\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << "missing: " << line << "in:\n" << text;
    }
}

TEST(SettingsReport, PrintableTextEscapesControlBytesAndCutsLongTexts)
{
    EXPECT_EQ(printableCellText("12"), "\"12\"");
    EXPECT_EQ(printableCellText("a\x01\x1b[2J"), "\"a\\x01\\x1B[2J\"");
    EXPECT_EQ(printableCellText("\xC3\xA9"), "\"\\xC3\\xA9\"");
    EXPECT_EQ(printableCellText(std::string(30, '9'), 5), "\"99999\"...");
}

TEST(SettingsReport, JsonCarriesEveryChannelAndTheFlaggedCells)
{
    ParameterImage image;
    loadMainDefault(image);
    image.setText(95, "a\"b");
    const std::string json = settingsJson(makeSettingsReport(image));
    EXPECT_EQ(json.rfind("{\"outputMode\":{\"index\":0,\"text\":\"1. Pulse output\"},", 0), 0u) << json;
    EXPECT_NE(json.find("{\"coin\":12,\"bank\":\"B\",\"value\":0,\"toleranceA\":10,\"toleranceB\":5,"
                        "\"toleranceC\":5,\"disable\":false,\"separator\":0,\"refA\":0,\"refX\":0,\"refY\":0,"
                        "\"refDH\":0}"),
              std::string::npos);
    EXPECT_NE(json.find("{\"address\":95,\"field\":\"HoldTime\",\"text\":\"a\\\"b\",\"asByte\":0}"),
              std::string::npos);
    EXPECT_EQ(json.back(), '\n');
}

} // namespace
} // namespace quarvel::cli
