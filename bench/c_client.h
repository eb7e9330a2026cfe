#pragma once

#include "wire_selector.h"

#include <cstdint>
#include <vector>

namespace quarvel::bench {

// A full read by a plain C client with no event loop, on a wire selector of its own: what the
// pty and the scheduler cost by themselves, the floor under the program's figures. It blocks
// in read(), or (waitInPoll) waits in poll() before each read as every event loop does. The
// benches take its reads between their own runs, so that both sides see the same machine.
class CClient
{
public:
    CClient(bool wireTime, bool waitInPoll);
    ~CClient();
    CClient(const CClient&) = delete;
    CClient& operator=(const CClient&) = delete;

    // False when the pty could not be set up or a read broke off: its figures then mean nothing.
    bool ok() const { return m_fd >= 0 && !m_failed; }
    // Reads cells 0..188 once, as the program's full read does, without the closing pause.
    void read();

    // The selector's view: its last reply byte written to the next request read, median.
    double gapMedianUs() const;
    double gapPercentileUs(double p) const;
    std::size_t exchanges() const { return m_gaps.size(); }
    // Mean from one request to the next, median over the reads.
    double requestToRequestUs() const;
    // What a full read with this closing pause takes this client, in seconds.
    double readSeconds(double pauseSeconds) const;

    // The same parts of an exchange as the link's turnaround stamps, in ns: the reply's last
    // byte written to the client's read returning it, the write call, and the write's start to
    // the selector reading the request.
    struct Parts
    {
        std::vector<std::int64_t> wake, writeCall, toSelector;
    };
    const Parts& parts() const { return m_parts; }

private:
    WireSelector m_selector;
    bool m_waitInPoll;
    int m_fd = -1;
    bool m_failed = false;
    std::vector<std::int64_t> m_gaps;
    std::vector<double> m_requestToRequestUs;
    Parts m_parts;
};

} // namespace quarvel::bench
