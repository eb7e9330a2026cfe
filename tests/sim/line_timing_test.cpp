#include "sim/delivery_queue.h"
#include "sim/line_schedule.h"

#include <gtest/gtest.h>

using namespace quarvel::sim;

namespace {

TEST(LineScheduleTest, WireTimeOfBytesAt19200Baud)
{
    // 10 bits a byte: 520.83 us each, rounded up.
    EXPECT_EQ(LineSchedule::wireTimeUs(0), 0);
    EXPECT_EQ(LineSchedule::wireTimeUs(1), 521);
    EXPECT_EQ(LineSchedule::wireTimeUs(5), 2605);
    EXPECT_EQ(LineSchedule::wireTimeUs(10), 5209);
    EXPECT_EQ(LineSchedule::wireTimeUs(1920), 1000000);
}

TEST(LineScheduleTest, WithoutWireTimeNothingWaits)
{
    LineSchedule s;
    EXPECT_EQ(s.requestArrivalUs(100, 5), 100);
    const auto slot = s.placeReply(100, 3000, 5);
    EXPECT_EQ(slot.startUs, 3100);
    EXPECT_EQ(slot.endUs, 3100);
}

TEST(LineScheduleTest, WireTimeQueuesBytesOnEachLine)
{
    LineSchedule s;
    s.setWireTime(true);
    s.setTurnaroundUs(1000);
    // Two requests written at once: the second follows the first on the line.
    EXPECT_EQ(s.requestArrivalUs(0, 5), 2605);
    EXPECT_EQ(s.requestArrivalUs(0, 5), 5210);
    // The reply to the first starts after the turnaround; the second waits for the line.
    const auto first = s.placeReply(2605, 0, 5);
    EXPECT_EQ(first.startUs, 3605);
    EXPECT_EQ(first.endUs, 6210);
    const auto second = s.placeReply(2605, 0, 5);
    EXPECT_EQ(second.startUs, 6210);
    EXPECT_EQ(second.endUs, 8815);
    // A late reply starts when the device means it to.
    EXPECT_EQ(s.placeReply(10000, 250000, 5).startUs, 261000);
    s.reset();
    EXPECT_EQ(s.requestArrivalUs(0, 1), 521);
}

TEST(DeliveryQueueTest, DeliversByDueTimeThenByPushOrder)
{
    DeliveryQueue q;
    q.push(30, {3});
    q.push(10, {1});
    q.push(30, {4, 5});
    q.push(20, {2});
    EXPECT_EQ(q.nextDueUs(), 10);
    EXPECT_EQ(q.lastDueUs(), 30);
    EXPECT_TRUE(q.takeDue(9).empty());
    EXPECT_EQ(q.takeDue(20), (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(q.takeDue(100), (std::vector<std::uint8_t>{3, 4, 5}));
    EXPECT_TRUE(q.empty());
    EXPECT_FALSE(q.nextDueUs().has_value());
}

} // namespace
