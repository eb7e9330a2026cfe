#include "link/check_transfer.h"

#include <gtest/gtest.h>

using namespace quarvel::link;

namespace {

CheckFigures figures(int asked, std::vector<std::int64_t> roundTripsUs, std::array<int, 4> faults = {},
                     int late = 0)
{
    CheckFigures f;
    f.asked = asked;
    f.roundTripsUs = std::move(roundTripsUs);
    f.faults = faults;
    f.lateUs.assign(static_cast<std::size_t>(late), 250000);
    return f;
}

TEST(LinkCheck, DiagnosisRules)
{
    const std::vector<std::int64_t> wire(50, 6400), burst(50, 16100);
    const struct
    {
        const char* name;
        CheckFigures figures;
        LineDiagnosis expected;
    } cases[] = {
        {"wire-time answers", figures(50, wire), LineDiagnosis::Healthy},
        {"answers well under the line time (a pty)", figures(50, std::vector<std::int64_t>(50, 90)),
         LineDiagnosis::Healthy},
        {"16 ms bursts", figures(50, burst), LineDiagnosis::LatencyTimer},
        {"bursts win over a lost exchange", figures(50, std::vector<std::int64_t>(49, 16100), {1, 0, 0, 0}),
         LineDiagnosis::LatencyTimer},
        {"just under the margin", figures(50, std::vector<std::int64_t>(50, 11100)), LineDiagnosis::Healthy},
        {"every exchange timed out", figures(50, {}, {50, 0, 0, 0}), LineDiagnosis::NoAnswer},
        {"only garbage", figures(50, {}, {0, 50, 0, 0}), LineDiagnosis::Unreliable},
        {"one bad checksum", figures(50, std::vector<std::int64_t>(49, 6400), {0, 1, 0, 0}),
         LineDiagnosis::Unreliable},
        {"a loopback", figures(50, {}, {0, 0, 0, 50}), LineDiagnosis::Echoes},
        {"exactly half echoed", figures(50, std::vector<std::int64_t>(25, 6400), {0, 0, 0, 25}),
         LineDiagnosis::Echoes},
        {"a few echoes", figures(50, std::vector<std::int64_t>(48, 6400), {0, 0, 0, 2}),
         LineDiagnosis::Unreliable},
        {"bursts of two ticks", figures(50, std::vector<std::int64_t>(50, 32900)),
         LineDiagnosis::LatencyTimer},
        {"as many late as on time", figures(50, std::vector<std::int64_t>(25, 6400), {}, 25),
         LineDiagnosis::SlowLine},
        {"one late fewer than on time", figures(49, std::vector<std::int64_t>(25, 6400), {}, 24),
         LineDiagnosis::Healthy},
        {"just before a tick", figures(50, std::vector<std::int64_t>(50, 13500)),
         LineDiagnosis::LatencyTimer},
        {"a steady 20 ms", figures(50, std::vector<std::int64_t>(50, 20000)), LineDiagnosis::SlowLine},
        {"a steady 150 ms", figures(50, std::vector<std::int64_t>(50, 150000)), LineDiagnosis::SlowLine},
    };
    for (const auto& c : cases)
        EXPECT_EQ(diagnoseLink(c.figures, "/dev/ttyUSB2").diagnosis, c.expected) << c.name;
}

TEST(LinkCheck, LatencyAdviceNamesTheAdapterAndFiguresAreInMilliseconds)
{
    const CheckReport report = diagnoseLink(figures(3, {16000, 17000, 30000}), "/dev/ttyUSB2");
    EXPECT_NE(report.text.find("/sys/bus/usb-serial/devices/ttyUSB2/latency_timer"), std::string::npos);
    EXPECT_DOUBLE_EQ(report.minMs, 16.0);
    EXPECT_DOUBLE_EQ(report.medianMs, 17.0);
    EXPECT_DOUBLE_EQ(report.maxMs, 30.0);
    EXPECT_NEAR(report.lineMs, 6.208, 1e-9);
}

CheckFigures figuresOf(const CheckTransfer& check)
{
    return std::get<CheckFigures>(check.summary().output);
}

// Every exchange counts once, whatever it brings; round trips come from the driver's clock.
TEST(LinkCheck, TransferCountsEachExchangeOnTheFakeClock)
{
    std::int64_t nowUs = 0;
    CheckTransfer check(4, [&] { return nowUs; });
    Step step = check.start();
    ASSERT_TRUE(step.send);
    EXPECT_EQ(*step.send, readRequest(0));
    const Frame good = makeFrame(command::kRead, 0, 0, 42);
    nowUs += 6300;
    step = check.reply(good);
    step = check.timeout(0);
    step = check.timeout(0); // nothing late either: the next request goes out
    const Frame echo = readRequest(0);
    step = check.reply(echo);
    nowUs += 100;
    const Frame corrupt{command::kRead, 0, 0, 42, 0};
    step = check.reply(corrupt);
    EXPECT_EQ(step.outcome, Outcome::Succeeded);
    EXPECT_FALSE(step.send);
    EXPECT_EQ(figuresOf(check).asked, 4);
    EXPECT_EQ(figuresOf(check).roundTripsUs, std::vector<std::int64_t>{6300});
    EXPECT_EQ(figuresOf(check).faults, (std::array<int, 4>{1, 1, 0, 1}));
}

// A reply later than the time-out belongs to its own request: it is waited out and counted as
// late, never taken as the quick answer to the next one.
TEST(LinkCheck, LateRepliesAreNeverPairedWithTheNextRequest)
{
    std::int64_t nowUs = 0;
    CheckTransfer check(2, [&] { return nowUs; });
    check.start();
    const Frame good = makeFrame(command::kRead, 0, 0, 42);
    for (int i = 0; i < 2; ++i) {
        nowUs += 200000;
        Step step = check.timeout(0);
        EXPECT_FALSE(step.send);
        EXPECT_EQ(step.replyBytes, kFrameSize);
        nowUs += 50000;
        step = check.reply(good);
        EXPECT_EQ(step.taken.at(0).meaning, "late answer, not counted");
    }
    EXPECT_TRUE(figuresOf(check).roundTripsUs.empty());
    EXPECT_EQ(figuresOf(check).lateUs, (std::vector<std::int64_t>{250000, 250000}));
    const CheckReport report = diagnoseLink(figuresOf(check), "/dev/ttyUSB0");
    EXPECT_EQ(report.diagnosis, LineDiagnosis::SlowLine);
    EXPECT_NE(report.text.find("250 ms"), std::string::npos);
}

TEST(LinkCheck, AnAnswerForAnotherCellIsAWrongEchoAndAPulledPortSaysSo)
{
    std::int64_t nowUs = 0;
    CheckTransfer check(3, [&] { return nowUs; });
    check.start();
    check.reply(makeFrame(command::kRead, 1, 0, 42));
    EXPECT_TRUE(figuresOf(check).roundTripsUs.empty());
    EXPECT_EQ(figuresOf(check).count(ExchangeFault::WrongEcho), 1);
    const Step step = check.abort(Transfer::AbortReason::PortLost);
    EXPECT_EQ(step.outcome, Outcome::Failed);
    EXPECT_EQ(check.summary().text, "port lost");
    EXPECT_EQ(check.summary().reason, EndReason::PortLost);
}

} // namespace
