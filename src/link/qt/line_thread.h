#pragma once

#include "link/qt/line_driver.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quarvel::link {

// Waits for an open serial port on a thread of its own (epoll on Linux, else poll()), so that the code
// answering a reply runs in the call that read it: no trip through the event loop lies between the reply's
// last byte and the next request. POSIX only.
//
// Only this thread touches the port. What the owner's thread asks of it (a write, a flush) is
// queued under the guard and done in order before the thread reads again.
class LineThread final : public LineDriver
{
public:
    using Clock = std::chrono::steady_clock;
    // How long traffic and progress noted beside a request may wait to be heard of, when no
    // pass without a write comes first: a frame of the screen. The owner's thread never wakes
    // beside a request on its way, and this thread never wakes just for it.
    static constexpr std::chrono::milliseconds kSettleDelay{16};

    // Takes fd (non-blocking) and closes it when destroyed.
    LineThread(int fd, std::mutex& guard, Events events);
    ~LineThread() override;

    bool start() override;
    void stop() override;
    void write(const Frame& frame) override;
    void flushInput() override;
    void setDeadline(std::optional<int> ms) override;

    // How often the thread has come out of its wait: a quiet line must not keep it busy.
    std::uint64_t wakeUps() const { return m_wakeUps.load(std::memory_order_relaxed); }

private:
    struct Ready
    {
        bool woken = false; // the wake-up pipe
        short line = 0;     // the port, as poll() flags
    };
    bool onThread() const { return std::this_thread::get_id() == m_thread.get_id(); }
    Ready waitFor(std::optional<Clock::duration> left, bool sending);
    void watch(bool sending);
    void unwatch();
    void loop();
    void wake();
    // On this thread, with the guard held.
    void runQueued();
    void send();
    void readLine(short flags);
    void drop();
    void hangUp();

    const int m_fd;
    std::mutex& m_guard;
    const Events m_events;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    int m_epoll = -1;              // Linux
    bool m_nanosecondWaits = true; // Linux: the kernel has epoll_pwait2
    bool m_watchingOut = false;    // Linux: the port is registered for POLLOUT too
    bool m_watching = true;        // until the port hangs up

    // Guarded by m_guard.
    struct Queued
    {
        std::optional<Frame> frame; // none: a flush
    };
    std::vector<Queued> m_queue;     // the owner's requests, in order
    std::vector<std::uint8_t> m_out; // written but not yet taken by the port
    std::optional<Clock::time_point> m_deadline;
    std::optional<Clock::time_point> m_settleAt; // a batch that wrote is told of by then
    bool m_wrote = false;                        // in this pass, from a callback
    bool m_told = false;                         // this pass called back
    bool m_stopping = false;

    std::atomic<std::uint64_t> m_wakeUps{0};
    std::thread m_thread;
};

} // namespace quarvel::link
