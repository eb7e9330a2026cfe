#include "link/read_transfer.h"

#include "link/traffic.h"
#include "link/transfer_texts.h"

#include <algorithm>

namespace quarvel::link {

ReadTransfer::ReadTransfer(int first, int last, const char* failureText)
    : m_first(first), m_last(last), m_failureText(failureText)
{
    m_cells.first = first;
}

TransferSummary ReadTransfer::summary() const
{
    TransferSummary summary = m_summary;
    summary.output = m_cells;
    return summary;
}

void store(const ReadCells& cells, ParameterImage& image)
{
    for (std::size_t i = 0; i < cells.values.size(); ++i)
        image.setNumber(cells.first + static_cast<int>(i), cells.values[i]);
}

Step ReadTransfer::start()
{
    if (m_state != State::Idle) return settled();
    m_state = State::Waiting;
    m_address = m_first;
    m_failures = 0;
    m_retrying = false;
    m_opened = false;
    m_summary = {};
    m_cells.values.clear();
    return request({ShowText{texts::kTryToCommunicate, StatusColour::Blue},
                    SetProgress{m_first, ParameterImage::kSelectorCells}});
}

Step ReadTransfer::reply(std::span<const std::uint8_t> bytes)
{
    if (m_state != State::Waiting) return settled();
    if (const auto bad = fault(bytes)) {
        m_summary.add(*bad);
        // A bad echo or checksum says nothing on screen.
        Step step = countFailure({});
        step.taken = {{kFrameSize, faultMeaning(*bad)}};
        return step;
    }
    const Frame asked = readRequest(static_cast<std::uint8_t>(m_address));
    const bool echoed = std::equal(asked.begin(), asked.end(), bytes.begin());
    if (echoed) m_summary.add(ExchangeFault::Echoed);
    m_cells.values.push_back(bytes[3]);
    m_summary.cellsDone = m_address - m_first + 1;
    std::vector<Taken> taken{
        {kFrameSize, echoed ? faultMeaning(ExchangeFault::Echoed)
                            : "cell " + std::to_string(m_address) + " = " + std::to_string(bytes[3])}};
    if (m_address == m_last) {
        // Every answer was the request coming back: whatever is on this line, it is no selector,
        // and its "memory" is just the request's bytes.
        if (m_summary.count(ExchangeFault::Echoed) == m_last - m_first + 1) {
            Step step = fail({}, EndReason::Refused, texts::kEchoingLine);
            step.taken = taken;
            return step;
        }
        m_state = State::Done;
        m_opened = true;
        m_summary.reason = EndReason::Succeeded;
        Step done;
        done.outcome = Outcome::Succeeded;
        done.pause = Pause::FromLastSend;
        done.taken = taken;
        return done;
    }
    ++m_address;
    Step step = request({});
    m_retrying = false;
    step.taken = std::move(taken);
    return step;
}

Step ReadTransfer::timeout(std::int64_t /*nowMs*/)
{
    if (m_state != State::Waiting) return settled();
    m_summary.add(ExchangeFault::TimeOut);
    return countFailure({ShowText{texts::kTimeOut, StatusColour::Red}});
}

Step ReadTransfer::abort(AbortReason reason)
{
    if (m_state == State::Done) return settled();
    // Not started yet: nothing was sent, so there is nothing for the selector to settle from.
    const bool sentAny = m_state == State::Waiting;
    Step step = fail({}, reason == AbortReason::PortLost ? EndReason::PortLost : EndReason::Cancelled);
    if (!sentAny) step.pause = Pause::None;
    return step;
}

// After a failed exchange, the request that repeats it and the one after it wait for the line
// to fall quiet: the answer to the attempt that failed may still come.
Step ReadTransfer::request(std::vector<Report> reports) const
{
    reports.reserve(reports.size() + 2);
    reports.emplace_back(SetColour{StatusColour::Blue});
    reports.emplace_back(SetProgress{m_address, std::nullopt});
    Step step;
    step.reports = std::move(reports);
    step.send = readRequest(static_cast<std::uint8_t>(m_address));
    step.replyBytes = kFrameSize;
    step.quietFirst = m_retrying;
    return step;
}

Step ReadTransfer::countFailure(std::vector<Report> reports)
{
    // The budget covers the whole read; a good exchange never gives failures back.
    if (++m_failures >= kFailureBudget) return fail(std::move(reports), EndReason::RetriesUsedUp);
    m_retrying = true;
    return request(std::move(reports));
}

Step ReadTransfer::fail(std::vector<Report> reports, EndReason reason, const char* text)
{
    if (text == nullptr) text = m_failureText;
    m_state = State::Done;
    m_summary.reason = reason;
    m_summary.text = text;
    reports.emplace_back(ShowText{text, StatusColour::Red});
    Step step;
    step.reports = std::move(reports);
    step.outcome = Outcome::Failed;
    step.pause = Pause::FromLastSend;
    return step;
}

// Events outside a running exchange change nothing; they only restate how the read ended.
Step ReadTransfer::settled() const
{
    Step step;
    step.outcome = m_opened ? Outcome::Succeeded : Outcome::Failed;
    return step;
}

std::optional<ExchangeFault> ReadTransfer::fault(std::span<const std::uint8_t> bytes) const
{
    // Short replies are refused without looking past their end; extra bytes are ignored.
    if (!hasValidChecksum(bytes)) return ExchangeFault::BadChecksum;
    if (bytes[0] != command::kRead || bytes[1] != m_address) return ExchangeFault::WrongEcho;
    return std::nullopt;
}

} // namespace quarvel::link
