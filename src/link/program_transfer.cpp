#include "link/program_transfer.h"

#include "link/transfer_texts.h"

#include <array>

namespace quarvel::link {

namespace {

constexpr int kLastAddress = ParameterImage::kSelectorCells - 1;

struct FixedCell
{
    int address;
    int value;
};

// Identification every programmed selector carries: four fixed bytes and the maker's name.
constexpr std::array<FixedCell, 10> kFixedCells{{
    {120, 4},
    {121, 52},
    {122, 107},
    {123, 61},
    {177, 'T'},
    {178, 'E'},
    {179, 'S'},
    {180, 'M'},
    {181, 'O'},
    {182, 'R'},
}};

void stampFixedCells(ParameterImage& image)
{
    for (const FixedCell& cell : kFixedCells)
        image.setNumber(cell.address, cell.value);
}

} // namespace

ProgramTransfer::ProgramTransfer(ParameterImage& image, int begin, int total)
    : m_image(image), m_begin(begin), m_total(total)
{}

std::uint8_t ProgramTransfer::cellByte(const std::string& text)
{
    // Every writer of the image keeps cells within 0..255; anything else is reduced with a true
    // modulo, which is what storing the two's-complement value in a byte gives (-1 -> 255), and
    // is consistent with large values wrapping (300 -> 44).
    const long long rounded = roundHalfEven(leadingNumber(text));
    const long long reduced = ((rounded % 256) + 256) % 256;
    return static_cast<std::uint8_t>(reduced);
}

bool ProgramTransfer::validRange() const
{
    return m_begin >= 0 && m_begin <= m_total && m_total <= kLastAddress;
}

Step ProgramTransfer::start()
{
    if (m_state != State::Idle) return settled();
    std::vector<Report> reports{ShowText{texts::kCommunication, StatusColour::Blue},
                                SetProgress{0, ParameterImage::kSelectorCells}};
    // A range the selector does not have would send bytes to addresses that mean nothing to it:
    // refuse it outright. Nothing was sent, so no settling pause is needed.
    if (!validRange()) return fail(std::move(reports), Pause::None);
    // Stamped here, not in the constructor: jobs are queued, and each range must see the image
    // as it is when that range starts.
    stampFixedCells(m_image);
    m_state = State::Waiting;
    m_failures = 0;
    m_address = m_begin;
    m_request = writeRequest(static_cast<std::uint8_t>(m_address), cellByte(m_image.text(m_address)));
    return send(std::move(reports));
}

Step ProgramTransfer::reply(std::span<const std::uint8_t> bytes)
{
    if (m_state != State::Waiting) return settled();
    // The selector's address and data bytes carry nothing we check; only echo and checksum.
    const bool accepted = bytes.size() >= static_cast<std::size_t>(kFrameSize) &&
                          bytes[0] == command::kWrite && hasValidChecksum(bytes);
    if (!accepted) return countFailure({}); // a bad echo or checksum says nothing on screen
    if (m_address == m_total) {
        m_state = State::Done;
        m_outcome = Outcome::Succeeded;
        Step done;
        done.send = endOfProgrammingFrame();
        done.replyBytes = 0;
        done.outcome = Outcome::Succeeded;
        done.pause = Pause::FromNow;
        return done;
    }
    ++m_address;
    m_request = writeRequest(static_cast<std::uint8_t>(m_address), cellByte(m_image.text(m_address)));
    return send({});
}

Step ProgramTransfer::timeout()
{
    if (m_state != State::Waiting) return settled();
    return countFailure({ShowText{texts::kTimeOut, StatusColour::Red}});
}

Step ProgramTransfer::abort(AbortReason)
{
    if (m_state == State::Done) return settled();
    return fail({}, m_state == State::Waiting ? Pause::FromNow : Pause::None);
}

Step ProgramTransfer::send(std::vector<Report> reports) const
{
    reports.emplace_back(SetColour{StatusColour::Blue});
    reports.emplace_back(SetProgress{m_address, std::nullopt});
    Step step;
    step.reports = std::move(reports);
    step.send = m_request;
    step.replyBytes = kFrameSize;
    return step;
}

Step ProgramTransfer::countFailure(std::vector<Report> reports)
{
    // The budget covers the whole range; a good exchange never gives failures back.
    if (++m_failures >= kFailureBudget) return fail(std::move(reports), Pause::FromNow);
    return send(std::move(reports));
}

// A failed range never sends the end-of-programming frame: the selector must not take a
// half-written range as complete.
Step ProgramTransfer::fail(std::vector<Report> reports, Pause pause)
{
    m_state = State::Done;
    m_outcome = Outcome::Failed;
    reports.emplace_back(ShowText{texts::kProgramError, StatusColour::Red});
    Step step;
    step.reports = std::move(reports);
    step.outcome = Outcome::Failed;
    step.pause = pause;
    return step;
}

// Events outside a running exchange change nothing; they only restate how the range ended.
Step ProgramTransfer::settled() const
{
    Step step;
    step.outcome = m_outcome == Outcome::Succeeded ? Outcome::Succeeded : Outcome::Failed;
    return step;
}

std::vector<std::unique_ptr<Transfer>> programJobs(ParameterImage& image)
{
    std::vector<std::unique_ptr<Transfer>> jobs;
    jobs.reserve(kProgramRanges.size());
    for (const AddressRange& range : kProgramRanges)
        jobs.push_back(std::make_unique<ProgramTransfer>(image, range.first, range.last));
    return jobs;
}

} // namespace quarvel::link
