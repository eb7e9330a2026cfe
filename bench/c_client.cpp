#include "c_client.h"

#include "bench_row.h"

#include "link/frame.h"

#include <array>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace quarvel::bench {

namespace {
constexpr int kReadCells = 189;
}

CClient::CClient(bool wireTime, bool waitInPoll) : m_selector(wireTime), m_waitInPoll(waitInPoll)
{
    std::string error;
    if (!m_selector.start(&error)) return;
    m_fd = ::open(m_selector.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) return;
    termios tio{};
    ::tcgetattr(m_fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_fd, TCSANOW, &tio);
}

CClient::~CClient()
{
    if (m_fd >= 0) ::close(m_fd);
}

void CClient::read()
{
    struct Stamps
    {
        std::int64_t writing, written, replied;
    };
    std::vector<Stamps> stamps;
    stamps.reserve(kReadCells);
    m_selector.takeExchanges();
    std::int64_t firstSend = 0, lastSend = 0;
    for (int i = 0; i < kReadCells; ++i) {
        lastSend = monotonicNs();
        if (i == 0) firstSend = lastSend;
        const link::Frame request = link::readRequest(static_cast<std::uint8_t>(i));
        if (::write(m_fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
            m_failed = true;
            return;
        }
        stamps.push_back({lastSend, monotonicNs(), 0});
        std::array<std::uint8_t, link::kFrameSize> reply{};
        for (std::size_t got = 0; got < reply.size();) {
            if (m_waitInPoll) {
                pollfd p{m_fd, POLLIN, 0};
                ::poll(&p, 1, -1);
            }
            const ssize_t n = ::read(m_fd, reply.data() + got, reply.size() - got);
            if (n <= 0) {
                m_failed = true;
                return;
            }
            got += static_cast<std::size_t>(n);
        }
        stamps.back().replied = monotonicNs();
    }
    // Exchange k's reply was read at stamps[k].replied and led to request k + 1.
    const auto exchanges = m_selector.takeExchanges();
    for (std::size_t k = 0; k < exchanges.size() && k + 1 < stamps.size(); ++k) {
        const auto& next = stamps[k + 1];
        m_parts.wake.push_back(stamps[k].replied - exchanges[k].replyEndNs);
        m_parts.writeCall.push_back(next.written - next.writing);
        m_parts.toSelector.push_back(exchanges[k].requestSeenNs - next.writing);
    }
    m_requestToRequestUs.push_back(static_cast<double>(lastSend - firstSend) / 1000.0 / (kReadCells - 1));
    const auto gaps = m_selector.takeGaps();
    m_gaps.insert(m_gaps.end(), gaps.begin(), gaps.end());
}

double CClient::gapMedianUs() const
{
    return percentileUs(m_gaps, 0.5);
}

double CClient::gapPercentileUs(double p) const
{
    return percentileUs(m_gaps, p);
}

double CClient::requestToRequestUs() const
{
    return median(m_requestToRequestUs);
}

double CClient::readSeconds(double pauseSeconds) const
{
    return (kReadCells - 1) * requestToRequestUs() / 1e6 + pauseSeconds;
}

} // namespace quarvel::bench
