#include "link/qt/line_thread.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/epoll.h>
#include <sys/prctl.h>
#endif

namespace quarvel::link {

LineThread::LineThread(int fd, std::mutex& guard, Events events)
    : m_fd(fd), m_guard(guard), m_events(std::move(events))
{
    int pipeEnds[2] = {-1, -1};
    if (::pipe(pipeEnds) != 0) return;
    for (const int end : pipeEnds) {
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    m_wakeRead = pipeEnds[0];
    m_wakeWrite = pipeEnds[1];
#ifdef __linux__
    // epoll keeps both descriptors registered between waits; poll() would sign up for each
    // again on every wait and sign off on every wake-up, a few microseconds of each exchange.
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) return;
    for (const int watched : {m_wakeRead, m_fd}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = watched;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, watched, &event) != 0) return;
    }
#endif
    try {
        m_thread = std::thread([this] { loop(); });
    } catch (const std::system_error&) {
        // Out of threads: isRunning() says so.
    }
}

LineThread::~LineThread()
{
    stop();
#ifdef __linux__
    if (m_epoll >= 0) ::close(m_epoll);
#endif
    if (m_wakeRead >= 0) ::close(m_wakeRead);
    if (m_wakeWrite >= 0) ::close(m_wakeWrite);
}

void LineThread::stop()
{
    if (!m_thread.joinable()) return;
    {
        const std::lock_guard lock(m_guard);
        m_stopping = true;
    }
    wake();
    m_thread.join();
}

void LineThread::setDeadline(Alarm alarm, std::optional<Clock::time_point> at)
{
    m_deadlines[static_cast<std::size_t>(alarm)] = at;
    // The thread looks at the deadline each time round; only a wait already begun needs waking.
    if (std::this_thread::get_id() != m_thread.get_id()) wake();
}

void LineThread::wake()
{
    const char byte = 0;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = ::write(m_wakeWrite, &byte, 1);
}

LineThread::Ready LineThread::waitFor(std::optional<Clock::duration> left, bool watching)
{
    // Whole milliseconds, rounded up so a deadline is never cut short: up to a millisecond late.
    const int timeoutMs = left ? static_cast<int>(std::max<std::int64_t>(
                                     0, std::chrono::ceil<std::chrono::milliseconds>(*left).count()))
                               : -1;
    Ready ready;
#ifdef __linux__
    std::array<epoll_event, 2> events{};
    int n = -1;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 35)
    // To the microsecond where the kernel can: a closing pause that ends a millisecond late
    // makes every read and programming a millisecond longer.
    if (m_nanosecondWaits) {
        const auto ns = left ? std::max<std::int64_t>(0, std::chrono::nanoseconds(*left).count()) : 0;
        const timespec at{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        n = ::epoll_pwait2(m_epoll, events.data(), static_cast<int>(events.size()), left ? &at : nullptr,
                           nullptr);
        if (n < 0 && errno == ENOSYS) m_nanosecondWaits = false;
    }
#else
    m_nanosecondWaits = false;
#endif
    if (!m_nanosecondWaits)
        n = ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), timeoutMs);
    for (int i = 0; i < n; ++i) {
        if (events[i].data.fd == m_wakeRead) {
            ready.woken = true;
        } else if (watching) {
            const auto flags = events[i].events;
            ready.line = ((flags & EPOLLIN) ? POLLIN : 0) | ((flags & EPOLLHUP) ? POLLHUP : 0) |
                         ((flags & EPOLLERR) ? POLLERR : 0);
        }
    }
#else
    std::array<pollfd, 2> fds{pollfd{m_wakeRead, POLLIN, 0}, pollfd{watching ? m_fd : -1, POLLIN, 0}};
    if (::poll(fds.data(), fds.size(), timeoutMs) > 0) {
        ready.woken = fds[0].revents != 0;
        ready.line = fds[1].revents;
    }
#endif
    return ready;
}

void LineThread::unwatch()
{
#ifdef __linux__
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_fd, nullptr);
#endif
}

void LineThread::loop()
{
#ifdef __linux__
    // The default slack of 50 us would be added to every time-out and pause.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
#endif
    std::array<std::uint8_t, 512> buffer{};
    std::unique_lock lock(m_guard);
    bool watching = true;
    while (!m_stopping) {
        std::optional<Clock::time_point> next;
        for (const auto& deadline : m_deadlines)
            if (deadline && (!next || *deadline < *next)) next = deadline;
        // The kernel may end a wait for events as much as 0.1% of its length late (a 300 ms
        // pause by 300 us): ask for a little less, then wait again for the rest, which is short
        // and so nearly exact.
        const auto left = next ? std::optional((*next - Clock::now()) * 511 / 512) : std::nullopt;
        lock.unlock();
        const Ready ready = waitFor(left, watching);
        m_wakeUps.fetch_add(1, std::memory_order_relaxed);
        if (ready.woken) {
            char drain[64];
            while (::read(m_wakeRead, drain, sizeof drain) > 0) {
            }
        }
        lock.lock();
        if (m_stopping) break;
        if (ready.line != 0) {
            // Read under the guard: see the class comment.
            const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
            const int error = n < 0 ? errno : 0;
            if (n > 0) {
                m_events.bytes(std::span(buffer.data(), static_cast<std::size_t>(n)));
            } else if ((n < 0 && error != EAGAIN && error != EINTR) ||
                       (n <= 0 && (ready.line & (POLLHUP | POLLERR | POLLNVAL)))) {
                // A terminal that hung up stays readable for ever with nothing to read.
                watching = false;
                unwatch();
                m_events.lost();
            }
        }
        for (const Alarm alarm : {Alarm::Engine, Alarm::Notes}) {
            auto& deadline = m_deadlines[static_cast<std::size_t>(alarm)];
            if (deadline && Clock::now() >= *deadline) {
                deadline.reset();
                m_events.due(alarm);
            }
        }
    }
}

} // namespace quarvel::link
