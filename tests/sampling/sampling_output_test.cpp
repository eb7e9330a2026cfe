#include "sampling/sampling_output.h"

#include "image/default_image.h"

#include <gtest/gtest.h>

namespace quarvel::sampling {
namespace {

ChannelReference reference()
{
    ChannelReference r;
    r.aLow = 191;
    r.aHigh = 19;
    r.xReference = 41;
    r.yReference = 42;
    r.dhReference = 256; // a reference built by hand past the byte
    return r;
}

TEST(SamplingOutput, StoresChannelCellsAndKeepsTheWindowAfterOpenAndProgram)
{
    for (const auto store : {ReferenceStore::Taught, ReferenceStore::Calibrated}) {
        SCOPED_TRACE(static_cast<int>(store));
        ParameterImage image;
        for (int cell = 0; cell < ParameterImage::kCellCount; ++cell)
            image.setText(cell, "old");
        storeReference(image, 11, reference(), store);
        std::vector<std::pair<int, std::string>> changed;
        for (int cell = 0; cell < ParameterImage::kCellCount; ++cell)
            if (image.text(cell) != "old") changed.emplace_back(cell, image.text(cell));
        std::vector<std::pair<int, std::string>> expected{{77, "191"}, {78, "19"},  {79, "10"},
                                                          {82, "41"},  {118, "42"}, {119, "255"}};
        if (store == ReferenceStore::Calibrated) expected.erase(expected.begin() + 2);
        EXPECT_EQ(changed, expected);
    }
    ParameterImage untouched;
    storeReference(untouched, 12, reference(), ReferenceStore::Taught);
    EXPECT_EQ(untouched, ParameterImage{});
}

ParameterImage bankImage(const char* multiplyA, const char* divideA, const char* multiplyB,
                         const char* divideB)
{
    ParameterImage image;
    loadMainDefault(image);
    image.setText(87, multiplyA);
    image.setText(88, divideA);
    image.setText(90, multiplyB);
    image.setText(91, divideB);
    return image;
}

TEST(SamplingOutput, MoneyShownAtLoad)
{
    const struct
    {
        const char* name;
        ParameterImage image;
        const char* coinValue; // channel 1
        const char* money;
    } cases[] = {
        {"2/4", bankImage("2", "4", "1", "1"), "20", "10"},
        {"1/2", bankImage("1", "2", "1", "1"), "25", "12.5"},
        {"1/3 stays plain", bankImage("1", "3", "1", "1"), "1", "0.333333333333333"},
        {"lenient cell", bankImage("2", "4", "1", "1"), "20abc", "10"},
        {"cell 91 zero", bankImage("2", "4", "1", "0"), "20", "255"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParameterImage image = c.image;
        image.setText(6, c.coinValue);
        EXPECT_EQ(moneyTexts(image)[0], c.money);
    }
    EXPECT_EQ(plainDecimal(1e20), "100000000000000000000");
}

// Channel 6 is bank A's last coin, channel 7 bank B's first.
TEST(SamplingOutput, EachChannelConvertsWithItsOwnBank)
{
    ParameterImage image = bankImage("2", "4", "3", "1");
    image.setText(address::coinValue(6), "20");
    image.setText(address::coinValue(7), "20");
    std::array<std::string, kChannelCount> money = moneyTexts(image);
    EXPECT_EQ(money[5], "10");
    EXPECT_EQ(money[6], "60");
    money[5] = "5";
    money[6] = "30";
    std::array<bool, kChannelCount> taken{};
    taken[5] = taken[6] = true;
    ASSERT_EQ(takeBackCoinValues(image, money, taken).outcome, CoinValueTakeBack::Outcome::Written);
    EXPECT_EQ(image.text(address::coinValue(6)), "10");
    EXPECT_EQ(image.text(address::coinValue(7)), "10");
}

TEST(SamplingOutput, CoinValuesTakenBackAllOrNothing)
{
    using Outcome = CoinValueTakeBack::Outcome;
    const struct
    {
        const char* name;
        ParameterImage image;
        const char* money; // typed for channel 3; the others keep what the window showed
        Outcome outcome;
        const char* coinValue3;
    } cases[] = {
        {"12.5 with 2/4", bankImage("2", "4", "1", "1"), "12.5", Outcome::Written, "25"},
        {"unchanged 12.5 with 1/2", bankImage("1", "2", "1", "1"), "12.5", Outcome::Written, "25"},
        {"fraction kept", bankImage("1", "1", "1", "1"), " 7.5 ", Outcome::Written, "7.5"},
        {"15 significant digits", bankImage("7", "5", "1", "1"), "23", Outcome::Written, "16.4285714285714"},
        {"cell 90 zero", bankImage("2", "4", "0", "1"), "12.5", Outcome::NotScaled, "6"},
        {"not a number", bankImage("1", "1", "1", "1"), "12ab", Outcome::Refused, "6"},
        {"empty", bankImage("1", "1", "1", "1"), "", Outcome::Refused, "6"},
        {"exponent", bankImage("1", "1", "1", "1"), "1e2", Outcome::Refused, "6"},
        {"point without a fraction", bankImage("1", "1", "1", "1"), "12.", Outcome::Refused, "6"},
        {"above a byte", bankImage("2", "4", "1", "1"), "128", Outcome::Refused, "6"},
        {"negative", bankImage("1", "1", "1", "1"), "-1", Outcome::Refused, "6"},
        // The boxes show "255" without being the image's values: only the typed one goes back.
        {"cell 91 zero", bankImage("1", "1", "1", "0"), "7", Outcome::Written, "7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParameterImage image = c.image;
        for (int channel = 1; channel <= 12; ++channel)
            image.setText(7 * (channel - 1) + 6, "6");
        std::array<std::string, kChannelCount> money = moneyTexts(image);
        money[2] = c.money;
        const ParameterImage before = image;
        std::array<bool, kChannelCount> taken;
        taken.fill(moneyFromImage(image));
        taken[2] = true;
        const CoinValueTakeBack result = takeBackCoinValues(image, money, taken);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(image.text(20), c.coinValue3);
        if (c.outcome == Outcome::Refused) {
            EXPECT_EQ(image, before);
            EXPECT_EQ(result.channel, 3);
            EXPECT_EQ(result.message.rfind("Coin 3: ", 0), 0u) << result.message;
        }
        if (c.outcome == Outcome::Written) {
            EXPECT_EQ(image.text(6), "6"); // the others go back as they were
            EXPECT_EQ(image.text(83), "6");
        }
    }
}

} // namespace
} // namespace quarvel::sampling
