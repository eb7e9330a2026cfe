#include "link/program_transfer.h"

#include "image/address_map.h"
#include "link/traffic.h"
#include "link/transfer_texts.h"

#include <array>
#include <optional>

namespace quarvel::link {

namespace {

constexpr int kLastAddress = ParameterImage::kSelectorCells - 1;

struct FixedCell
{
    int address;
    int value;
};

// Identification every programmed selector carries: four fixed bytes and the maker's name in
// the last column of channels 1..6.
constexpr std::array<FixedCell, 10> kFixedCells{{
    {address::kStd1Low, 4},
    {address::kStd1High, 52},
    {address::kThis1Low, 107},
    {address::kThis1High, 61},
    {address::lastColumn(1), 'T'},
    {address::lastColumn(2), 'E'},
    {address::lastColumn(3), 'S'},
    {address::lastColumn(4), 'M'},
    {address::lastColumn(5), 'O'},
    {address::lastColumn(6), 'R'},
}};

// Bytes 1 to 3 of a write reply are the selector's own; only command and checksum are checked
// here (what a selector is seen to echo is checked by the transfer).
std::optional<ExchangeFault> writeFault(std::span<const std::uint8_t> bytes)
{
    if (!hasValidChecksum(bytes)) return ExchangeFault::BadChecksum;
    if (bytes[0] != command::kWrite) return ExchangeFault::WrongEcho;
    return std::nullopt;
}

constexpr std::size_t kAddressByte = 1;
constexpr std::size_t kDataByte = 3;

} // namespace

void stampFixedCells(ParameterImage& image)
{
    for (const FixedCell& cell : kFixedCells)
        image.setNumber(cell.address, cell.value);
}

ProgramTransfer::ProgramTransfer(ParameterImage image, int begin, int total)
    : m_image(std::move(image)), m_begin(begin), m_total(total)
{}

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
    if (!validRange()) return fail(std::move(reports), Pause::None, EndReason::Refused);
    m_state = State::Waiting;
    m_failures = 0;
    m_retrying = false;
    m_summary = {};
    m_echoesAddress = true;
    m_echoesData = true;
    m_echoedAddress.reset();
    m_echoedData.reset();
    m_addressProven = false;
    m_dataProven = false;
    m_unproven = {};
    m_address = m_begin;
    m_request =
        writeRequest(static_cast<std::uint8_t>(m_address), quarvel::cellByte(m_image.text(m_address)));
    return send(std::move(reports));
}

Step ProgramTransfer::reply(std::span<const std::uint8_t> bytes)
{
    if (m_state != State::Waiting) return settled();
    if (const auto bad = writeFault(bytes)) {
        m_summary.add(*bad);
        Step step = countFailure({}); // a bad reply says nothing on screen
        step.taken = {{kFrameSize, faultMeaning(*bad)}};
        return step;
    }
    // Bytes 1 to 3 are the selector's own, so they never refuse it. What it has shown so far
    // (the address, the value echoed back) only tells whether this reply fits this request: one
    // that does not may answer another, and from here on no reply proves its own write. A byte
    // counts as echoed only once it matched two different request bytes: a selector that
    // answers zeros matches address 0 and every zero value by chance.
    const bool echoesAddress = bytes[kAddressByte] == m_request[kAddressByte];
    const bool echoesData = bytes[kDataByte] == m_request[kDataByte];
    const bool holdAddress = m_echoesAddress && m_addressProven;
    const bool holdData = m_echoesData && m_dataProven;
    std::vector<Taken> taken{{kFrameSize, "write acknowledged"}};
    if ((holdAddress && !echoesAddress) || (holdData && !echoesData)) {
        unproveFromHere();
        taken = {{kFrameSize, "write acknowledged, unlike the replies before: to be read back"}};
    }
    learnEcho(m_echoesAddress, m_echoedAddress, m_addressProven, echoesAddress, bytes[kAddressByte]);
    learnEcho(m_echoesData, m_echoedData, m_dataProven, echoesData, bytes[kDataByte]);
    ++m_summary.cellsDone;
    if (m_address == m_total) {
        m_state = State::Done;
        m_outcome = Outcome::Succeeded;
        m_summary.reason = EndReason::Succeeded;
        m_summary.output = m_unproven;
        Step done;
        done.send = endOfProgrammingFrame();
        done.replyBytes = 0;
        done.outcome = Outcome::Succeeded;
        done.pause = Pause::FromNow;
        done.taken = taken;
        return done;
    }
    ++m_address;
    m_request =
        writeRequest(static_cast<std::uint8_t>(m_address), quarvel::cellByte(m_image.text(m_address)));
    Step step = send({});
    m_retrying = false;
    step.taken = std::move(taken);
    return step;
}

// Whether a reply byte follows its request, learnt from this transfer's replies.
void ProgramTransfer::learnEcho(bool& echoes, std::optional<std::uint8_t>& last, bool& proven, bool matched,
                                std::uint8_t value)
{
    echoes = echoes && matched;
    if (matched && last && *last != value) proven = true;
    if (matched) last = value;
}

// A time-out or a reply unlike this selector's: a late reply may answer any later request, so
// no acknowledgement from here to the range's end proves its write.
void ProgramTransfer::unproveFromHere()
{
    if (!m_unproven.cells.empty()) return;
    for (int address = m_address; address <= m_total; ++address)
        m_unproven.cells.push_back(address);
}

Step ProgramTransfer::timeout(std::int64_t /*nowMs*/)
{
    if (m_state != State::Waiting) return settled();
    m_summary.add(ExchangeFault::TimeOut);
    unproveFromHere();
    return countFailure({ShowText{texts::kTimeOut, StatusColour::Red}});
}

Step ProgramTransfer::abort(AbortReason reason)
{
    if (m_state == State::Done) return settled();
    return fail({}, m_state == State::Waiting ? Pause::FromNow : Pause::None,
                reason == AbortReason::PortLost ? EndReason::PortLost : EndReason::Cancelled);
}

Step ProgramTransfer::send(std::vector<Report> reports) const
{
    reports.reserve(reports.size() + 2);
    reports.emplace_back(SetColour{StatusColour::Blue});
    reports.emplace_back(SetProgress{m_address, std::nullopt});
    Step step;
    step.reports = std::move(reports);
    step.send = m_request;
    step.replyBytes = kFrameSize;
    // After a failed exchange, the repeat and the write after it wait for the line to fall
    // quiet: the answer to the attempt that failed may still come.
    step.quietFirst = m_retrying;
    return step;
}

Step ProgramTransfer::countFailure(std::vector<Report> reports)
{
    // The budget covers the whole range; a good exchange never gives failures back.
    if (++m_failures >= kFailureBudget)
        return fail(std::move(reports), Pause::FromNow, EndReason::RetriesUsedUp);
    m_retrying = true;
    return send(std::move(reports));
}

// A failed range never sends the end-of-programming frame: the selector must not take a
// half-written range as complete.
Step ProgramTransfer::fail(std::vector<Report> reports, Pause pause, EndReason reason)
{
    m_state = State::Done;
    m_outcome = Outcome::Failed;
    m_summary.reason = reason;
    m_summary.text = texts::kProgramError;
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

std::vector<std::unique_ptr<Transfer>> programJobs(const ParameterImage& image)
{
    std::vector<std::unique_ptr<Transfer>> jobs;
    jobs.reserve(kProgramRanges.size());
    for (const AddressRange& range : kProgramRanges)
        jobs.push_back(std::make_unique<ProgramTransfer>(image, range.first, range.last));
    return jobs;
}

} // namespace quarvel::link
