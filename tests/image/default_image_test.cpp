#include "image/default_image.h"
#include "image/field_codecs.h"

#include "marked_image.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace quarvel {
namespace {

using test_support::kUntouched;
using test_support::markedImage;

// Expected cell texts, written out from the default tables by cell number.
std::array<std::string, ParameterImage::kCellCount> expectedMainDefault()
{
    std::array<std::string, ParameterImage::kCellCount> cells;
    cells.fill(kUntouched);
    for (int cell = 0; cell <= 119; ++cell)
        cells[cell] = "0";
    for (int cell : {4, 11, 18, 25, 32, 39, 46, 53, 60, 67, 74, 81})
        cells[cell] = "10";
    cells[84] = "128";
    for (int cell : {86, 87, 88, 89, 90, 91, 93, 94})
        cells[cell] = "1";
    cells[92] = "50";
    for (int cell = 129; cell <= 140; ++cell)
        cells[cell] = "85";
    return cells;
}

std::array<std::string, ParameterImage::kCellCount> expectedSettingsDefault()
{
    std::array<std::string, ParameterImage::kCellCount> cells;
    cells.fill(kUntouched);
    for (int cell = 0; cell <= 255; ++cell)
        cells[cell] = "0";
    for (int cell : {3, 10, 17, 24, 31, 38, 45, 52, 59, 66, 73, 80})
        cells[cell] = "170";
    for (int cell = 129; cell <= 140; ++cell)
        cells[cell] = "85";
    for (int cell = 141; cell <= 152; ++cell)
        cells[cell] = "153";
    cells[84] = "129";
    for (int cell : {86, 87, 88, 89, 90, 91, 93, 94})
        cells[cell] = "1";
    cells[92] = "100";
    return cells;
}

struct DefaultCase
{
    const char* name;
    void (*load)(ParameterImage&);
    std::array<std::string, ParameterImage::kCellCount> (*expected)();
    CoinControl coin;
    OutputControl output;
};

class DefaultImage : public ::testing::TestWithParam<DefaultCase>
{
};

TEST_P(DefaultImage, WritesItsCellsAndLeavesTheRest)
{
    ParameterImage image = markedImage();
    GetParam().load(image);
    const auto expected = GetParam().expected();
    for (int cell = 0; cell < ParameterImage::kCellCount; ++cell)
        EXPECT_EQ(image.text(cell), expected[cell]) << "cell " << cell;
}

TEST_P(DefaultImage, DecodesToTheDocumentedSettings)
{
    ParameterImage image = markedImage();
    GetParam().load(image);
    for (int channel = 1; channel <= 12; ++channel) {
        EXPECT_EQ(decodeCoinControl(image.text(4 + 7 * (channel - 1))), GetParam().coin) << channel;
        EXPECT_EQ(decodeToleranceBC(image.text(128 + channel)), (ToleranceBC{5, 5})) << channel;
    }
    EXPECT_EQ(decodeOutputControl(image.text(84)), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Both, DefaultImage,
    ::testing::Values(DefaultCase{"Main", loadMainDefault, expectedMainDefault, {0, 0, 10}, {0, 1}},
                      DefaultCase{
                          "Settings", loadSettingsDefault, expectedSettingsDefault, {0, 0, 0}, {1, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quarvel
