#include "image/coin_data_file.h"
#include "image/field_reader.h"

#include "marked_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel {
namespace {

using test_support::kUntouched;
using test_support::markedImage;

using Values = std::vector<std::string>;

struct ParseCase
{
    const char* name;
    std::string text;
    Values expected;
};

const ParseCase kParseCases[] = {
    {"QuotedCrLf", "\"1\"\r\n\"2\"\r\n\"3\"\r\n", {"1", "2", "3"}},
    {"LfOnly", "1\n2\n3\n", {"1", "2", "3"}},
    {"CrOnly", "1\r2\r3", {"1", "2", "3"}},
    {"MixedLineEnds", "1\r\n2\n3\r4", {"1", "2", "3", "4"}},
    {"CommasOnOneLine", "1,2,3\r\n", {"1", "2", "3"}},
    {"BlanksBeforeValues", "  1,\t 2\r\n   \"3\"", {"1", "2", "3"}},
    {"CommaInsideQuotes", "\"1,5\",2", {"1,5", "2"}},
    {"TextAfterClosingQuoteIgnored", "\"7\"xyz,8", {"7", "8"}},
    {"EmptyValuesCount", "1,,3\r\n\r\n5", {"1", "", "3", "", "5"}},
    {"TrailingComma", "1,2,", {"1", "2", ""}},
    {"QuotedEmpty", "\"\"\r\n\"\"\r\n", {"", ""}},
    {"UnterminatedQuoteEndsAtLineEnd", "\"12\r\n13", {"12", "13"}},
    {"UnquotedKeepsTrailingBlanks", "12  ,3", {"12  ", "3"}},
    {"NothingAtAll", "", {}},
    {"OnlyALineEnd", "\r\n", {""}},
};

class CoinDataParse : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(CoinDataParse, SplitsValues)
{
    EXPECT_EQ(parseCoinData(GetParam().text), GetParam().expected);
}

TEST_P(CoinDataParse, GivesTheSameValuesWhenFedByteByByte)
{
    FieldReader reader(kCoinDataValues);
    for (char c : GetParam().text)
        EXPECT_EQ(reader.feed(std::string_view(&c, 1)), 1u);
    reader.finish();
    EXPECT_EQ(reader.fields(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Variants, CoinDataParse, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

std::string numberedLines(int count, const char* lineEnd = "\r\n")
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::to_string(i) + lineEnd;
    return text;
}

TEST(CoinDataLoad, StoresAsManyValuesAsTheFileHasUpTo256)
{
    struct Case
    {
        int valuesInFile;
        int taken;
    };
    for (const Case c : {Case{200, 200}, Case{256, 256}, Case{300, 256}, Case{0, 0}}) {
        ParameterImage image = markedImage();
        EXPECT_EQ(loadCoinData(numberedLines(c.valuesInFile), image), c.taken);
        for (int cell = 0; cell < ParameterImage::kCellCount; ++cell)
            EXPECT_EQ(image.text(cell), cell < c.taken ? std::to_string(cell) : kUntouched)
                << c.valuesInFile << " values, cell " << cell;
    }
}

TEST(CoinDataLoad, StopsReadingOnceTheImageIsFull)
{
    FieldReader reader(kCoinDataValues);
    const std::string text = numberedLines(300, ",");
    const std::size_t used = reader.feed(text);
    EXPECT_TRUE(reader.full());
    EXPECT_EQ(text.substr(used, 4), "256,");
}

TEST(CoinDataSave, WritesEveryFileCellQuotedWithCrLf)
{
    ParameterImage image;
    image.setText(0, "170");
    image.setText(2, "12ab");
    image.setText(255, "9");
    image.setText(256, "not stored");
    const std::string text = serializeCoinData(image);
    EXPECT_EQ(text.substr(0, 19), "\"170\"\r\n\"\"\r\n\"12ab\"\r\n");
    EXPECT_EQ(text.size(), 19 + 252 * 4 + 5u);
    EXPECT_EQ(text.substr(text.size() - 5), "\"9\"\r\n");
}

} // namespace
} // namespace quarvel
