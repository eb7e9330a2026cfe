#include "sampling/channel_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace quarvel::sampling {
namespace {

using Series = std::vector<std::int16_t>;

// The series of the worked example, with X and dH chosen so that every item of the text differs.
const std::vector<float> kExampleA{5000, 5010, 5020, 5030, 5040, 5050, 5060, 5070, 5080, 5090, 5100, 5110};
const Series kExampleX{30, 31, 29, 33, 35, 28, 40, 10, 32, 34, 31, 30};
const Series kExampleY{40, 40, 41, 41, 41, 41, 41, 42, 42, 42, 43, 44};
const Series kExampleDh{50, 44, 60, 48, 52, 47, 53, 49, 51, 0, 100, 46};

Series constant(std::int16_t value, std::size_t n = 12)
{
    return Series(n, value);
}
std::vector<float> constantA(float value, std::size_t n = 12)
{
    return std::vector<float>(n, value);
}

ChannelReference computeOk(const std::vector<float>& a, const Series& x, const Series& y, const Series& dh)
{
    const auto result = ChannelReference::compute(a, x, y, dh);
    EXPECT_TRUE(result.has_value());
    return result.value_or(ChannelReference{});
}

TEST(ChannelReference, WorkedExample)
{
    // A: positions 3..10 are 5090..5020, sum 40440 -> 5055 = 19 * 256 + 191.
    // X: 34+33+32+31+31+30+30+29 = 250 -> 31.
    // Y: 42,42,42,41,41,41,41,41 -> m 41.375 -> 42; spread: the running total stays 0, the
    //    last term 4.8 * 0.140625 = 0.675 makes it 1, sqrt(1/11) -> 0.
    // dH: 53..46 -> m 49.5 -> 50; running total 12,18,20,20,20,22,28,40, plus
    //    4.8 * 12.25 = 58.8 -> 99, sqrt(99/11) = 3.
    const ChannelReference r = computeOk(kExampleA, kExampleX, kExampleY, kExampleDh);
    EXPECT_EQ(r.aReference, 5055);
    EXPECT_EQ(r.aHigh, 19);
    EXPECT_EQ(r.aLow, 191);
    EXPECT_EQ(r.aWindow, 10);
    EXPECT_EQ(r.xReference, 31);
    EXPECT_EQ(r.yReference, 42);
    EXPECT_EQ(r.ySpread, 0);
    EXPECT_EQ(r.dhReference, 50);
    EXPECT_EQ(r.dhSpread, 3);
    EXPECT_EQ(r.successText(), "Sampling ok :BF 13 A 0 0 1F (0 2A) (3 32)");
}

TEST(ChannelReference, AReference)
{
    struct Case
    {
        const char* name;
        std::vector<float> a;
        int reference, high, low;
    };
    const std::vector<Case> cases{
        {"identical", constantA(1000), 1000, 3, 232},
        {"rounded down",
         {5000, 5010, 5020, 5030, 5040, 5057, 5060, 5070, 5080, 5090, 5100, 5110},
         5055,
         19,
         191},
        {"outliers", {0, 5000, 5000, 5000, 5000, 32767, 5000, 5000, 5000, 5000, 32767, 0}, 5000, 19, 136},
        {"largest", constantA(32767), 32767, 127, 255},
        {"two full bytes", constantA(65535), 65535, 255, 255},
        {"zero", constantA(0), 0, 0, 0},
        // The running total is rounded after each addition, halves to even:
        // 2, 4, 6, ..., 16 -> 2; summing first would give 12 / 8 -> 1.
        {"running rounding", constantA(1.5F), 2, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ChannelReference r = computeOk(c.a, constant(0), constant(0), constant(0));
        EXPECT_EQ(r.aReference, c.reference);
        EXPECT_EQ(r.aHigh, c.high);
        EXPECT_EQ(r.aLow, c.low);
        EXPECT_EQ(r.aWindow, 10);
    }
}

TEST(ChannelReference, XReferenceRoundsDown)
{
    struct Case
    {
        const char* name;
        Series x;
        int reference;
    };
    const std::vector<Case> cases{
        {"trimmed sum 335", {45, 200, 43, 0, 42, 42, 41, 100, 41, 41, 1, 40}, 41},
        {"exact", constant(40), 40},
        {"trimmed sum 327", {41, 41, 41, 41, 41, 41, 41, 40, 0, 0, 99, 99}, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(computeOk(constantA(1000), c.x, constant(0), constant(0)).xReference, c.reference);
    }
}

// Y and dH follow the same rules; every case runs through both series.
TEST(ChannelReference, RaisedReferenceAndSpread)
{
    struct Case
    {
        const char* name;
        Series values;
        int reference, spread;
    };
    const std::vector<Case> cases{
        {"mean 40.0", constant(40), 41, 0},
        // Trimmed sums 324, 325, 327 over eight values.
        {"mean 40.5", {41, 41, 41, 41, 40, 40, 40, 40, 99, 99, 0, 0}, 41, 0},
        {"mean 40.625", {41, 41, 41, 41, 41, 40, 40, 40, 99, 99, 0, 0}, 42, 0},
        {"mean 40.875", {41, 41, 41, 41, 41, 41, 41, 40, 99, 99, 0, 0}, 42, 0},
        {"worked example", kExampleY, 42, 0},
        {"255 throughout: kept to a byte", constant(255), 255, 0},
        // Trimmed 45,44,42,41,40,35,35,34: m 39.5; running total 30,50,56,58,58,78,98,128
        // (each x.25 rounds down), plus 4.8 * 30.25 = 145.2 -> 273; sqrt(273/11) = 4.98 -> 4.
        // Without the running rounding it would be 275 -> 5; without the last term 3.
        {"running rounding", {35, 45, 90, 41, 0, 34, 42, 10, 40, 44, 80, 35}, 40, 4},
        // Trimmed 50 and seven 40: m 41.25; running total 77,79,...,91, then the last term
        // 4.8 * 1.5625 = 7.5 ties: 98.5 -> 98 (half to even), sqrt(98/11) = 2.98 -> 2.
        {"last term ties", {60, 55, 50, 40, 40, 40, 40, 40, 40, 40, 30, 20}, 42, 2},
        {"dH example", kExampleDh, 50, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ChannelReference asY = computeOk(constantA(1000), constant(7), c.values, constant(7));
        EXPECT_EQ(asY.yReference, c.reference);
        EXPECT_EQ(asY.ySpread, c.spread);
        EXPECT_EQ(asY.dhReference, 8);
        EXPECT_EQ(asY.dhSpread, 0);
        const ChannelReference asDh = computeOk(constantA(1000), constant(7), constant(7), c.values);
        EXPECT_EQ(asDh.dhReference, c.reference);
        EXPECT_EQ(asDh.dhSpread, c.spread);
        EXPECT_EQ(asDh.yReference, 8);
        EXPECT_EQ(asDh.ySpread, 0);
    }
}

TEST(ChannelReference, ExtremeOutliersAndOrderHaveNoInfluence)
{
    constexpr std::int16_t kMin = std::numeric_limits<std::int16_t>::min();
    constexpr std::int16_t kMax = std::numeric_limits<std::int16_t>::max();
    const ChannelReference base = computeOk(kExampleA, kExampleX, kExampleY, kExampleDh);

    // The two largest and two smallest of each series replaced by extremes, at other positions.
    const std::vector<float> a{5020, 65535, 5030, 5040, 0, 5050, 5060, 5070, 65535, 5080, 0, 5090};
    const Series x{kMax, 34, 33, kMin, 32, 31, 31, kMax, 30, 30, 29, kMin};
    const Series y{kMin, 42, 42, 42, kMax, 41, 41, 41, kMin, 41, 41, kMax};
    const Series dh{53, 52, kMin, 51, 50, kMax, 49, 48, kMax, 47, 46, kMin};
    EXPECT_EQ(computeOk(a, x, y, dh), base);

    // Ties everywhere, in three different orders.
    const Series tiesDescending{44, 43, 42, 42, 42, 41, 41, 41, 41, 41, 40, 40};
    const Series tiesMixed{41, 42, 40, 41, 44, 41, 42, 40, 41, 43, 42, 41};
    for (const Series& ys : {kExampleY, tiesDescending, tiesMixed}) {
        const ChannelReference r = computeOk(kExampleA, kExampleX, ys, kExampleDh);
        EXPECT_EQ(r, base);
    }
}

TEST(ChannelReference, ShortestAndLongerRunsUseTheSameRules)
{
    // Five samples leave position 3 alone in the trimmed range, divided by 1.
    const ChannelReference five =
        computeOk({1, 2, 3, 4, 5}, {9, 8, 7, 6, 5}, {1, 2, 3, 4, 5}, {5, 5, 5, 5, 5});
    EXPECT_EQ(five.aReference, 3);
    EXPECT_EQ(five.xReference, 7);
    EXPECT_EQ(five.yReference, 4);
    EXPECT_EQ(five.dhReference, 6);

    // Sixteen samples: positions 3..14 of 1..16 are 14..3, sum 102 over 12 = 8.5.
    Series x;
    std::vector<float> a;
    for (std::int16_t v = 1; v <= 16; ++v) {
        x.push_back(v);
        a.push_back(v);
    }
    const ChannelReference sixteen = computeOk(a, x, x, x);
    EXPECT_EQ(sixteen.aReference, 8);
    EXPECT_EQ(sixteen.xReference, 8);
    EXPECT_EQ(sixteen.yReference, 9);
}

TEST(ChannelReference, RejectsUnusableSeries)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        const char* name;
        std::vector<float> a;
        std::size_t others;
    };
    const std::vector<Case> cases{
        {"too few", constantA(1000, 4), 4},
        {"too many", constantA(1000, 81), 81},
        {"lengths differ", constantA(1000, 12), 11},
        {"negative A", {1000, 1000, -1, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000}, 12},
        {"A beyond two bytes", {1000, 1000, 65536, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000}, 12},
        {"A not a number", {1000, 1000, nan, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000}, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Series s = constant(40, c.others);
        EXPECT_FALSE(ChannelReference::compute(c.a, s, s, s).has_value());
    }
    EXPECT_TRUE(
        ChannelReference::compute(constantA(1000, 80), constant(1, 80), constant(1, 80), constant(1, 80)));
}

TEST(ChannelReference, SuccessText)
{
    struct Case
    {
        const char* name;
        ChannelReference reference;
        const char* text;
    };
    ChannelReference wide;
    wide.aLow = 255;
    wide.aHigh = 127;
    wide.xReference = 171;
    wide.ySpread = 16;
    wide.yReference = 256;
    wide.dhSpread = 15;
    wide.dhReference = 10;
    const std::vector<Case> cases{
        {"zeros", ChannelReference{}, "Sampling ok :0 0 A 0 0 0 (0 0) (0 0)"},
        {"upper case, no leading zeros", wide, "Sampling ok :FF 7F A 0 0 AB (10 100) (F A)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.reference.successText(), c.text);
    }
    EXPECT_EQ(computeOk(constantA(1000), constant(40), constant(255), constant(40)).successText(),
              "Sampling ok :E8 3 A 0 0 28 (0 FF) (0 29)");
}

} // namespace
} // namespace quarvel::sampling
