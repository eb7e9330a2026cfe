#include "image/address_map.h"
#include "image/parameter_image.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quarvel::address {
namespace {

TEST(AddressMap, FieldsSitWhereTheMapSays)
{
    struct Case
    {
        int address;
        int expected;
    };
    // clang-format off
    const Case cases[] = {
        {refALow(1), 0},         {refAHigh(1), 1},        {sigmaA(1), 2},        {coinTLD(1), 3},
        {coinControl(1), 4},     {refX(1), 5},            {coinValue(1), 6},     {coinBlock(2), 7},
        {coinControl(3), 18},    {refALow(12), 77},       {coinValue(12), 83},   {refY(1), 96},
        {refDH(1), 97},          {refY(12), 118},         {refDH(12), 119},      {toleranceBC(1), 129},
        {toleranceBC(12), 140},  {mt2(1), 141},           {td(12), 164},         {tm(1), 165},
        {lastColumn(12), 188},   {coinControl(0), kInvalid}, {coinValue(13), kInvalid},
        {price(bankOf(6)), 86},  {multiplyFactor(bankOf(6)), 87}, {divideFactor(bankOf(1)), 88},
        {price(bankOf(7)), 89},  {multiplyFactor(bankOf(12)), 90}, {divideFactor(bankOf(7)), 91},
    };
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].address, cases[i].expected) << "case " << i;
}

TEST(FieldName, LabelsAddresses)
{
    struct Case
    {
        int address;
        const char* name;
    };
    // clang-format off
    const Case cases[] = {
        {0, "coin 1 RefALow"},     {18, "coin 3 CoinControl"},  {83, "coin 12 CoinValue"},
        {84, "OutputControl"},     {85, "SerialNo"},            {86, "PriceA"},
        {91, "DivideFactorB"},     {95, "HoldTime"},            {97, "coin 1 RefDH"},
        {118, "coin 12 RefY"},     {120, "Std1 low"},           {123, "This1 high"},
        {124, "Std2 low"},         {127, "This2 high"},         {128, "CoinSeparator"},
        {131, "coin 3 ToleranceBC"}, {145, "MT2 coin 5"},       {164, "TD coin 12"},
        {165, "TM coin 1"},        {188, "last column coin 12"}, {189, "cell 189"},
        {270, "cell 270"},         {271, "address 271"},        {-1, "address -1"},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(fieldName(c.address), c.name) << c.address;
}

TEST(FieldName, EveryCellHasItsOwnName)
{
    std::set<std::string> names;
    for (int address = 0; address < ParameterImage::kCellCount; ++address)
        EXPECT_TRUE(names.insert(fieldName(address)).second) << address << ": " << fieldName(address);
}

} // namespace
} // namespace quarvel::address
