#include "link/sampling_transfer.h"

#include "link/traffic.h"
#include "link/transfer_texts.h"

#include <algorithm>
#include <string>
#include <utility>

namespace quarvel::link {

namespace {

std::string recordMeaning(const sampling::Sample& s)
{
    return std::string(s.irregular ? "record (irregular speed): " : "record: ") + "A=" + std::to_string(s.a) +
           " X=" + std::to_string(s.x) + " Y=" + std::to_string(s.y) + " dH=" + std::to_string(s.dh);
}

// What bytes the run did not count were, for the trace.
const char* notCountedMeaning(NotCountedWhy why)
{
    switch (why) {
    case NotCountedWhy::Noise:
        return "not counted: damaged";
    case NotCountedWhy::HalfMissing:
        return "not counted: half a record";
    case NotCountedWhy::OutOfStep:
        return "not counted: halves out of step";
    case NotCountedWhy::LikeAnswer:
        return "not counted: a start answer or a record half";
    case NotCountedWhy::AOutOfRange:
        break;
    }
    return "not counted";
}

} // namespace

TransferSummary SamplingTransfer::summary() const
{
    TransferSummary summary = m_summary;
    summary.output = m_samples;
    return summary;
}

Step SamplingTransfer::start()
{
    if (m_state != State::Idle) return settled();
    m_samples.clear();
    m_summary = {};
    m_attempts = 0;
    m_answer.clear();
    m_framer.reset();
    m_state = State::Handshake;
    return handshake({ShowText{texts::kInsertCoins, StatusColour::Blue}, SetProgress{0, kCoins}}, false);
}

// Every byte of a sampling run comes through arrived(); reply() is there for the interface.
Step SamplingTransfer::reply(std::span<const std::uint8_t> bytes)
{
    return arrived(bytes, m_nowMs);
}

Step SamplingTransfer::arrived(std::span<const std::uint8_t> bytes, std::int64_t nowMs)
{
    m_nowMs = nowMs;
    if (m_state == State::Collecting) return collect(m_framer.arrived(bytes, nowMs), nowMs);
    if (m_state != State::Handshake) return settled();
    m_answer.insert(m_answer.end(), bytes.begin(), bytes.end());
    if (m_answer.size() < static_cast<std::size_t>(kFrameSize)) {
        Step wait = handshake({}, false);
        wait.send.reset();
        wait.keepTimer = true;
        return wait;
    }
    const auto answer = std::span<const std::uint8_t>(m_answer).first<kFrameSize>();
    const std::vector<std::uint8_t> rest(m_answer.begin() + kFrameSize, m_answer.end());
    m_answer.clear();
    // Only the echo and the checksum matter; the selector's other bytes carry nothing for us.
    const bool goodSum = hasValidChecksum(answer);
    if (!goodSum || answer[0] != command::kStartSampling) {
        const ExchangeFault fault = goodSum ? ExchangeFault::WrongEcho : ExchangeFault::BadChecksum;
        Step step = handshakeFailed({}, fault);
        step.seen.push_back({{answer.begin(), answer.end()}, faultMeaning(fault)});
        if (!rest.empty()) step.seen.push_back({rest, kNoiseDropped});
        return step;
    }
    m_state = State::Collecting;
    // An answer to a start frame sent a moment before this one may still come.
    m_framer.begin(nowMs + kReplyTimeoutMs, m_attempts);
    // A coin inserted at once may already be behind the answer.
    std::vector<RecordFramer::Event> events;
    if (!rest.empty()) events = m_framer.arrived(rest, nowMs);
    Step step = collect(std::move(events), nowMs);
    step.seen.insert(step.seen.begin(), Seen{{answer.begin(), answer.end()}, "sampling started"});
    return step;
}

Step SamplingTransfer::timeout(std::int64_t nowMs)
{
    // The collection has no time limit; its timer only marks a silence that settles what the
    // framer holds.
    m_nowMs = nowMs;
    if (m_state == State::Collecting) return collect(m_framer.silence(nowMs), nowMs);
    if (m_state != State::Handshake) return settled();
    const ShowText timedOut{texts::kSamplingTimeOut, StatusColour::Red};
    if (m_attempts + 1 < kHandshakeAttempts) {
        // Any start answer means the selector samples, the late answer to this attempt as well
        // as the next one's: the retry goes out at once and what has come of an answer is kept.
        // Waiting for the line to fall quiet would throw away the coins that follow an answer.
        m_summary.add(ExchangeFault::TimeOut);
        ++m_attempts;
        return handshake({timedOut}, false);
    }
    // Part of an answer came, too little and too late: name it in the trace and let it go.
    std::vector<std::uint8_t> partial = std::exchange(m_answer, {});
    Step step = handshakeFailed({timedOut}, ExchangeFault::TimeOut);
    if (!partial.empty()) step.seen.insert(step.seen.begin(), Seen{std::move(partial), kNoiseDropped});
    return step;
}

Step SamplingTransfer::abort(AbortReason reason)
{
    if (m_state == State::Idle || m_state == State::Done) return settled();
    if (reason == AbortReason::PortLost) return finish({}, EndReason::PortLost, false, Pause::None);
    return finish({ShowText{texts::kUserTerminate, StatusColour::Red}}, EndReason::Cancelled, true,
                  Pause::FromNow);
}

Step SamplingTransfer::handshake(std::vector<Report> reports, bool quietFirst) const
{
    Step step;
    step.reports = std::move(reports);
    step.send = startSamplingFrame();
    step.replyBytes = kFrameSize;
    step.receive = Receive::Stream;
    step.quietFirst = quietFirst;
    return step;
}

Step SamplingTransfer::handshakeFailed(std::vector<Report> reports, ExchangeFault fault)
{
    m_summary.add(fault);
    // The answer to the failed attempt may still be on its way: let it pass before asking again.
    if (++m_attempts < kHandshakeAttempts) return handshake(std::move(reports), true);
    reports.emplace_back(ShowText{texts::kCoinSelectorError, StatusColour::Red});
    return finish(std::move(reports), EndReason::HandshakeFailed, true, Pause::FromNow);
}

Step SamplingTransfer::collect(std::vector<RecordFramer::Event> events, std::int64_t nowMs)
{
    using Kind = RecordFramer::Event::Kind;
    std::vector<Report> reports;
    std::vector<Seen> seen;
    for (auto& event : events) {
        switch (event.kind) {
        case Kind::Answer:
            seen.push_back({std::move(event.bytes), kLateHandshakeAnswer, event.atMs});
            continue;
        case Kind::Dropped:
            // Spoiled or lost bytes are failed exchanges of the run; halves set aside are not.
            if (event.why == NotCountedWhy::Noise) m_summary.add(ExchangeFault::BadChecksum);
            seen.push_back({std::move(event.bytes), notCountedMeaning(event.why), event.atMs});
            continue;
        case Kind::NotCounted:
            reports.emplace_back(ShowText{texts::coinsNotCounted(event.coins, event.why), StatusColour::Red});
            continue;
        case Kind::Record:
            break;
        }
        const auto& decoded = event.decoded;
        // The checksums passed: the selector really did flag this coin's speed.
        if (!decoded.speedText.empty()) reports.emplace_back(ShowText{decoded.speedText, StatusColour::Red});
        if (decoded.check == sampling::RecordCheck::AOutOfRange) {
            seen.push_back({std::move(event.bytes), "record rejected: A out of range", event.atMs});
            continue;
        }
        m_samples.push_back(decoded.sample);
        m_summary.cellsDone = static_cast<int>(m_samples.size());
        seen.push_back({std::move(event.bytes), recordMeaning(decoded.sample), event.atMs});
        reports.emplace_back(SetProgress{m_summary.cellsDone, kCoins});
        if (m_summary.cellsDone == kCoins) {
            Step done = finish(std::move(reports), EndReason::Succeeded, true, Pause::FromNow);
            done.seen = std::move(seen);
            return done;
        }
    }
    return awaitRecords(std::move(reports), std::move(seen), nowMs);
}

Step SamplingTransfer::awaitRecords(std::vector<Report> reports, std::vector<Seen> seen,
                                    std::int64_t nowMs) const
{
    Step step;
    step.reports = std::move(reports);
    step.seen = std::move(seen);
    step.replyBytes = sampling::kRecordSize;
    step.receive = Receive::Stream;
    // Untimed, unless a silence is to settle what the framer holds.
    const auto due = m_framer.dueMs();
    step.timed = due.has_value();
    if (due) step.timeoutMs = static_cast<int>(std::max<std::int64_t>(1, *due - nowMs));
    return step;
}

Step SamplingTransfer::finish(std::vector<Report> reports, EndReason reason, bool endFrame, Pause pause)
{
    m_state = State::Done;
    m_summary.reason = reason;
    // A run that did not finish leaves nothing behind: no partial series reaches the owner.
    // The summary still says how far it got.
    if (reason != EndReason::Succeeded) m_samples.clear();
    // The failure's text is the last red one the run showed.
    if (reason != EndReason::Succeeded && !reports.empty())
        if (const auto* shown = std::get_if<ShowText>(&reports.back())) m_summary.text = shown->text;
    Step step;
    step.reports = std::move(reports);
    if (endFrame) step.send = endSamplingFrame();
    step.outcome = reason == EndReason::Succeeded ? Outcome::Succeeded : Outcome::Failed;
    step.pause = pause;
    return step;
}

// Events after the end change nothing; they only restate how the run ended.
Step SamplingTransfer::settled() const
{
    Step step;
    step.outcome = m_summary.reason == EndReason::Succeeded ? Outcome::Succeeded : Outcome::Failed;
    return step;
}

} // namespace quarvel::link
