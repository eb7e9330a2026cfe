#pragma once

#include "sim/virtual_selector.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quarvel::bench {

// A virtual selector on a pseudo-terminal, served from its own thread so that its timing does
// not depend on the event loop of the program under test.
//
// With wire time on it behaves like the selector on a 19200-baud 8N1 line, to well under a
// millisecond: a request's last byte reaches it five byte times (5 x 520.8 us) after the
// first byte was seen, it waits the turnaround, and it writes its reply one byte at a time,
// each when the byte would be complete at the host (clock_nanosleep on absolute deadlines of
// the monotonic clock, timer slack 1 ns). With wire time off it answers at once.
//
// Either way it notes, for every reply, the time from its last byte being written to the first
// byte of the next request being read: the host's own latency, seen from the device side.
class WireSelector
{
public:
    static constexpr std::int64_t kByteNs = 10LL * 1000000000 / 19200; // 520833
    static constexpr std::int64_t kTurnaroundNs = 1000000;

    explicit WireSelector(bool wireTime);
    ~WireSelector();
    WireSelector(const WireSelector&) = delete;
    WireSelector& operator=(const WireSelector&) = delete;

    // Bytes held and released together on boundaries of this many ms, as a USB adapter's
    // latency timer does (FTDI: 16 ms by default), so a reply or record that straddles a
    // boundary comes in two chunks; 0, the default, passes each byte on at once.
    void setLatencyTimerMs(int ms) { m_latencyNs = static_cast<std::int64_t>(ms) * 1000000; }
    // Spinning the last stretch before each deadline costs a core per selector while bytes are
    // due; many selectors at once sleep to the deadline instead (wake-ups some tens of us late).
    void setSpin(bool on) { m_spin = on; }

    // While it samples, the selector takes `count` coins of coinType (0..11), one every
    // intervalMs, their records of the given regular type. Set before start().
    void feedCoinsWhileSampling(int coinType, int count, int intervalMs, std::uint8_t recordType)
    {
        m_coinType = coinType;
        m_coinsLeft = count;
        m_coinIntervalNs = static_cast<std::int64_t>(intervalMs) * 1000000;
        m_model.setRecordType(recordType);
    }

    // Creates the pty and starts serving it. False with a reason when that fails.
    bool start(std::string* error);
    void stop();
    std::string slavePath() const { return m_slavePath; }

    // Reply-to-next-request gaps in nanoseconds noted since the last call. A reply still waiting
    // for its next request is forgotten, so the gap across a closing pause never counts.
    std::vector<std::int64_t> takeGaps();
    // The same gaps as their two ends on the monotonic clock: a reply's last byte written, the
    // next request read. Kept beside the gaps, taken on their own.
    struct Exchange
    {
        std::int64_t replyEndNs;
        std::int64_t requestSeenNs;
    };
    std::vector<Exchange> takeExchanges();
    // How late the last byte of each reply was written, against its deadline, in nanoseconds.
    std::vector<std::int64_t> takeLates();
    // CPU time of the serving thread, so the host's share of the process can be told apart.
    double threadCpuSeconds() const;
    // True when the serving thread got real-time priority.
    bool realTime() const { return m_realTime; }

private:
    void serve();
    void writeReply(const std::vector<std::uint8_t>& bytes, std::int64_t startNs);
    int pollTimeoutMs();
    void insertDueCoin();

    bool m_wireTime;
    std::int64_t m_latencyNs = 0;
    bool m_spin = true;
    std::int64_t m_epochNs = 0; // the latency timer's boundaries count from here
    sim::VirtualSelector m_model;
    int m_master = -1;
    int m_slave = -1;
    int m_stopPipe[2] = {-1, -1};
    std::string m_slavePath;
    std::thread m_thread;
    std::atomic<bool> m_cpuClockReady{false};
    bool m_realTime = false; // written before m_cpuClockReady
    clockid_t m_cpuClock{};

    std::int64_t m_deviceLineFreeNs = 0; // when the selector's own last byte is out
    int m_coinType = 0;
    int m_coinsLeft = 0;
    std::int64_t m_coinIntervalNs = 0;
    std::int64_t m_nextCoinNs = 0; // 0: sampling has not begun

    std::mutex m_mutex; // guards what follows
    bool m_awaitingRequest = false;
    std::vector<Exchange> m_exchanges;
    std::int64_t m_lastReplyNs = 0;
    std::vector<std::int64_t> m_gaps;
    std::vector<std::int64_t> m_lates;
};

// The monotonic clock every bench program shares with the wire selector, in nanoseconds.
std::int64_t monotonicNs();

} // namespace quarvel::bench
