#include "settings_report.h"

#include "image/default_image.h"

#include <gtest/gtest.h>

#include <set>

namespace quarvel::cli {
namespace {

struct TextCase
{
    const char* text;
    int shown;
    bool plain;
};

TEST(SettingsReport, ByteFieldsShowAsTheFormWouldAndOnlyPlainBytesPass)
{
    const TextCase cases[] = {
        {"0", 0, true},      {"255", 255, true},  {"007", 7, true},     {"", 0, false},
        {"12.6", 13, false}, {"12.5", 12, false}, {"13.5", 14, false},  {"256", 255, false},
        {"300", 255, false}, {"-4", 0, false},    {"abc", 0, false},    {" 5", 5, false},
        {"5 ", 5, false},    {"1.0", 1, false},   {"1234", 255, false}, {"12ab", 12, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(displayByte(c.text), c.shown);
        EXPECT_EQ(isPlainByte(c.text), c.plain);
    }
}

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
    // The default leaves the calibration cells and the unnamed columns empty: programming would
    // send them as 0, so they are flagged; the empty tool-only cells are not.
    std::set<int> flagged;
    for (const auto& cell : report.flagged) {
        EXPECT_EQ(cell.text, "");
        EXPECT_EQ(cell.asByte, 0);
        flagged.insert(cell.address);
    }
    std::set<int> expected;
    for (int a = 120; a <= 128; ++a)
        expected.insert(a);
    for (int a = 141; a <= 188; ++a)
        expected.insert(a);
    EXPECT_EQ(flagged, expected);
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
    image.setText(140, "4000"); // coin 12 ToleranceBC far out of range
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
    EXPECT_EQ(coin12.toleranceC, 15);
    EXPECT_LE(coin12.toleranceB, 15);
}

TEST(SettingsReport, FlagsOddSelectorCellsWithTheByteProgrammingSends)
{
    ParameterImage image;
    for (int a = 0; a < ParameterImage::kFileCells; ++a)
        image.setText(a, "1");
    image.setText(6, "300");
    image.setText(92, "12.5");
    image.setText(93, "-1");
    image.setText(190, "");    // tool-only and empty: not flagged
    image.setText(200, "abc"); // tool-only: flagged, never programmed
    image.setText(260, "xyz"); // beyond the file: not looked at
    const auto flagged = flaggedCells(image);
    const std::vector<FlaggedCell> expected{
        {6, "coin 1 CoinValue", "300", 44},
        {92, "SignalTime", "12.5", 12},
        {93, "TimerScaleA", "-1", 255},
        {200, "cell 200", "abc", std::nullopt},
    };
    EXPECT_EQ(flagged, expected);
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
    const std::string text = settingsText(makeSettingsReport(image));
    for (const char* line : {
             "Output Mode:        1. Pulse output\n",
             "Inhibit Level:      High Inhibit\n",
             "Signal Time:        12 x 2 (mS)\n",
             "Price B:            1\n",
             "Coin 1:      0     10      5      5  No               0      0      0      0       0\n",
             "Coin10:     25     10      5      5  No               0      0      0      0       0\n",
             "     92  SignalTime              \"12.5\"                      12\n",
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
    image.setText(200, "a\"b");
    const std::string json = settingsJson(makeSettingsReport(image));
    EXPECT_EQ(json.rfind("{\"outputMode\":{\"index\":0,\"text\":\"1. Pulse output\"},", 0), 0u) << json;
    EXPECT_NE(json.find("{\"coin\":12,\"bank\":\"B\",\"value\":0,\"toleranceA\":10,\"toleranceB\":5,"
                        "\"toleranceC\":5,\"disable\":false,\"separator\":0,\"refA\":0,\"refX\":0,\"refY\":0,"
                        "\"refDH\":0}"),
              std::string::npos);
    EXPECT_NE(json.find("{\"address\":200,\"field\":\"cell 200\",\"text\":\"a\\\"b\",\"asByte\":null}"),
              std::string::npos);
    EXPECT_EQ(json.back(), '\n');
}

} // namespace
} // namespace quarvel::cli
