#include "sim/fault_plan.h"

#include <gtest/gtest.h>

#include <string>

using namespace quarvel::sim;

namespace {

TEST(FaultPlanTest, ParsesTheFullExample)
{
    const auto parsed = FaultPlan::parse("drop:3,late:10:250ms,badsum:42,badcmd:5,badaddr:6,split:7:3,"
                                         "merge:8,garbage:9:4,extra:10:3,gone:120,seed:7");
    ASSERT_TRUE(parsed.plan) << parsed.error;
    const std::vector<Fault> expected{
        {FaultKind::Drop, 3, 0},       {FaultKind::Late, 10, 250},    {FaultKind::BadChecksum, 42, 0},
        {FaultKind::BadCommand, 5, 0}, {FaultKind::BadAddress, 6, 0}, {FaultKind::Split, 7, 3},
        {FaultKind::Merge, 8, 0},      {FaultKind::Garbage, 9, 4},    {FaultKind::Extra, 10, 3},
        {FaultKind::Gone, 120, 0},
    };
    EXPECT_EQ(parsed.plan->faults(), expected);
    EXPECT_EQ(parsed.plan->seed(), 7u);
    EXPECT_EQ(parsed.plan->randomRate(), 0.0);
}

struct AcceptCase
{
    const char* text;
    const char* canonical;
};

const AcceptCase kAccepted[] = {
    {"", ""},
    {"   ", ""},
    {"drop:3", "drop:3"},
    {"late:10:250", "late:10:250ms"},
    {"late:1:0ms", "late:1:0ms"},
    {" drop:3 , badsum:42 ", "drop:3,badsum:42"},
    {"split:7", "split:7:2"},
    {"split:7:16", "split:7:16"},
    {"garbage:9", "garbage:9:3"},
    {"extra:1:255", "extra:1:255"},
    {"drop:3,drop:3", "drop:3,drop:3"},
    {"random:0.05,seed:7", "random:0.05,seed:7"},
    {"seed:7,random:1", "random:1,seed:7"},
    {"random:0", ""},
    {"seed:4294967295", "seed:4294967295"},
    {"gone:1", "gone:1"},
    {"lost:2", "lost:2"},
};

class FaultPlanAcceptTest : public ::testing::TestWithParam<AcceptCase>
{
};

TEST_P(FaultPlanAcceptTest, AcceptsAndPrintsCanonically)
{
    const auto& c = GetParam();
    const auto parsed = FaultPlan::parse(c.text);
    ASSERT_TRUE(parsed.plan) << parsed.error;
    EXPECT_TRUE(parsed.error.empty());
    EXPECT_EQ(parsed.plan->toText(), c.canonical);
    const auto again = FaultPlan::parse(parsed.plan->toText());
    ASSERT_TRUE(again.plan);
    EXPECT_EQ(*again.plan, *parsed.plan);
}

INSTANTIATE_TEST_SUITE_P(Forms, FaultPlanAcceptTest, ::testing::ValuesIn(kAccepted));

struct RejectCase
{
    const char* text;
    const char* item;   // the error names it
    const char* reason; // and says what is wrong
};

const RejectCase kRejected[] = {
    {"foo:3", "\"foo:3\"", "unknown fault"},
    {"drop:3,foo", "\"foo\"", "unknown fault"},
    {"drop", "\"drop\"", "missing reply number"},
    {"drop:0", "\"drop:0\"", "reply number"},
    {"drop:x", "\"drop:x\"", "reply number"},
    {"drop:-2", "\"drop:-2\"", "reply number"},
    {"drop:99999999999999999999", "\"drop:99999999999999999999\"", "reply number"},
    {"drop:3:4", "\"drop:3:4\"", "too many fields"},
    {"late:10", "\"late:10\"", "missing delay in ms"},
    {"late:10:abc", "\"late:10:abc\"", "delay in ms must be"},
    {"late:10:-5ms", "\"late:10:-5ms\"", "delay in ms must be"},
    {"late:10:250s", "\"late:10:250s\"", "delay in ms must be"},
    {"late:10:600001", "\"late:10:600001\"", "delay in ms must be"},
    {"split:7:1", "\"split:7:1\"", "number of parts must be a whole number from 2 to 16"},
    {"split:7:17", "\"split:7:17\"", "from 2 to 16"},
    {"garbage:9:0", "\"garbage:9:0\"", "number of bytes must be a whole number from 1 to 255"},
    {"extra:9:256", "\"extra:9:256\"", "from 1 to 255"},
    {"split:7:3:1", "\"split:7:3:1\"", "too many fields"},
    {"random:1.5", "\"random:1.5\"", "rate must be"},
    {"random:abc", "\"random:abc\"", "rate must be"},
    {"random:nan", "\"random:nan\"", "rate must be"},
    {"random", "\"random\"", "rate must be"},
    {"seed:-1", "\"seed:-1\"", "seed must be"},
    {"seed:4294967296", "\"seed:4294967296\"", "seed must be"},
    {"drop:3,,drop:4", "empty fault item", ""},
    {"drop:3,", "empty fault item", ""},
};

class FaultPlanRejectTest : public ::testing::TestWithParam<RejectCase>
{
};

TEST_P(FaultPlanRejectTest, RejectsNamingTheItem)
{
    const auto& c = GetParam();
    const auto parsed = FaultPlan::parse(c.text);
    EXPECT_FALSE(parsed.plan.has_value());
    EXPECT_NE(parsed.error.find(c.item), std::string::npos) << parsed.error;
    EXPECT_NE(parsed.error.find(c.reason), std::string::npos) << parsed.error;
}

INSTANTIATE_TEST_SUITE_P(Forms, FaultPlanRejectTest, ::testing::ValuesIn(kRejected));

TEST(FaultPlanTest, ListedFaultsWinOverRandomOnesWithoutShiftingThem)
{
    auto plan = *FaultPlan::parse("random:1,seed:3").plan;
    auto listed = plan;
    listed.add({FaultKind::Drop, 2, 0});

    std::mt19937 a(plan.seed());
    std::mt19937 b(plan.seed());
    for (std::int64_t reply = 1; reply <= 50; ++reply) {
        const auto drawn = plan.faultsFor(reply, a);
        const auto mixed = listed.faultsFor(reply, b);
        ASSERT_EQ(drawn.size(), 1u); // rate 1: every reply gets one
        EXPECT_NE(drawn[0].kind, FaultKind::Gone);
        if (reply == 2)
            EXPECT_EQ(mixed, (std::vector<Fault>{{FaultKind::Drop, 2, 0}}));
        else
            EXPECT_EQ(mixed, drawn) << "reply " << reply;
    }
}

} // namespace
