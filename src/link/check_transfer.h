#pragma once

#include "link/transfer.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarvel::link {

// A fixed number of read exchanges of one cell (0 unless told), one after the other, none
// retried: every exchange counts, good or not, so the figures say how the line behaves and not
// how well retries hide it. Reading a cell changes nothing on the selector. The clock (monotonic,
// microseconds) comes from the driver.
class CheckTransfer final : public Transfer
{
public:
    using Clock = std::function<std::int64_t()>;

    // Its figures come in the summary's output.
    CheckTransfer(int count, Clock clock, int address = 0);

    Step start() override;
    Step reply(std::span<const std::uint8_t> bytes) override;
    Step timeout(std::int64_t nowMs) override;
    Step abort(AbortReason reason) override;
    TransferSummary summary() const override;

private:
    Step next(std::vector<Taken> taken);

    int m_count;
    int m_address;
    Clock m_clock;
    CheckFigures m_figures;
    bool m_waiting = false;
    bool m_draining = false; // after a time-out: waiting out a reply still on its way
    bool m_done = false;
    std::int64_t m_sentUs = 0;
    TransferSummary m_summary;
};

// How the line looks after a check, worst first.
enum class LineDiagnosis
{
    Echoes,       // the port sends back what it is sent
    NoAnswer,     // nothing came back at all
    SlowLine,     // answers come, steadily late (a slow converter or link between port and selector)
    LatencyTimer, // answers come in bursts on a USB adapter's 16 ms ticks
    Unreliable,   // some exchanges failed
    Healthy
};

struct CheckReport
{
    double minMs = 0, medianMs = 0, p99Ms = 0, maxMs = 0; // round trips of good answers
    double lineMs = 0;                                    // what the line itself needs
    LineDiagnosis diagnosis = LineDiagnosis::NoAnswer;
    std::string text; // the diagnosis as the user reads it
};

// One exchange on the wire at 19200 8N1: ten bytes of 520.8 us, plus the selector's turnaround.
inline constexpr double kExchangeWireMs = 5.208;
inline constexpr double kTurnaroundMs = 1.0;

// portName only shapes the advice (which adapter's latency timer to set).
CheckReport diagnoseLink(const CheckFigures& figures, const std::string& portName);

} // namespace quarvel::link
