// The line thread on a pipe standing in for a port: alarms fire once each, the earlier first,
// and one set from another thread wakes a thread already waiting on a quiet line.
#include "link/qt/line_thread.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <vector>

namespace quarvel::link {
namespace {

using Alarm = LineThread::Alarm;
using namespace std::chrono_literals;

struct Line
{
    int ends[2] = {-1, -1};
    std::mutex guard;
    std::condition_variable changed;
    std::vector<Alarm> due; // guarded
    int bytes = 0;          // guarded
    std::unique_ptr<LineThread> thread;

    Line()
    {
        EXPECT_EQ(::pipe(ends), 0);
        LineThread::Events events;
        events.bytes = [this](std::span<const std::uint8_t> b) {
            bytes += static_cast<int>(b.size());
            changed.notify_all();
        };
        events.due = [this](Alarm alarm) {
            due.push_back(alarm);
            changed.notify_all();
        };
        events.lost = [] {};
        thread = std::make_unique<LineThread>(ends[0], guard, std::move(events));
    }
    ~Line()
    {
        thread.reset();
        ::close(ends[0]);
        ::close(ends[1]);
    }
    // With the guard held by lock.
    bool waitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done)
    {
        return changed.wait_for(lock, 10s, done);
    }
};

TEST(LineThread, EachAlarmFiresOnceAndLeavesTheThreadAsleep)
{
    for (const Alarm alarm : {Alarm::Engine, Alarm::Notes}) {
        Line line;
        std::unique_lock lock(line.guard);
        line.thread->setDeadline(alarm, LineThread::Clock::now());
        ASSERT_TRUE(line.waitFor(lock, [&] { return !line.due.empty(); }));
        // One byte after it: the pass that reads it must not find the alarm due again.
        lock.unlock();
        ASSERT_EQ(::write(line.ends[1], "x", 1), 1);
        lock.lock();
        ASSERT_TRUE(line.waitFor(lock, [&] { return line.bytes == 1; }));
        lock.unlock();
        line.thread->stop();
        EXPECT_EQ(line.due, std::vector<Alarm>{alarm});
        // The alarm, the byte, the stop; a wake-up from setting the alarm at most besides.
        EXPECT_LE(line.thread->wakeUps(), 4u);
    }
}

TEST(LineThread, TheEarlierOfTwoAlarmsFiresFirst)
{
    Line line;
    std::unique_lock lock(line.guard);
    line.thread->setDeadline(Alarm::Engine, LineThread::Clock::now() + 1h);
    line.thread->setDeadline(Alarm::Notes, LineThread::Clock::now() + 50ms); // waited for, not woken to
    ASSERT_TRUE(line.waitFor(lock, [&] { return !line.due.empty(); }));
    EXPECT_EQ(line.due, std::vector<Alarm>{Alarm::Notes});
}

// The thread waits with no deadline when the alarm is set from the owner's thread.
TEST(LineThread, AnAlarmSetFromAnotherThreadWakesAQuietLine)
{
    Line line;
    std::unique_lock lock(line.guard);
    // Let the thread go to sleep with nothing to wait for.
    lock.unlock();
    ASSERT_EQ(::write(line.ends[1], "x", 1), 1);
    lock.lock();
    ASSERT_TRUE(line.waitFor(lock, [&] { return line.bytes == 1; }));
    line.thread->setDeadline(Alarm::Engine, LineThread::Clock::now() + 1ms);
    ASSERT_TRUE(line.waitFor(lock, [&] { return !line.due.empty(); }));
}

} // namespace
} // namespace quarvel::link
