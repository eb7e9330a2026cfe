#pragma once

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "image/parameter_image.h"
#include "link/transfer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quarvel::link {

// Writes the image cells begin..total (inclusive) into the selector, one write exchange per
// cell, and closes the range with the end-of-programming frame. The image is sent as it is:
// whoever programs stamps the fixed identification cells into it first (stampFixedCells).
// An acknowledgement only hints that a write arrived: the cells whose replies may have answered
// another request come in the summary's output, for the owner to read back once the range is
// closed (a selector may apply writes only at the end frame).
class ProgramTransfer final : public Transfer
{
public:
    // Failed exchanges a whole transfer absorbs; the one that reaches this count ends it.
    static constexpr int kFailureBudget = 5;

    // Sends its own copy of the image: the line's thread reads it while the owner edits its
    // own. A range outside 0..188, or with begin > total, is refused when started: nothing is
    // sent and the transfer fails.
    ProgramTransfer(ParameterImage image, int begin, int total);

    Step start() override;
    Step reply(std::span<const std::uint8_t> bytes) override;
    Step timeout(std::int64_t nowMs) override;
    Step abort(AbortReason reason) override;
    TransferSummary summary() const override { return m_summary; }

private:
    enum class State
    {
        Idle,
        Waiting,
        Done
    };

    bool validRange() const;
    Step send(std::vector<Report> reports) const;
    Step countFailure(std::vector<Report> reports);
    Step fail(std::vector<Report> reports, Pause pause, EndReason reason);
    Step settled() const;

    ParameterImage m_image;
    int m_begin;
    int m_total;
    State m_state = State::Idle;
    Outcome m_outcome = Outcome::Running;
    int m_address = 0;
    int m_failures = 0;
    Frame m_request{}; // kept so a retry repeats the exact bytes
    TransferSummary m_summary;
    bool m_retrying = false; // the exchange in hand follows a failed one
    void learnEcho(bool& echoes, std::optional<std::uint8_t>& last, bool& proven, bool matched,
                   std::uint8_t value);
    void unproveFromHere();

    // What this selector's write replies have echoed so far, learnt within the transfer: the
    // layout of bytes 1 to 3 is the device's.
    bool m_echoesAddress = true;
    bool m_echoesData = true;
    std::optional<std::uint8_t> m_echoedAddress; // the value last seen echoed
    std::optional<std::uint8_t> m_echoedData;
    bool m_addressProven = false; // two different values were echoed
    bool m_dataProven = false;
    UnprovenCells m_unproven;
};

// Stamps the identification every programmed selector carries (cells 120..123 and the name in
// 177..182) into the image. Programming does it to the image it sends; a caller programming
// from a copy stamps its own document with this too.
void stampFixedCells(ParameterImage& image);

// The ranges a full programming writes, named once with the address map.
using AddressRange = address::CellRange;
inline constexpr const auto& kProgramRanges = address::kProgrammingRanges;

// The whole image as the three ranges the selector accepts: 0..84, 86..123 and 128..188
// (85 and 124..127 are never written). The driver runs each job whatever the previous outcome.
std::vector<std::unique_ptr<Transfer>> programJobs(const ParameterImage& image);

} // namespace quarvel::link
