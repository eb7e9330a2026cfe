#include "wire_selector.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace quarvel::bench {

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

namespace {

// Wake-ups come some tens of microseconds late, more on a busy machine; the last stretch
// before a deadline is spun so the line's timing is the host's, not this thread's.
constexpr std::int64_t kSpinNs = 200000;

void sleepUntil(std::int64_t ns, bool spin = true)
{
    const std::int64_t wake = ns - (spin ? kSpinNs : 0);
    timespec ts{static_cast<time_t>(wake / 1000000000), static_cast<long>(wake % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
    while (monotonicNs() < ns) {
    }
}

std::string systemError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

WireSelector::WireSelector(bool wireTime) : m_wireTime(wireTime)
{
    m_model.loadMemory(sim::VirtualSelector::factoryMemory());
}

WireSelector::~WireSelector()
{
    stop();
}

bool WireSelector::start(std::string* error)
{
    const auto fail = [&](const char* what) {
        if (error) *error = systemError(what);
        stop();
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) return fail("posix_openpt");
    if (::grantpt(m_master) < 0 || ::unlockpt(m_master) < 0) return fail("unlockpt");
    std::array<char, 128> name{};
    if (::ptsname_r(m_master, name.data(), name.size()) != 0) return fail("ptsname_r");
    m_slavePath = name.data();
    // Held open so the master never reads EIO while the host reopens the slave.
    m_slave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) return fail("open slave");
    termios tio{};
    if (::tcgetattr(m_slave, &tio) < 0) return fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(m_slave, TCSANOW, &tio) < 0) return fail("tcsetattr");
    if (::pipe2(m_stopPipe, O_CLOEXEC) < 0) return fail("pipe2");
    m_epochNs = monotonicNs();
    m_thread = std::thread([this] { serve(); });
    while (!m_cpuClockReady.load())
        std::this_thread::yield();
    return true;
}

void WireSelector::stop()
{
    if (m_thread.joinable()) {
        const char byte = 0;
        [[maybe_unused]] const auto n = ::write(m_stopPipe[1], &byte, 1);
        m_thread.join();
    }
    for (int* fd : {&m_master, &m_slave, &m_stopPipe[0], &m_stopPipe[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

std::vector<std::int64_t> WireSelector::takeGaps()
{
    std::lock_guard lock(m_mutex);
    m_awaitingRequest = false;
    return std::exchange(m_gaps, {});
}

std::vector<WireSelector::Exchange> WireSelector::takeExchanges()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_exchanges, {});
}

std::vector<std::int64_t> WireSelector::takeLates()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_lates, {});
}

double WireSelector::threadCpuSeconds() const
{
    timespec ts{};
    clock_gettime(m_cpuClock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void WireSelector::serve()
{
    // The default slack of 50 us would blur every byte deadline.
    pthread_setname_np(pthread_self(), "wire selector");
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    // Where allowed, run ahead of other work on the machine, so that a busy machine delays the
    // host under test and not the line it is measured against. Without the right it stays
    // an ordinary thread, and the figures then carry this thread's delays too.
    sched_param param{};
    param.sched_priority = 1;
    m_realTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    pthread_getcpuclockid(pthread_self(), &m_cpuClock);
    m_cpuClockReady = true;

    std::int64_t hostLineFreeNs = 0;
    std::array<std::uint8_t, 256> buffer{};
    for (;;) {
        std::array<pollfd, 2> fds{pollfd{m_master, POLLIN, 0}, pollfd{m_stopPipe[0], POLLIN, 0}};
        const int ready = ::poll(fds.data(), fds.size(), pollTimeoutMs());
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if (ready == 0) {
            insertDueCoin();
            continue;
        }
        const std::int64_t seenNs = monotonicNs();
        const ssize_t n = ::read(m_master, buffer.data(), buffer.size());
        if (n <= 0) continue;
        {
            std::lock_guard lock(m_mutex);
            if (m_awaitingRequest) {
                m_gaps.push_back(seenNs - m_lastReplyNs);
                m_exchanges.push_back({m_lastReplyNs, seenNs});
            }
            m_awaitingRequest = false;
        }
        std::int64_t arrivalNs = seenNs;
        if (m_wireTime) {
            // Bytes written while earlier ones are still on the line queue behind them.
            hostLineFreeNs = std::max(seenNs, hostLineFreeNs) + n * kByteNs;
            arrivalNs = hostLineFreeNs;
            sleepUntil(arrivalNs, m_spin);
        }
        const auto emissions =
            m_model.receive(std::span(buffer.data(), static_cast<std::size_t>(n)), arrivalNs / 1000000);
        for (const auto& e : emissions) {
            const std::int64_t delayNs = e.delayMs * 1000000 + (m_wireTime ? kTurnaroundNs : 0);
            writeReply(e.bytes, arrivalNs + delayNs);
        }
        if (!emissions.empty()) {
            std::lock_guard lock(m_mutex);
            m_awaitingRequest = true;
            m_lastReplyNs = monotonicNs();
        }
    }
}

int WireSelector::pollTimeoutMs()
{
    if (m_coinsLeft <= 0 || !m_model.isSampling()) {
        m_nextCoinNs = 0;
        return -1;
    }
    if (m_nextCoinNs == 0) m_nextCoinNs = monotonicNs() + m_coinIntervalNs;
    return static_cast<int>(std::max<std::int64_t>(0, (m_nextCoinNs - monotonicNs() + 999999) / 1000000));
}

void WireSelector::insertDueCoin()
{
    if (m_nextCoinNs == 0 || monotonicNs() < m_nextCoinNs) return;
    m_nextCoinNs += m_coinIntervalNs;
    --m_coinsLeft;
    const std::int64_t now = monotonicNs();
    if (const auto emissions = m_model.insertCoin(m_coinType))
        for (const auto& e : *emissions)
            writeReply(e.bytes, now + e.delayMs * 1000000);
}

void WireSelector::writeReply(const std::vector<std::uint8_t>& bytes, std::int64_t startNs)
{
    if (!m_wireTime) {
        if (startNs > monotonicNs()) sleepUntil(startNs, m_spin);
        [[maybe_unused]] const auto n = ::write(m_master, bytes.data(), bytes.size());
        return;
    }
    const std::int64_t first = std::max(startNs, m_deviceLineFreeNs);
    if (m_latencyNs > 0) {
        // The adapter passes on what it holds only when its timer runs out: the bytes complete
        // before one boundary go together, the rest at the next.
        const auto releaseOf = [&](std::size_t i) {
            const std::int64_t complete = first + static_cast<std::int64_t>(i + 1) * kByteNs;
            return m_epochNs + (complete - m_epochNs + m_latencyNs - 1) / m_latencyNs * m_latencyNs;
        };
        for (std::size_t from = 0; from < bytes.size();) {
            std::size_t to = from + 1;
            while (to < bytes.size() && releaseOf(to) == releaseOf(from))
                ++to;
            sleepUntil(releaseOf(from), m_spin);
            [[maybe_unused]] const auto n = ::write(m_master, bytes.data() + from, to - from);
            from = to;
        }
        m_deviceLineFreeNs = first + static_cast<std::int64_t>(bytes.size()) * kByteNs;
        return;
    }
    // Each byte goes to the host when its stop bit would be done.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::int64_t due = first + static_cast<std::int64_t>(i + 1) * kByteNs;
        sleepUntil(due, m_spin);
        [[maybe_unused]] const auto n = ::write(m_master, &bytes[i], 1);
        if (i + 1 == bytes.size()) {
            std::lock_guard lock(m_mutex);
            m_lates.push_back(monotonicNs() - due);
        }
    }
    m_deviceLineFreeNs = first + static_cast<std::int64_t>(bytes.size()) * kByteNs;
}

} // namespace quarvel::bench
