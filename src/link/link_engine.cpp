#include "link/link_engine.h"

#include <algorithm>
#include <utility>

namespace quarvel::link {

namespace {
// Outside a wait nothing consumes the buffer; a chattering line must not grow it without end.
// The next flush throws it away anyway, so only the newest bytes are worth keeping.
constexpr std::size_t kMaxBuffered = 4096;

LinkTiming sane(LinkTiming timing)
{
    timing.replyTimeoutMs = std::max(0, timing.replyTimeoutMs);
    timing.closingPauseMs = std::max(0, timing.closingPauseMs);
    return timing;
}
} // namespace

LinkEngine::LinkEngine(Timing timing) : m_timing(sane(timing)) {}

void LinkEngine::setTiming(Timing timing)
{
    m_timing = sane(timing);
}

std::optional<LinkEngine::Actions> LinkEngine::run(Jobs jobs, std::int64_t nowMs)
{
    if (m_running) return std::nullopt;
    std::erase(jobs, nullptr);
    m_queue = std::move(jobs);
    m_nextJob = 0;
    m_running = true;
    m_allSucceeded = true;

    Actions out;
    Step first;
    if (startNextJob(nowMs, out, first)) advance(std::move(first), nowMs, out);
    return out;
}

std::optional<LinkEngine::Actions> LinkEngine::sendFrame(const Frame& frame, std::int64_t nowMs)
{
    if (m_running) return std::nullopt;
    Actions out;
    write(frame, nowMs, out);
    return out;
}

LinkEngine::Actions LinkEngine::bytesArrived(std::span<const std::uint8_t> bytes, std::int64_t nowMs)
{
    Actions out;
    if (bytes.empty()) return out;
    m_lastArrivalMs = nowMs;
    if (m_state == State::Settling) {
        reportReceived(bytes, kStaleDropped, nowMs, out);
        settle(nowMs, out);
        return out;
    }
    if (m_state == State::Waiting && m_receive == Receive::Stream) {
        advance(m_current->arrived(bytes, nowMs), nowMs, out);
        return out;
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
    if (m_state == State::Waiting && m_awaitBytes > 0 &&
        m_buffer.size() >= static_cast<std::size_t>(m_awaitBytes)) {
        // A reply and the step it leads to make a handful of actions: one allocation, not the
        // vector's doublings, between a reply and the next request.
        out.reserve(12);
        advance(takeReply(nowMs, out), nowMs, out);
    } else {
        keepBounded();
    }
    return out;
}

LinkEngine::Actions LinkEngine::timerFired(TimerTag tag, std::int64_t nowMs)
{
    Actions out;
    if (!m_armedTag || *m_armedTag != tag) return out;
    m_armedTag.reset();
    if (m_state == State::Settling) {
        settle(nowMs, out);
    } else if (m_state == State::Waiting) {
        advance(m_current->timeout(nowMs), nowMs, out);
    } else if (m_state == State::Pausing) {
        Step first;
        if (startNextJob(nowMs, out, first)) advance(std::move(first), nowMs, out);
    }
    return out;
}

LinkEngine::Actions LinkEngine::abort(Transfer::AbortReason reason, std::int64_t nowMs)
{
    Actions out;
    const bool portLost = reason == Transfer::AbortReason::PortLost;
    // Whatever the reason, the jobs not yet started never start: a cancelled programming run
    // must not go on with its next range.
    if (m_running && m_nextJob < m_queue.size()) {
        m_allSucceeded = false;
        m_queue.resize(m_nextJob);
    }
    if (m_state == State::Waiting || m_state == State::Settling) {
        stopTimer(out);
        m_held = Step{};
        Step step = m_current->abort(reason);
        for (auto& report : step.reports)
            out.emplace_back(Status{std::move(report)});
        // A closing frame may still go out, awaiting nothing; on a lost port there is no line.
        if (step.send && !portLost) write(*step.send, nowMs, out);
        finishJob(step.outcome == Outcome::Running ? Outcome::Failed : step.outcome, out);
        if (!portLost) {
            const int pause = pauseLength(step.pause, nowMs);
            if (pause > 0) {
                m_state = State::Pausing;
                armTimer(pause, out);
            } else {
                Step first;
                if (startNextJob(nowMs, out, first)) advance(std::move(first), nowMs, out);
            }
            return out;
        }
    }
    if (portLost && m_running) {
        // Nothing can reach the selector any more: the jobs not started count as failed.
        stopTimer(out);
        if (m_nextJob < m_queue.size()) m_allSucceeded = false;
        finishRun(out);
    }
    return out;
}

void LinkEngine::advance(Step step, std::int64_t nowMs, Actions& out)
{
    for (;;) {
        for (const Seen& seen : step.seen)
            reportReceived(seen.bytes, seen.meaning, seen.atMs.value_or(nowMs), out);
        for (auto& report : step.reports)
            out.emplace_back(Status{std::move(report)});
        if (step.send) {
            if (holdUntilQuiet(step, nowMs, out)) return;
            dropBuffered(nowMs, out);
            write(*step.send, nowMs, out);
        }

        if (step.outcome != Outcome::Running) {
            finishJob(step.outcome, out);
            const int pause = pauseLength(step.pause, nowMs);
            if (pause > 0) {
                m_state = State::Pausing;
                armTimer(pause, out);
                return;
            }
            if (!startNextJob(nowMs, out, step)) return;
            continue;
        }

        m_state = State::Waiting;
        m_awaitBytes = std::max(0, step.replyBytes);
        m_receive = step.receive;
        if (m_receive == Receive::Reply && m_awaitBytes > 0 &&
            m_buffer.size() >= static_cast<std::size_t>(m_awaitBytes)) {
            // Enough bytes were already waiting for a step that sent nothing new.
            step = takeReply(nowMs, out);
            continue;
        }
        if (step.keepTimer && m_armedTag) return;
        if (step.timed) {
            armTimer(step.timeoutMs > 0 ? step.timeoutMs : m_timing.replyTimeoutMs, out);
            return;
        }
        stopTimer(out);
        if (m_awaitBytes > 0) return;

        // Running, yet waiting for neither bytes nor a time-out: no event could ever move it on.
        step = Step{};
        step.outcome = Outcome::Failed;
    }
}

bool LinkEngine::startNextJob(std::int64_t nowMs, Actions& out, Step& first)
{
    if (m_nextJob >= m_queue.size()) {
        finishRun(out);
        return false;
    }
    m_current = std::move(m_queue[m_nextJob++]);
    // Whatever came in before this job's first request is stray and never counts as a reply.
    if (!m_buffer.empty()) reportReceived(m_buffer, kNoiseDropped, nowMs, out);
    m_buffer.clear();
    out.emplace_back(Flush{});
    out.emplace_back(TransferStarted{});
    m_state = State::Waiting;
    m_awaitBytes = 0;
    m_receive = Receive::Reply;
    first = m_current->start();
    return true;
}

bool LinkEngine::holdUntilQuiet(Step& step, std::int64_t nowMs, Actions& out)
{
    if (!step.quietFirst) return false;
    step.quietFirst = false;
    m_settleStartMs = nowMs;
    const int left = quietLeft(nowMs);
    if (left <= 0) return false;
    dropBuffered(nowMs, out);
    step.reports.clear();
    step.seen.clear();
    m_held = std::move(step);
    m_state = State::Settling;
    armTimer(left, out);
    return true;
}

// Sends the held step once the line is quiet, or waits on.
void LinkEngine::settle(std::int64_t nowMs, Actions& out)
{
    const int left = quietLeft(nowMs);
    if (left > 0) {
        armTimer(left, out);
        return;
    }
    m_state = State::Waiting;
    advance(std::exchange(m_held, Step{}), nowMs, out);
}

// How much longer to wait for the line to fall quiet; the wait ends anyway once a whole
// exchange time-out has passed, as a line that chatters for ever cannot be waited out.
int LinkEngine::quietLeft(std::int64_t nowMs) const
{
    if (!m_lastArrivalMs) return 0;
    const std::int64_t quiet = *m_lastArrivalMs + kLineQuietMs - nowMs;
    const std::int64_t cap = m_settleStartMs + std::max(m_timing.replyTimeoutMs, 1) - nowMs;
    return static_cast<int>(std::max<std::int64_t>(0, std::min(quiet, cap)));
}

void LinkEngine::dropBuffered(std::int64_t nowMs, Actions& out)
{
    if (m_buffer.empty()) return;
    reportReceived(m_buffer, kStaleDropped, nowMs, out);
    m_buffer.clear();
}

Step LinkEngine::takeReply(std::int64_t nowMs, Actions& out)
{
    stopTimer(out);
    // The whole take is consumed: the reply is its first m_awaitBytes bytes, the rest is dropped.
    const std::span<const std::uint8_t> all(m_buffer);
    const auto taken = all.first(static_cast<std::size_t>(m_awaitBytes));
    const auto rest = all.subspan(taken.size());
    Step step = m_current->reply(taken);
    reportTaken(taken, step.taken, nowMs, out);
    if (!rest.empty()) reportReceived(rest, kNoiseDropped, nowMs, out);
    m_buffer.clear();
    return step;
}

void LinkEngine::write(const Frame& frame, std::int64_t nowMs, Actions& out)
{
    out.emplace_back(Write{frame});
    out.emplace_back(Traffic{
        TrafficEntry{nowMs, 0, Direction::Sent, {frame.begin(), frame.end()}, describeRequest(frame)}});
    m_lastSendMs = nowMs;
}

// One Traffic action per named run of bytes, in order; bytes nobody named are one "reply".
// Returns how many bytes the names covered.
std::size_t LinkEngine::reportTaken(std::span<const std::uint8_t> bytes, const std::vector<Taken>& taken,
                                    std::int64_t nowMs, Actions& out) const
{
    std::size_t at = 0;
    for (const Taken& piece : taken) {
        if (piece.bytes <= 0 || at >= bytes.size()) continue;
        const std::size_t n = std::min(static_cast<std::size_t>(piece.bytes), bytes.size() - at);
        reportReceived(bytes.subspan(at, n), piece.meaning, nowMs, out);
        at += n;
    }
    if (at == 0 && !bytes.empty()) reportReceived(bytes, "reply", nowMs, out);
    return at;
}

void LinkEngine::reportReceived(std::span<const std::uint8_t> bytes, std::string meaning, std::int64_t nowMs,
                                Actions& out)
{
    out.emplace_back(Traffic{
        TrafficEntry{nowMs, 0, Direction::Received, {bytes.begin(), bytes.end()}, std::move(meaning)}});
}

void LinkEngine::finishJob(Outcome outcome, Actions& out)
{
    stopTimer(out);
    if (outcome != Outcome::Succeeded) m_allSucceeded = false;
    const TransferSummary summary = m_current ? m_current->summary() : TransferSummary{};
    m_current.reset();
    m_awaitBytes = 0;
    m_receive = Receive::Reply;
    m_state = State::Pausing;
    out.emplace_back(TransferFinished{outcome, summary});
}

int LinkEngine::pauseLength(Pause pause, std::int64_t nowMs) const
{
    switch (pause) {
    case Pause::None:
        return 0;
    case Pause::FromNow:
        return m_timing.closingPauseMs;
    case Pause::FromLastSend: {
        if (!m_lastSendMs) return 0;
        const std::int64_t since = std::max<std::int64_t>(0, nowMs - *m_lastSendMs);
        return static_cast<int>(std::max<std::int64_t>(0, m_timing.closingPauseMs - since));
    }
    }
    return 0;
}

void LinkEngine::armTimer(int ms, Actions& out)
{
    m_armedTag = ++m_lastTag;
    out.emplace_back(ArmTimer{ms, *m_armedTag});
}

void LinkEngine::stopTimer(Actions& out)
{
    if (!m_armedTag) return;
    m_armedTag.reset();
    out.emplace_back(StopTimer{});
}

void LinkEngine::finishRun(Actions& out)
{
    m_running = false;
    m_state = State::Idle;
    m_current.reset();
    m_queue.clear();
    m_nextJob = 0;
    out.emplace_back(RunFinished{m_allSucceeded});
}

void LinkEngine::keepBounded()
{
    const std::size_t limit = std::max(kMaxBuffered, static_cast<std::size_t>(m_awaitBytes));
    if (m_buffer.size() > limit)
        m_buffer.erase(m_buffer.begin(), m_buffer.end() - static_cast<std::ptrdiff_t>(limit));
}

} // namespace quarvel::link
