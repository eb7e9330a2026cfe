#pragma once

#include "link/transfer.h"

#include <memory>

namespace quarvel::session {

// What the session learns about one job: how it ended, and whether it ran at all.
struct JobRecord
{
    link::TransferSummary summary;
    bool started = false; // false: never run, or skipped after a cancel
    bool ended = false;
};

// Wraps a transfer of a session operation. It records the transfer's summary when it ends
// (the engine drops finished transfers), and once the operation is cancelled it ends at its
// start without sending anything, so a cancel stops the jobs queued behind the running one.
class GuardedJob final : public link::Transfer
{
public:
    GuardedJob(std::unique_ptr<link::Transfer> inner, std::shared_ptr<const bool> cancelled,
               std::shared_ptr<JobRecord> record);

    link::Step start() override;
    link::Step reply(std::span<const std::uint8_t> bytes) override;
    link::Step timeout() override;
    link::Step abort(AbortReason reason) override;
    link::TransferSummary summary() const override { return m_record->summary; }

private:
    link::Step watch(link::Step step, std::optional<AbortReason> aborted = std::nullopt);

    std::unique_ptr<link::Transfer> m_inner;
    std::shared_ptr<const bool> m_cancelled;
    std::shared_ptr<JobRecord> m_record;
};

} // namespace quarvel::session
