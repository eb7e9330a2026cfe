#include "image/parameter_image.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace quarvel {
namespace {

TEST(LeadingNumber, ReadsTheNumberAtTheStartOfTheText)
{
    struct Case
    {
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"12ab", 12}, {"abc", 0},      {"  7", 7}, {"-3", -3},    {"12.5", 12.5}, {"007", 7},
        {"+4", 4},    {".5", 0.5},     {"", 0},    {"\t9", 9},    {"-", 0},       {".", 0},
        {"1e3", 1},   {"3.25x", 3.25}, {"- 3", 0}, {"255 ", 255}, {"0x1F", 0},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(leadingNumber(c.text), c.expected) << '"' << c.text << '"';
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour)
{
    constexpr long long kMax = std::numeric_limits<long long>::max();
    constexpr long long kMin = std::numeric_limits<long long>::min();
    struct Case
    {
        double value;
        long long expected;
    };
    const double kInfinity = std::numeric_limits<double>::infinity();
    // clang-format off
    const Case cases[] = {
        {12.5, 12}, {13.5, 14}, {0.5, 0}, {1.5, 2}, {-2.5, -2}, {-3.5, -4}, {2.4999, 2}, {2.51, 3},
        {255.5, 256}, {-0.4, 0}, {1e300, kMax}, {-1e300, kMin}, {kInfinity, kMax},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(roundHalfEven(c.value), c.expected) << c.value;
}

TEST(ParameterImage, ConvertsCellTextAndIgnoresAddressesOutsideTheImage)
{
    ParameterImage image;
    image.setText(10, "13.5kg");
    EXPECT_DOUBLE_EQ(image.number(10), 13.5);
    EXPECT_EQ(image.integer(10), 14);
    image.setNumber(270, -7);
    EXPECT_EQ(image.text(270), "-7");

    const ParameterImage before = image;
    image.setText(-1, "1");
    image.setText(ParameterImage::kCellCount, "1");
    EXPECT_EQ(image, before);
    EXPECT_EQ(image.text(-1), "");
    EXPECT_EQ(image.integer(ParameterImage::kCellCount), 0);
}

} // namespace
} // namespace quarvel
