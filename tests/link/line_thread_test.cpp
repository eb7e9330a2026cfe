// The line thread on a socket pair standing in for a port: its deadline fires once and leaves
// it asleep, one set from another thread wakes it, and a write the port cannot take at once
// neither holds the guard nor is lost.
#include "link/qt/line_thread.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <vector>

namespace quarvel::link {
namespace {

using namespace std::chrono_literals;

struct Line
{
    int ends[2] = {-1, -1}; // ends[0] is the thread's, ends[1] the selector's
    std::mutex guard;
    std::condition_variable changed;
    int due = 0;   // guarded
    int bytes = 0; // guarded
    std::function<void()> onBytes = [] {};
    std::unique_ptr<LineThread> thread;

    Line()
    {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
        LineDriver::Events events;
        events.bytes = [this](LineDriver::Bytes b) {
            bytes += static_cast<int>(b.size());
            onBytes();
            changed.notify_all();
        };
        events.dropped = [](LineDriver::Bytes) {};
        events.due = [this] {
            ++due;
            changed.notify_all();
        };
        events.lost = [] {};
        events.settled = [] {};
        thread = std::make_unique<LineThread>(ends[0], guard, std::move(events));
        EXPECT_TRUE(thread->start());
    }
    ~Line()
    {
        thread.reset();
        ::close(ends[1]);
    }
    // With the guard held by lock.
    bool waitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done)
    {
        return changed.wait_for(lock, 10s, done);
    }
};

// The thread takes the guard for a moment on each pass; only one held across a wait is wrong.
bool guardFreeWithin(std::mutex& guard, std::chrono::milliseconds bound)
{
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!guard.try_lock())
        if (std::chrono::steady_clock::now() > until) return false;
    guard.unlock();
    return true;
}

TEST(LineThread, TheDeadlineFiresOnceAndLeavesTheThreadAsleep)
{
    Line line;
    std::unique_lock lock(line.guard);
    line.thread->setDeadline(0);
    ASSERT_TRUE(line.waitFor(lock, [&] { return line.due == 1; }));
    // One byte after it: the pass that reads it must not find the deadline due again.
    lock.unlock();
    ASSERT_EQ(::write(line.ends[1], "x", 1), 1);
    lock.lock();
    ASSERT_TRUE(line.waitFor(lock, [&] { return line.bytes == 1; }));
    lock.unlock();
    line.thread->stop();
    EXPECT_EQ(line.due, 1);
    // The deadline, the byte, the stop; a wake-up from setting the deadline at most besides.
    EXPECT_LE(line.thread->wakeUps(), 4u);
}

TEST(LineThread, ADeadlineSetFromAnotherThreadWakesAQuietLine)
{
    Line line;
    std::unique_lock lock(line.guard);
    lock.unlock();
    ASSERT_EQ(::write(line.ends[1], "x", 1), 1);
    lock.lock();
    // The thread has gone back to sleep with nothing to wait for.
    ASSERT_TRUE(line.waitFor(lock, [&] { return line.bytes == 1; }));
    line.thread->setDeadline(1);
    ASSERT_TRUE(line.waitFor(lock, [&] { return line.due == 1; }));
}

// A port whose buffer is full: the request written in answer to a reply waits in the driver,
// the guard stays free meanwhile, and the frame goes out whole once the port drains.
TEST(LineThread, AWriteThePortCannotTakeWaitsWithoutHoldingTheGuard)
{
    Line line;
    const Frame request{0x11, 0x22, 0x33, 0x44, 0x55};
    std::size_t filled = 0;
    for (const std::vector<std::uint8_t> junk(4096, 0xEE);
         ::write(line.ends[0], junk.data(), junk.size()) > 0;)
        filled += junk.size();
    line.onBytes = [&] { line.thread->write(request); };
    ASSERT_EQ(::write(line.ends[1], "r", 1), 1);
    std::unique_lock lock(line.guard);
    ASSERT_TRUE(line.waitFor(lock, [&] { return line.bytes == 1; }));
    lock.unlock();

    std::vector<std::uint8_t> received;
    std::uint8_t buffer[4096];
    while (received.size() < filled + kFrameSize) {
        // Free between reads: a write blocked under it would keep it until the port drains.
        ASSERT_TRUE(guardFreeWithin(line.guard, 2s));
        pollfd readable{line.ends[1], POLLIN, 0};
        ASSERT_EQ(::poll(&readable, 1, 2000), 1) << "the request was lost";
        const ssize_t n = ::read(line.ends[1], buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        received.insert(received.end(), buffer, buffer + n);
    }
    EXPECT_TRUE(std::equal(request.begin(), request.end(), received.end() - kFrameSize));
}

} // namespace
} // namespace quarvel::link
