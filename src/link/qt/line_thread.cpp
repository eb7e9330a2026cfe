#include "link/qt/line_thread.h"

#include "link/qt/turnaround_stamps.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
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
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, watched, &event) != 0) {
            ::close(m_epoll);
            m_epoll = -1;
            return;
        }
    }
#endif
}

LineThread::~LineThread()
{
    stop();
#ifdef __linux__
    if (m_epoll >= 0) ::close(m_epoll);
#endif
    if (m_wakeRead >= 0) ::close(m_wakeRead);
    if (m_wakeWrite >= 0) ::close(m_wakeWrite);
    if (m_fd >= 0) ::close(m_fd);
}

bool LineThread::start()
{
#ifdef __linux__
    if (m_epoll < 0) return false;
#endif
    if (m_wakeWrite < 0 || m_thread.joinable()) return m_thread.joinable();
    try {
        m_thread = std::thread([this] { loop(); });
    } catch (const std::system_error&) {
        return false; // out of threads
    }
    return true;
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

void LineThread::write(const Frame& frame)
{
    if (!m_watching) return;
    if (!onThread()) {
        m_queue.push_back({frame});
        wake();
        return;
    }
    m_out.insert(m_out.end(), frame.begin(), frame.end());
    m_wrote = true;
    send();
}

void LineThread::flushInput()
{
    if (!m_watching) return;
    if (!onThread()) {
        m_queue.push_back({std::nullopt});
        wake();
        return;
    }
    drop();
}

void LineThread::setDeadline(std::optional<int> ms)
{
    m_deadline = ms ? std::optional(Clock::now() + std::chrono::milliseconds(*ms)) : std::nullopt;
    // The thread looks at the deadline each time round; only a wait already begun needs waking.
    if (!onThread()) wake();
}

void LineThread::wake()
{
    const char byte = 0;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = ::write(m_wakeWrite, &byte, 1);
}

void LineThread::runQueued()
{
    // Swapped out first: a callback below may queue nothing (it runs on this thread), but the
    // vector must not change under the loop either way.
    std::vector<Queued> queue;
    queue.swap(m_queue);
    for (const auto& request : queue) {
        if (!m_watching) break;
        if (request.frame) {
            m_out.insert(m_out.end(), request.frame->begin(), request.frame->end());
            m_wrote = true;
            send();
        } else {
            drop();
        }
    }
}

// Never waits: what the driver does not take now goes when the port says it may (POLLOUT).
void LineThread::send()
{
    turnaround::mark(turnaround::Point::Writing);
    std::size_t done = 0;
    while (done < m_out.size()) {
        const ssize_t n = ::write(m_fd, m_out.data() + done, m_out.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            hangUp();
            return;
        }
    }
    m_out.erase(m_out.begin(), m_out.begin() + static_cast<std::ptrdiff_t>(done));
    if (m_out.empty()) turnaround::mark(turnaround::Point::Written);
}

// Whatever the driver holds, the engine has not seen: only this thread reads the port.
void LineThread::drop()
{
    std::vector<std::uint8_t> stale;
    std::uint8_t buffer[256];
    for (ssize_t n = 0; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;)
        stale.insert(stale.end(), buffer, buffer + n);
    ::tcflush(m_fd, TCIFLUSH);
    if (stale.empty()) return;
    m_told = true;
    m_events.dropped(stale);
}

void LineThread::readLine(short flags)
{
    std::array<std::uint8_t, 512> buffer{};
    const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
    const int error = n < 0 ? errno : 0;
    if (n > 0) {
        m_told = true;
        m_events.bytes(std::span(buffer.data(), static_cast<std::size_t>(n)));
    } else if ((n < 0 && error != EAGAIN && error != EINTR) ||
               (n <= 0 && (flags & (POLLHUP | POLLERR | POLLNVAL)))) {
        // A terminal that hung up stays readable for ever with nothing to read.
        hangUp();
    }
}

void LineThread::hangUp()
{
    if (!m_watching) return;
    m_watching = false;
    m_out.clear();
    m_queue.clear();
    unwatch();
    m_told = true;
    m_events.lost();
}

LineThread::Ready LineThread::waitFor(std::optional<Clock::duration> left, bool sending)
{
    // Whole milliseconds, rounded up so a deadline is never cut short: up to a millisecond late.
    const int timeoutMs = left ? static_cast<int>(std::max<std::int64_t>(
                                     0, std::chrono::ceil<std::chrono::milliseconds>(*left).count()))
                               : -1;
    Ready ready;
#ifdef __linux__
    watch(sending);
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
        } else if (m_watching) {
            const auto flags = events[i].events;
            ready.line =
                static_cast<short>(((flags & EPOLLIN) ? POLLIN : 0) | ((flags & EPOLLOUT) ? POLLOUT : 0) |
                                   ((flags & EPOLLHUP) ? POLLHUP : 0) | ((flags & EPOLLERR) ? POLLERR : 0));
        }
    }
#else
    const short wanted = static_cast<short>(POLLIN | (sending ? POLLOUT : 0));
    std::array<pollfd, 2> fds{pollfd{m_wakeRead, POLLIN, 0}, pollfd{m_watching ? m_fd : -1, wanted, 0}};
    if (::poll(fds.data(), fds.size(), timeoutMs) > 0) {
        ready.woken = fds[0].revents != 0;
        ready.line = fds[1].revents;
    }
#endif
    return ready;
}

void LineThread::watch([[maybe_unused]] bool sending)
{
#ifdef __linux__
    if (!m_watching || sending == m_watchingOut) return;
    epoll_event event{};
    event.events = EPOLLIN | (sending ? EPOLLOUT : 0u);
    event.data.fd = m_fd;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_fd, &event) == 0) m_watchingOut = sending;
#endif
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
    std::unique_lock lock(m_guard);
    while (!m_stopping) {
        std::optional<Clock::time_point> next = m_deadline;
        if (m_settleAt && (!next || *m_settleAt < *next)) next = m_settleAt;
        // The kernel may end a wait for events as much as 0.1% of its length late (a 300 ms
        // pause by 300 us): ask for a little less, then wait again for the rest, which is short
        // and so nearly exact.
        const auto left = next ? std::optional((*next - Clock::now()) * 511 / 512) : std::nullopt;
        const bool sending = !m_out.empty();
        lock.unlock();
        const Ready ready = waitFor(left, sending);
        m_wakeUps.fetch_add(1, std::memory_order_relaxed);
        if (ready.woken) {
            char drain[64];
            while (::read(m_wakeRead, drain, sizeof drain) > 0) {
            }
        }
        lock.lock();
        if (m_stopping) break;

        m_told = false;
        runQueued();
        // The owner's own requests need no word back: its call delivers what it noted.
        m_wrote = false;
        if ((ready.line & POLLOUT) && !m_out.empty()) send();
        if (ready.line & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) readLine(ready.line);
        const auto now = Clock::now();
        if (m_deadline && now >= *m_deadline) {
            m_deadline.reset();
            m_told = true;
            m_events.due();
        }
        bool settle = false;
        if (m_settleAt && now >= *m_settleAt) {
            m_settleAt.reset();
            settle = true;
        }
        if (m_told && !m_wrote) {
            settle = true;
        } else if (m_told && !m_settleAt) {
            m_settleAt = now + kSettleDelay;
        }
        if (settle) {
            lock.unlock();
            m_events.settled();
            lock.lock();
        }
    }
}

} // namespace quarvel::link
