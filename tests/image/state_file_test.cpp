#include "image/state_file.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace quarvel {
namespace {

using Marks = std::array<bool, 4>;

struct ParseCase
{
    const char* name;
    std::string text;
    const char* recent1;
    const char* recent2;
    Marks marks;
    int startupPort;
};

const ParseCase kParseCases[] = {
    {"Missing", "", "c:\\coin.syn", "c:\\aaa.syn", {true, false, false, false}, 1},
    {"Full",
     "\"/home/t/a.cdt\"\r\n\"/home/t/b.cdt\"\r\n#FALSE#\r\n#TRUE#\r\n#FALSE#\r\n#TRUE#\r\n",
     "/home/t/a.cdt",
     "/home/t/b.cdt",
     {false, true, false, true},
     4},
    {"OneName", "\"a.cdt\"\r\n", "a.cdt", "c:\\aaa.syn", {true, false, false, false}, 1},
    {"CutInsidePortLines", "\"a\"\r\n\"b\"\r\n#FALSE#\r\n#TRUE#", "a", "b", {false, true, false, false}, 2},
    {"AllFalseIsPort9", "\"a\"\r\n\"b\"\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n", "a", "b", {}, 1},
    {"UnknownMarkStopsReading",
     "\"a\"\r\n\"b\"\r\n#FALSE#\r\nyes\r\n#TRUE#\r\n",
     "a",
     "b",
     {false, false, false, false},
     1},
    {"LfLineEnds",
     "\"a\"\n\"b\"\n#FALSE#\n#FALSE#\n#TRUE#\n#FALSE#\n",
     "a",
     "b",
     {false, false, true, false},
     3},
    {"NameWithComma", "\"c:\\x,y.cdt\"\r\n", "c:\\x,y.cdt", "c:\\aaa.syn", {true, false, false, false}, 1},
};

class StateFileParse : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(StateFileParse, ReadsWhatIsThereAndKeepsDefaultsForTheRest)
{
    const ParseCase& c = GetParam();
    const StateFile state = parseStateFile(c.text);
    EXPECT_EQ(state.recentName1, c.recent1);
    EXPECT_EQ(state.recentName2, c.recent2);
    EXPECT_EQ(state.portMarked, c.marks);
    EXPECT_EQ(state.startupPort(), c.startupPort);
}

INSTANTIATE_TEST_SUITE_P(Variants, StateFileParse, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StateFile, WritesSixCrLfLines)
{
    EXPECT_EQ(serializeStateFile(StateFile{}),
              "\"c:\\coin.syn\"\r\n\"c:\\aaa.syn\"\r\n#TRUE#\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n");
}

TEST(StateFile, ChoosingAPortMarksItAlone)
{
    struct Case
    {
        int port;
        Marks marks;
        int startupPort;
    };
    const Case cases[] = {
        {1, {true, false, false, false}, 1},
        {2, {false, true, false, false}, 2},
        {4, {false, false, false, true}, 4},
        {9, {false, false, false, false}, 1},
    };
    for (const Case& c : cases) {
        StateFile state;
        state.choosePort(c.port);
        EXPECT_EQ(state.portMarked, c.marks) << c.port;
        // What the next start opens, through the file.
        EXPECT_EQ(parseStateFile(serializeStateFile(state)).startupPort(), c.startupPort) << c.port;
    }
}

TEST(StateFile, RoundTripsAndShiftsRecentNames)
{
    StateFile state;
    state.setMostRecent("/data/new.cdt");
    EXPECT_EQ(state.recentName1, "/data/new.cdt");
    EXPECT_EQ(state.recentName2, "c:\\coin.syn");
    state.choosePort(3);
    EXPECT_EQ(parseStateFile(serializeStateFile(state)), state);
}

} // namespace
} // namespace quarvel
