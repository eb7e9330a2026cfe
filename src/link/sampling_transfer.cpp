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

bool isHandshakeAnswer(std::span<const std::uint8_t> half)
{
    return half.size() >= kFrameSize && half[0] == command::kStartSampling && hasValidChecksum(half);
}

} // namespace

SamplingTransfer::SamplingTransfer(std::vector<sampling::Sample>& samples) : m_samples(samples) {}

Step SamplingTransfer::start()
{
    if (m_state != State::Idle) return settled();
    m_samples.clear();
    m_summary = {};
    m_attempts = 0;
    m_state = State::Handshake;
    return handshake({ShowText{texts::kInsertCoins, StatusColour::Blue}, SetProgress{0, kCoins}});
}

Step SamplingTransfer::reply(std::span<const std::uint8_t> bytes)
{
    if (m_state == State::Collecting) return collect(bytes);
    if (m_state != State::Handshake) return settled();
    // Only the echo and the checksum matter; the selector's other bytes carry nothing for us.
    const bool goodSum = hasValidChecksum(bytes);
    if (!goodSum || bytes[0] != command::kStartSampling) {
        const ExchangeFault fault = goodSum ? ExchangeFault::WrongEcho : ExchangeFault::BadChecksum;
        Step step = handshakeFailed({}, fault);
        // A bad answer and anything after it is stale for the next attempt.
        const int n = static_cast<int>(std::min<std::size_t>(bytes.size(), kFrameSize));
        step.taken = {{n, faultMeaning(fault)}, {static_cast<int>(bytes.size()) - n, kNoiseDropped}};
        return step;
    }
    m_state = State::Collecting;
    // A coin inserted at once may already be behind the answer: keep those bytes.
    return awaitRecords({}, {{kFrameSize, "sampling started"}});
}

Step SamplingTransfer::timeout()
{
    // The collection has no time limit; a time-out can only belong to the handshake.
    if (m_state == State::Collecting) return awaitRecords({}, {});
    if (m_state != State::Handshake) return settled();
    return handshakeFailed({ShowText{texts::kSamplingTimeOut, StatusColour::Red}}, ExchangeFault::TimeOut);
}

Step SamplingTransfer::abort(AbortReason reason)
{
    if (m_state == State::Idle || m_state == State::Done) return settled();
    if (reason == AbortReason::PortLost) return finish({}, EndReason::PortLost, false, Pause::None);
    return finish({ShowText{texts::kUserTerminate, StatusColour::Red}}, EndReason::Cancelled, true,
                  Pause::FromNow);
}

Step SamplingTransfer::handshake(std::vector<Report> reports) const
{
    Step step;
    step.reports = std::move(reports);
    step.send = startSamplingFrame();
    step.replyBytes = kFrameSize;
    step.receive = Receive::Stream;
    return step;
}

Step SamplingTransfer::handshakeFailed(std::vector<Report> reports, ExchangeFault fault)
{
    m_summary.add(fault);
    if (++m_attempts < kHandshakeAttempts) return handshake(std::move(reports));
    reports.emplace_back(ShowText{texts::kCoinSelectorError, StatusColour::Red});
    return finish(std::move(reports), EndReason::HandshakeFailed, true, Pause::FromNow);
}

Step SamplingTransfer::collect(std::span<const std::uint8_t> bytes)
{
    constexpr auto kSize = static_cast<std::size_t>(sampling::kRecordSize);
    std::vector<Taken> taken;
    std::size_t used = 0; // bytes already named in taken
    // What is dropped before a record (or for want of one) is a corrupted record when its first
    // half checks out, and noise otherwise.
    const auto dropUpTo = [&](std::size_t at) {
        if (at <= used) return;
        const bool halfGood = hasValidChecksum(bytes.subspan(used));
        taken.push_back({static_cast<int>(at - used),
                         halfGood ? faultMeaning(ExchangeFault::BadChecksum) : kNoiseDropped});
        m_summary.add(ExchangeFault::BadChecksum);
        used = at;
    };
    for (std::size_t at = 0; at + kFrameSize <= bytes.size(); ++at) {
        // A handshake answered twice (late, or once per attempt) leaves a second answer in the
        // stream. It is five bytes with a good checksum, so read as half a record it would
        // shift every record after it by five bytes for good.
        if (isHandshakeAnswer(bytes.subspan(at, kFrameSize))) {
            dropUpTo(at);
            taken.push_back({static_cast<int>(kFrameSize), kLateHandshakeAnswer});
            used = at + kFrameSize;
            at = used - 1;
            continue;
        }
        if (at + kSize > bytes.size()) continue;
        const auto decoded = sampling::decodeRecord(bytes.subspan(at).first<sampling::kRecordSize>());
        if (decoded.check == sampling::RecordCheck::BadChecksum ||
            decoded.check == sampling::RecordCheck::UnknownType ||
            isHandshakeAnswer(bytes.subspan(at + kFrameSize, kFrameSize)))
            continue;
        dropUpTo(at);

        std::vector<Report> reports;
        // The checksums passed: the selector really did flag this coin's speed.
        if (!decoded.speedText.empty()) reports.emplace_back(ShowText{decoded.speedText, StatusColour::Red});
        if (decoded.check == sampling::RecordCheck::AOutOfRange) {
            taken.push_back({sampling::kRecordSize, "record rejected: A out of range"});
            return awaitRecords(std::move(reports), std::move(taken));
        }
        m_samples.push_back(decoded.sample);
        m_summary.cellsDone = static_cast<int>(m_samples.size());
        taken.push_back({sampling::kRecordSize, recordMeaning(decoded.sample)});
        reports.emplace_back(SetProgress{m_summary.cellsDone, kCoins});
        if (m_summary.cellsDone < kCoins) return awaitRecords(std::move(reports), std::move(taken));
        Step done = finish(std::move(reports), EndReason::Succeeded, true, Pause::FromNow);
        done.taken = std::move(taken);
        return done;
    }
    // No record in sight: keep the last nine bytes, which may be the start of one.
    if (bytes.size() > used + kSize - 1) dropUpTo(bytes.size() - (kSize - 1));
    return awaitRecords({}, std::move(taken));
}

Step SamplingTransfer::awaitRecords(std::vector<Report> reports, std::vector<Taken> taken) const
{
    Step step;
    step.reports = std::move(reports);
    step.replyBytes = sampling::kRecordSize;
    step.timed = false;
    step.receive = Receive::Stream;
    step.taken = std::move(taken);
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
