#pragma once

#include "link/record_framer.h"
#include "link/transfer.h"
#include "sampling/measurement_record.h"

#include <vector>

namespace quarvel::link {

// One sampling run of one channel: the start handshake, twelve coins' measurement records,
// and the end frame, which goes out on every path from the handshake on (success, a failed
// handshake, the user's cancel) except a lost port.
//
// The accepted samples come in the summary's output; a run that does not succeed hands over
// none.
//
// Records come unrequested and with no time limit, so the collection waits untimed in Stream
// mode; RecordFramer aligns their halves from the accepted start answer on and counts only
// what is certain. Records that damage makes uncertain are not counted, and the user is told
// to insert those coins again.
class SamplingTransfer final : public Transfer
{
public:
    static constexpr int kCoins = 12; // every run, whatever a caller asked for
    static constexpr int kHandshakeAttempts = 5;

    Step start() override;
    Step reply(std::span<const std::uint8_t> bytes) override;
    Step arrived(std::span<const std::uint8_t> bytes, std::int64_t nowMs) override;
    Step timeout(std::int64_t nowMs) override;
    Step abort(AbortReason reason) override;
    TransferSummary summary() const override;

private:
    enum class State
    {
        Idle,
        Handshake,
        Collecting,
        Done
    };

    Step handshake(std::vector<Report> reports, bool quietFirst) const;
    Step handshakeFailed(std::vector<Report> reports, ExchangeFault fault);
    Step collect(std::vector<RecordFramer::Event> events, std::int64_t nowMs);
    Step awaitRecords(std::vector<Report> reports, std::vector<Seen> seen, std::int64_t nowMs) const;
    Step finish(std::vector<Report> reports, EndReason reason, bool endFrame, Pause pause);
    Step settled() const;

    std::vector<sampling::Sample> m_samples;
    RecordFramer m_framer;
    std::vector<std::uint8_t> m_answer; // the start answer, while it comes in
    std::int64_t m_nowMs = 0;           // of the last arrival
    State m_state = State::Idle;
    int m_attempts = 0;
    TransferSummary m_summary;
};

} // namespace quarvel::link
