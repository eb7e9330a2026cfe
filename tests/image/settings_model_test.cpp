#include "image/settings_model.h"

#include "image/address_map.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quarvel {
namespace {

SettingField field(const std::vector<SettingField>& fields, std::string_view key)
{
    const auto it =
        std::find_if(fields.begin(), fields.end(), [&](const SettingField& f) { return f.kind->key == key; });
    return it == fields.end() ? SettingField{} : *it;
}

// What the form and show display is the meaning of the byte programming sends.
TEST(SettingsModel, ShowsWhatProgrammingSends)
{
    const struct
    {
        int cell;
        const char* text;
        std::vector<std::pair<const char*, const char*>> shown; // field key -> text
    } cases[] = {
        {84, "140", {{"outputMode", "1. Pulse output"}, {"inhibitLevel", "High Inhibit"}}},
        {6, "12.6", {{"value", "13"}}},
        {6, "300", {{"value", "44"}}},
        {6, "12ab", {{"value", "12"}}},
        {6, "", {{"value", "0"}}},
        {4, "255", {{"toleranceA", "15"}, {"separator", "3"}, {"disable", "Yes"}}},
        {81, "255", {{"disable", "Yes"}}}, // coin 12
        // -1 is sent as 255, so it shows as 255 does (the leading number alone would say "No").
        {4, "-1", {{"toleranceA", "15"}, {"separator", "3"}, {"disable", "Yes"}}},
        {129, "4000", {{"toleranceB", "0"}, {"toleranceC", "10"}}}, // sent as 160
    };
    for (const auto& c : cases) {
        ParameterImage image;
        image.setText(c.cell, c.text);
        const auto fields = fieldsAt(c.cell);
        for (const auto& [key, text] : c.shown) {
            SCOPED_TRACE(std::string(c.text) + " " + key);
            const SettingField f = field(fields, key);
            ASSERT_NE(f.kind, nullptr);
            EXPECT_EQ(fieldText(image, f), text);
        }
    }
}

// Writing one field re-encodes its cell from what the cell sends, so the other fields and
// CoinControl bit 6 come through as shown.
TEST(SettingsModel, WritingOneFieldKeepsTheOthersOfItsCell)
{
    const struct
    {
        int cell;
        const char* before;
        const char* key;
        int value;
        const char* after;
    } cases[] = {
        {4, "-1", "disable", 0, "127"},      // 255 with bit 7 cleared; bit 6 kept
        {4, "197", "toleranceA", 99, "207"}, // clamped to 15
        {84, "243", "outputMode", 7, "135"}, // bits 6..4 cleared
        {130, "85", "toleranceC", 12, "197"}, {6, "12.6", "value", 300, "255"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before) + " " + c.key);
        ParameterImage image;
        image.setText(c.cell, c.before);
        setFieldValue(image, field(fieldsAt(c.cell), c.key), c.value);
        EXPECT_EQ(image.text(c.cell), c.after);
    }
    // A typed text box goes in unchanged; a list field has no text to take.
    ParameterImage image;
    setFieldText(image, field(channelFields(2), "value"), "12ab");
    setFieldText(image, field(channelFields(2), "disable"), "Yes");
    EXPECT_EQ(image.text(address::coinValue(2)), "12ab");
    EXPECT_EQ(image.text(address::coinControl(2)), "");
}

TEST(SettingsModel, ControlNamesFollowTheForm)
{
    EXPECT_EQ(controlName(field(channelFields(12), "value"), "HScroll"), "HScrollDollar12");
    EXPECT_EQ(controlName(field(channelFields(3), "disable"), "Combo"), "ComboInhibit3");
    EXPECT_EQ(controlName(field(bankFields(address::Bank::B), "divideFactor"), "Text"), "TextDivideFactorB");
    EXPECT_EQ(controlName(field(globalFields(), "timerScaleB"), "Text"), "TextHoldTime");
    EXPECT_EQ(controlName(field(globalFields(), "inhibitLevel"), "Combo"), "Combooutenble");
    EXPECT_TRUE(channelFields(13).empty());
}

TEST(SettingsModel, ProgrammableCells)
{
    const struct
    {
        const char* text;
        bool programmable;
    } cases[] = {
        {"", true},     {"0", true},      {"255", true},   {"007", true},  {"12.5", true}, {"255.4", true},
        {" 12 ", true}, {"255.5", false}, {"256", false},  {"300", false}, {"-1", false},  {"-0", false},
        {"+5", false},  {"12ab", false},  {"abc", false},  {"1 2", false}, {"12.", false}, {".5", false},
        {"1e2", false}, {"  ", false},    {"0x10", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isProgrammable(c.text), c.programmable) << '"' << c.text << '"';
}

TEST(SettingsModel, UnprogrammableCellsCoverOnlyTheProgrammedRanges)
{
    ParameterImage image;
    for (const int cell : {0, 84, 85, 86, 123, 124, 127, 128, 188, 189, 255})
        image.setText(cell, "-1");
    image.setText(6, "300");
    const std::vector<UnprogrammableCell> expected{{0, "-1", 255},  {6, "300", 44},   {84, "-1", 255},
                                                   {86, "-1", 255}, {123, "-1", 255}, {128, "-1", 255},
                                                   {188, "-1", 255}};
    EXPECT_EQ(unprogrammableCells(image), expected);
}

} // namespace
} // namespace quarvel
