#include "image/address_map.h"
#include "image/parameter_image.h"
#include "sampling/teach_quality.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarvel::sampling {
namespace {

// Twelve coins around the given means, spread a little, each quantity by the same offsets.
std::vector<Sample> coins(int a, int x, int y, int dh)
{
    const int offsets[12] = {0, 1, -1, 2, -2, 0, 1, -1, 0, 3, -3, 0};
    std::vector<Sample> out;
    for (const int d : offsets)
        out.push_back({a + 10 * d, x + d, y + d, dh + d, false});
    return out;
}

void storeReferences(ParameterImage& image, int channel, int a, int x, int y, bool enabled = true)
{
    image.setNumber(address::refALow(channel), a % 256);
    image.setNumber(address::refAHigh(channel), a / 256);
    image.setNumber(address::refX(channel), x);
    image.setNumber(address::refY(channel), y);
    image.setNumber(address::coinControl(channel), enabled ? 10 : 128 + 10);
    image.setNumber(address::toleranceBC(channel), 0x55); // tolerances B and C of 5
}

ChannelReference referenceFor(const std::vector<Sample>& s)
{
    std::vector<float> a;
    std::vector<std::int16_t> x, y, dh;
    for (const Sample& c : s) {
        a.push_back(static_cast<float>(c.a));
        x.push_back(static_cast<std::int16_t>(c.x));
        y.push_back(static_cast<std::int16_t>(c.y));
        dh.push_back(static_cast<std::int16_t>(c.dh));
    }
    return *ChannelReference::compute(a, x, y, dh);
}

TEST(TeachQuality, DropsTwoAtEachEndAndOnlyOneOfATie)
{
    const std::vector<int> values{50, 9, 50, 1, 7, 50, 1, 1, 8};
    const std::vector<bool> dropped = droppedSamples(values);
    EXPECT_EQ(std::count(dropped.begin(), dropped.end(), true), 4);
    EXPECT_TRUE(dropped[3] && dropped[6]); // two of the three 1s
    EXPECT_FALSE(dropped[7]);
    EXPECT_TRUE(dropped[2] && dropped[5]); // two of the three 50s
    EXPECT_FALSE(dropped[0]);
    EXPECT_EQ(droppedSamples(std::vector<int>{3, 2, 1, 0}), std::vector<bool>(4, false));
}

TEST(TeachQuality, CloseRuleAtItsEdges)
{
    struct Case
    {
        const char* what;
        int a2, x2, y2;
        bool close;
    };
    // Reference channel: A 5000, X 90, Y 120; 2 % of 5100 is 102.
    const Case cases[] = {
        {"same coin", 5000, 90, 120, true},          {"A 2 % of the larger apart", 5100, 93, 117, true},
        {"A just beyond 2 %", 5103, 90, 120, false}, {"X four apart", 5000, 94, 120, false},
        {"Y four apart", 5000, 90, 116, false},      {"never taught", 0, 90, 120, false},
    };
    for (const Case& c : cases) {
        const ChannelReferences one{1, true, 5000, 90, 120};
        const ChannelReferences two{2, true, c.a2, c.x2, c.y2};
        EXPECT_EQ(referencesClose(one, two), c.close) << c.what;
        EXPECT_EQ(referencesClose(two, one), c.close) << c.what;
    }
}

TEST(TeachQuality, WarningsOnCraftedRuns)
{
    ParameterImage image;
    for (int ch = 1; ch <= 12; ++ch)
        storeReferences(image, ch, 3000 + 500 * ch, 50 + 8 * ch, 80 + 8 * ch);

    // A clean teach of channel 4: no warnings, series and references as the plots need them.
    std::vector<Sample> clean = coins(5000, 90, 120, 60);
    ChannelReference ref = referenceFor(clean);
    storeReferences(image, 4, ref.aReference, ref.xReference, ref.yReference);
    TeachQuality q = assessTeach(4, clean, ref, image);
    EXPECT_FALSE(q.hasWarnings()) << q.warningTexts().front();
    EXPECT_EQ(q.series[2].values.size(), 12u);
    EXPECT_EQ(q.series[2].reference, ref.yReference);
    EXPECT_EQ(q.tolerance, 5);

    // The same coin taught on channel 9 too: both enabled, so the coins could be confused;
    // disabling channel 9 removes the warning.
    storeReferences(image, 9, ref.aReference + 40, ref.xReference + 2, ref.yReference - 3);
    EXPECT_EQ(assessTeach(4, clean, ref, image).closeTo, std::vector<int>{9});
    storeReferences(image, 9, ref.aReference + 40, ref.xReference + 2, ref.yReference - 3, false);
    EXPECT_TRUE(assessTeach(4, clean, ref, image).closeTo.empty());

    // An irregular coin counted, and a wide Y and dH spread against tolerance 5.
    std::vector<Sample> rough = clean;
    rough[5].irregular = true;
    for (std::size_t i = 0; i < rough.size(); ++i) {
        rough[i].y += (i % 2 ? 6 : -6);
        rough[i].dh += (i % 2 ? 6 : -6);
    }
    ref = referenceFor(rough);
    q = assessTeach(4, rough, ref, image);
    EXPECT_EQ(q.irregularCount, 1);
    EXPECT_TRUE(q.ySpreadLarge);
    EXPECT_TRUE(q.dhSpreadLarge);
    EXPECT_EQ(q.warningTexts().front(), "irregular coin counted (1)");
}

} // namespace
} // namespace quarvel::sampling
