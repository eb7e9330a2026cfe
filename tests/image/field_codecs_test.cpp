#include "image/field_codecs.h"

#include <gtest/gtest.h>

#include <string>

namespace quarvel {
namespace {

TEST(CoinControlCodec, DecodesBitsAndClampsOutOfRangeCells)
{
    struct Case
    {
        const char* cell;
        CoinControl expected; // disable, separator, tolerance A
    };
    const Case cases[] = {
        {"197", {1, 0, 5}}, // 0xC5: bit 6 set, not a field
        {"170", {1, 2, 10}}, {"10", {0, 0, 10}},   {"255", {1, 3, 15}},
        {"", {0, 0, 0}},     {"abc", {0, 0, 0}},   {"12.5", {0, 0, 12}},
        {"48", {0, 3, 0}},   {"256", {1, 0, 0}},   {"1000", {1, 2, 8}},
        {"-3", {0, 0, 13}},  {"-100", {0, 0, 12}}, {"99999999999999999999999", {1, 3, 15}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decodeCoinControl(c.cell), c.expected) << c.cell;
}

TEST(CoinControlCodec, EncodeKeepsBitSixOfThePreviousValue)
{
    struct Case
    {
        CoinControl fields;
        const char* previous;
        const char* expected;
    };
    const Case cases[] = {
        {{0, 0, 5}, "197", "69"}, {{1, 2, 10}, "170", "170"}, {{1, 3, 15}, "64", "255"},
        {{0, 0, 0}, "", "0"},     {{0, 1, 0}, "320", "80"},   {{0, 0, 0}, "63.5", "64"},
        {{5, 9, 99}, "0", "191"}, {{-1, -1, -1}, "abc", "0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(encodeCoinControl(c.fields, c.previous), c.expected) << c.previous;
}

TEST(OutputControlCodec, DecodesModeAndInhibitLevel)
{
    struct Case
    {
        const char* cell;
        OutputControl expected; // mode, inhibit level
    };
    const Case cases[] = {
        {"129", {1, 1}}, {"124", {0, 0}}, {"243", {3, 1}}, {"128", {0, 1}},  {"11", {11, 0}},
        {"15", {0, 0}},  {"", {0, 0}},    {"256", {0, 1}}, {"1000", {8, 1}}, {"-1", {0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decodeOutputControl(c.cell), c.expected) << c.cell;

    EXPECT_EQ(kOutputModeTexts[static_cast<std::size_t>(decodeOutputControl("129").mode)],
              "2. Pulse output with INHIBIT");
    EXPECT_EQ(kOutputModeTexts[static_cast<std::size_t>(decodeOutputControl("124").mode)], "1. Pulse output");
    EXPECT_EQ(kOutputModeTexts[11], "12. not availiable");
    EXPECT_EQ(kInhibitLevelTexts[0], "Low Inhibit");
    EXPECT_EQ(kInhibitLevelTexts[1], "High Inhibit");
}

TEST(OutputControlCodec, EncodeClearsTheUnusedBits)
{
    EXPECT_EQ(encodeOutputControl(decodeOutputControl("243")), "131");
    EXPECT_EQ(encodeOutputControl(decodeOutputControl("124")), "0");
    EXPECT_EQ(encodeOutputControl({11, 1}), "139");
    EXPECT_EQ(encodeOutputControl({12, 0}), "0");
    EXPECT_EQ(encodeOutputControl({-1, 0}), "0");
    EXPECT_EQ(encodeOutputControl({3, 5}), "131");
}

TEST(ToleranceBCCodec, DecodesAndEncodesNibbles)
{
    struct Case
    {
        const char* cell;
        ToleranceBC expected; // B, C
    };
    const Case cases[] = {
        {"85", {5, 5}},   {"163", {3, 10}},  {"", {0, 0}},     {"255", {15, 15}},
        {"256", {0, 15}}, {"1000", {8, 15}}, {"-20", {12, 0}}, {"15.9", {0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decodeToleranceBC(c.cell), c.expected) << c.cell;

    EXPECT_EQ(encodeToleranceBC({5, 5}), "85");
    EXPECT_EQ(encodeToleranceBC({3, 10}), "163");
    EXPECT_EQ(encodeToleranceBC({16, -1}), "15");
}

TEST(FieldCodecs, EveryByteSurvivesDecodeAndEncode)
{
    for (int v = 0; v <= 255; ++v) {
        const std::string cell = std::to_string(v);
        EXPECT_EQ(encodeCoinControl(decodeCoinControl(cell), cell), cell);
        EXPECT_EQ(encodeToleranceBC(decodeToleranceBC(cell)), cell);
        // Only bits 7 and 3..0 are kept, and modes past the list read as 0.
        const int kept = (v & 128) + ((v & 15) < 12 ? (v & 15) : 0);
        EXPECT_EQ(encodeOutputControl(decodeOutputControl(cell)), std::to_string(kept));
    }
}

} // namespace
} // namespace quarvel
