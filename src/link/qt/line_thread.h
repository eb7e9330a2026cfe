#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

namespace quarvel::link {

// Waits for an open serial port on a thread of its own (epoll on Linux, else poll()), so that the code
// answering a reply runs in the call that read it: no trip through the event loop lies between the reply's
// last byte and the next request. POSIX only.
//
// The thread reads and calls back with the owner's mutex held, so a read and whatever the
// owner does under that mutex (a flush of stale input, a write) never overlap: bytes read
// after a flush really came after it.
class LineThread
{
public:
    using Clock = std::chrono::steady_clock;
    // Two alarms: the engine's time-outs and pauses, and when the owner hears of what happened.
    enum class Alarm
    {
        Engine,
        Notes
    };

    struct Events
    {
        std::function<void(std::span<const std::uint8_t>)> bytes;
        std::function<void(Alarm)> due; // the alarm's deadline has passed
        // The port hung up or failed; the thread stops watching it.
        std::function<void()> lost;
    };

    // fd stays the caller's; it must stay open until this is destroyed.
    LineThread(int fd, std::mutex& guard, Events events);
    ~LineThread();
    LineThread(const LineThread&) = delete;
    LineThread& operator=(const LineThread&) = delete;

    // False when the thread could not be set up; nothing is watched then.
    bool isRunning() const { return m_thread.joinable(); }
    // Wakes the thread and waits for it to end: nothing is called back after. The caller must
    // not hold the guard.
    void stop();

    // The alarm's deadline, replacing any earlier; nullopt clears it. Call with the guard held.
    void setDeadline(Alarm alarm, std::optional<Clock::time_point> at);

    // How often the thread has come out of its wait: a quiet line must not keep it busy.
    std::uint64_t wakeUps() const { return m_wakeUps.load(std::memory_order_relaxed); }

private:
    struct Ready
    {
        bool woken = false; // the wake-up pipe
        short line = 0;     // the port, as poll() flags
    };
    // Waits at most `left` (for ever without it).
    Ready waitFor(std::optional<Clock::duration> left, bool watching);
    void unwatch();
    void loop();
    void wake();

    const int m_fd;
    std::mutex& m_guard;
    const Events m_events;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    int m_epoll = -1;              // Linux
    bool m_nanosecondWaits = true; // Linux: the kernel has epoll_pwait2
    // Guarded by m_guard.
    std::array<std::optional<Clock::time_point>, 2> m_deadlines;
    bool m_stopping = false;
    std::atomic<std::uint64_t> m_wakeUps{0};
    std::thread m_thread;
};

} // namespace quarvel::link
