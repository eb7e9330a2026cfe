#include "link/read_transfer.h"

#include "link/transfer_texts.h"

namespace quarvel::link {

namespace {
constexpr int kLastAddress = ParameterImage::kSelectorCells - 1;
}

ReadTransfer::ReadTransfer(ParameterImage& image) : m_image(image) {}

Step ReadTransfer::start()
{
    if (m_state != State::Idle) return settled();
    m_state = State::Waiting;
    m_address = 0;
    m_failures = 0;
    m_opened = false;
    return request({ShowText{texts::kTryToCommunicate, StatusColour::Blue},
                    SetProgress{0, ParameterImage::kSelectorCells}});
}

Step ReadTransfer::reply(std::span<const std::uint8_t> bytes)
{
    if (m_state != State::Waiting) return settled();
    if (!accepts(bytes)) return countFailure({}); // a bad echo or checksum says nothing on screen
    m_image.setNumber(m_address, bytes[3]);
    if (m_address == kLastAddress) {
        m_state = State::Done;
        m_opened = true;
        Step done;
        done.outcome = Outcome::Succeeded;
        done.pause = Pause::FromLastSend;
        return done;
    }
    ++m_address;
    return request({});
}

Step ReadTransfer::timeout()
{
    if (m_state != State::Waiting) return settled();
    return countFailure({ShowText{texts::kTimeOut, StatusColour::Red}});
}

Step ReadTransfer::abort(AbortReason)
{
    if (m_state == State::Done) return settled();
    // Not started yet: nothing was sent, so there is nothing for the selector to settle from.
    const bool sentAny = m_state == State::Waiting;
    Step step = fail({});
    if (!sentAny) step.pause = Pause::None;
    return step;
}

Step ReadTransfer::request(std::vector<Report> reports) const
{
    reports.emplace_back(SetColour{StatusColour::Blue});
    reports.emplace_back(SetProgress{m_address, std::nullopt});
    Step step;
    step.reports = std::move(reports);
    step.send = readRequest(static_cast<std::uint8_t>(m_address));
    step.replyBytes = kFrameSize;
    return step;
}

Step ReadTransfer::countFailure(std::vector<Report> reports)
{
    // The budget covers the whole read; a good exchange never gives failures back.
    if (++m_failures >= kFailureBudget) return fail(std::move(reports));
    return request(std::move(reports));
}

Step ReadTransfer::fail(std::vector<Report> reports)
{
    m_state = State::Done;
    reports.emplace_back(ShowText{texts::kReadError, StatusColour::Red});
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

bool ReadTransfer::accepts(std::span<const std::uint8_t> bytes) const
{
    // Short replies are refused without looking past their end; extra bytes are ignored.
    return bytes.size() >= static_cast<std::size_t>(kFrameSize) && bytes[0] == command::kRead &&
           bytes[1] == m_address && hasValidChecksum(bytes);
}

} // namespace quarvel::link
