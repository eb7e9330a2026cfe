// When a station takes its selector for gone, and how it knows the selector just done.
#include "session/station_presence.h"

#include <gtest/gtest.h>

#include <set>

namespace quarvel::session {
namespace {

TEST(StationPresence, GoneOnlyAfterEnoughMissedPollsAndASecondUnheard)
{
    constexpr bool kHeard = true; // answered (or a unit just ended) at that time
    constexpr bool kMissed = false;
    using Poll = std::pair<std::int64_t, bool>;
    const struct
    {
        const char* name;
        std::vector<Poll> polls;
        bool gone;
    } cases[] = {
        {"one lost answer", {{0, kMissed}}, false},
        {"three quick misses", {{0, kMissed}, {100, kMissed}, {200, kMissed}}, false},
        {"three quick misses late in a run", {{60000, kMissed}, {60100, kMissed}, {60200, kMissed}}, false},
        {"three misses over a second", {{0, kMissed}, {500, kMissed}, {1000, kMissed}}, true},
        {"a long gap but two misses", {{0, kMissed}, {5000, kMissed}}, false},
        {"an answer in between starts again",
         {{0, kMissed}, {500, kMissed}, {700, kHeard}, {1000, kMissed}, {1500, kMissed}},
         false},
        {"three quick misses long after the last answer",
         {{100, kHeard}, {5000, kMissed}, {5100, kMissed}, {5200, kMissed}},
         true},
        // Polls a few ms quicker than 500 after a unit ended: it has been away 1.3 s.
        {"after a unit, three misses under a second apart",
         {{0, kHeard}, {300, kMissed}, {796, kMissed}, {1292, kMissed}},
         true},
    };
    for (const auto& c : cases) {
        SelectorPresence presence({3, 1000});
        for (const auto& [at, heard] : c.polls)
            heard ? presence.answered(at) : void(presence.unanswered(at));
        EXPECT_EQ(presence.gone(), c.gone) << c.name;
    }
}

TEST(StationPresence, TheFingerprintNeedsTheIdentityCellsAndEveryKnownCell)
{
    ParameterImage selector;
    for (int cell = 0; cell < ParameterImage::kSelectorCells; ++cell)
        selector.setNumber(cell, cell % 200);
    SelectorFingerprint print;
    EXPECT_FALSE(print.matches(selector)) << "nothing known";
    print.learn(selector);
    EXPECT_TRUE(print.matches(selector));
    ParameterImage other = selector;
    other.setNumber(125, 7); // another selector's calibration set
    EXPECT_FALSE(print.matches(other));

    // A range written in part holds something unknown; a whole one holds what was sent.
    ParameterImage sent = selector;
    sent.setNumber(10, 99);
    sent.setNumber(100, 99);
    ProgramResult result;
    result.ranges = {{0, 84, link::EndReason::Succeeded, 85, {}, {}},
                     {86, 123, link::EndReason::RetriesUsedUp, 3, {}, {}}};
    print.learnProgrammed(sent, result);
    ParameterImage after = sent;
    after.setNumber(100, 55);
    EXPECT_TRUE(print.matches(after));
    EXPECT_FALSE(print.matches(selector)) << "cell 10 was programmed";
}

// A selector swapped too fast for an absence: the polls must come to a cell it holds otherwise.
TEST(StationPresence, PollsReachTheIdentityAndTheProgrammedCells)
{
    ParameterImage done;
    for (int cell = 0; cell < ParameterImage::kSelectorCells; ++cell)
        done.setNumber(cell, 7);
    SelectorFingerprint print;
    EXPECT_EQ(print.pollCell(1), 85) << "nothing known: the serial number first";
    print.learn(done);
    std::set<int> polled;
    for (std::uint64_t n = 0; n < 2 * 189; ++n)
        polled.insert(print.pollCell(n));
    EXPECT_EQ(polled.size(), std::size_t(189));
    EXPECT_TRUE(print.differs(85, 8));
    EXPECT_FALSE(print.differs(85, 7));
    print.clear();
    EXPECT_FALSE(print.differs(85, 8)) << "an unknown cell tells nothing";
}

} // namespace
} // namespace quarvel::session
