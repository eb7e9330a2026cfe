#include "json_text.h"

#include <gtest/gtest.h>

namespace quarvel::cli {
namespace {

TEST(JsonQuote, EscapesWhatJsonForbidsAndReplacesBrokenUtf8)
{
    const struct
    {
        std::string in;
        std::string out;
    } cases[] = {
        {"", "\"\""},
        {"170", "\"170\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\r\n\t", "\"\\r\\n\\t\""},
        {std::string("\x00\x1f\x7f", 3), "\"\\u0000\\u001f\\u007f\""},
        {"caf\xC3\xA9 \xE2\x82\xAC", "\"caf\xC3\xA9 \xE2\x82\xAC\""}, // valid UTF-8 stays
        {"\xFF", "\"\xEF\xBF\xBD\""},                                 // not a lead byte
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                 // overlong '/'
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}, // surrogate
        {"\xE2\x82", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                 // cut short at the end
    };
    for (const auto& c : cases)
        EXPECT_EQ(jsonQuote(c.in), c.out) << c.in;
}

} // namespace
} // namespace quarvel::cli
