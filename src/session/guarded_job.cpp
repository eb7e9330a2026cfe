#include "session/guarded_job.h"

#include <utility>

namespace quarvel::session {

GuardedJob::GuardedJob(std::unique_ptr<link::Transfer> inner, std::shared_ptr<const bool> cancelled,
                       std::shared_ptr<JobRecord> record)
    : m_inner(std::move(inner)), m_cancelled(std::move(cancelled)), m_record(std::move(record))
{}

link::Step GuardedJob::start()
{
    if (*m_cancelled) {
        m_record->ended = true;
        m_record->summary.reason = link::EndReason::Cancelled;
        link::Step skipped;
        skipped.outcome = link::Outcome::Failed;
        return skipped;
    }
    m_record->started = true;
    return watch(m_inner->start());
}

link::Step GuardedJob::reply(std::span<const std::uint8_t> bytes)
{
    return watch(m_inner->reply(bytes));
}

link::Step GuardedJob::timeout()
{
    return watch(m_inner->timeout());
}

link::Step GuardedJob::abort(AbortReason reason)
{
    return watch(m_inner->abort(reason), reason);
}

link::Step GuardedJob::watch(link::Step step, std::optional<AbortReason> aborted)
{
    // An aborted transfer ends whatever its step says: the engine sends it nothing more.
    if (step.outcome == link::Outcome::Running && !aborted) return step;
    m_record->ended = true;
    m_record->summary = m_inner->summary();
    if (m_record->summary.reason == link::EndReason::None) {
        // A transfer that does not say why it ended: judge by how it ended.
        if (aborted)
            m_record->summary.reason =
                *aborted == AbortReason::UserCancel ? link::EndReason::Cancelled : link::EndReason::PortLost;
        else
            m_record->summary.reason = step.outcome == link::Outcome::Succeeded
                                           ? link::EndReason::Succeeded
                                           : link::EndReason::RetriesUsedUp;
    }
    return step;
}

} // namespace quarvel::session
