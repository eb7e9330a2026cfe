#pragma once

#include "link/transfer.h"
#include "sampling/measurement_record.h"

#include <vector>

namespace quarvel::link {

// One sampling run of one channel: the start handshake, twelve coins' measurement records,
// and the end frame, which goes out on every path from the handshake on (success, a failed
// handshake, the user's cancel) except a lost port.
//
// The accepted samples are appended to the owner's vector as they come, so its size is the
// count so far; a run that does not succeed leaves it empty.
//
// Records come unrequested and with no time limit, so the collection waits untimed in Stream
// mode, and this transfer does the resynchronising: from what arrived it takes the first ten
// bytes that pass both checksums, drops what lies before them, and leaves the rest for the
// next take. With no good record in sight it keeps the last nine bytes (the start of one
// perhaps) and drops the others, so one stray byte costs no later coin.
class SamplingTransfer final : public Transfer
{
public:
    static constexpr int kCoins = 12; // every run, whatever a caller asked for
    static constexpr int kHandshakeAttempts = 5;

    // samples must outlive the transfer; it is cleared when the run starts.
    explicit SamplingTransfer(std::vector<sampling::Sample>& samples);

    Step start() override;
    Step reply(std::span<const std::uint8_t> bytes) override;
    Step timeout() override;
    Step abort(AbortReason reason) override;
    TransferSummary summary() const override { return m_summary; }

private:
    enum class State
    {
        Idle,
        Handshake,
        Collecting,
        Done
    };

    Step handshake(std::vector<Report> reports) const;
    Step handshakeFailed(std::vector<Report> reports, ExchangeFault fault);
    Step collect(std::span<const std::uint8_t> bytes);
    Step awaitRecords(std::vector<Report> reports, std::vector<Taken> taken) const;
    Step finish(std::vector<Report> reports, EndReason reason, bool endFrame, Pause pause);
    Step settled() const;

    std::vector<sampling::Sample>& m_samples;
    State m_state = State::Idle;
    int m_attempts = 0;
    TransferSummary m_summary;
};

} // namespace quarvel::link
