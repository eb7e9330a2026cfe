#pragma once

#include "image/parameter_image.h"
#include "link/transfer.h"
#include "link/transfer_texts.h"

#include <optional>

namespace quarvel::link {

// Reads the selector's memory, addresses 0..188 (or one range of them), one read exchange per
// cell, and hands the cells over in its summary (ReadCells). Cells from 189 up are the tool's
// own and are never read. A failed read hands over the cells read so far; opened() tells
// callers whether to go on. A line that only ever answers with the request itself (a loopback plug, an
// echoing modem) would pass every check and fill the image with the request's bytes; a read
// whose every answer was its request fails.
class ReadTransfer final : public Transfer
{
public:
    // Failed exchanges a whole transfer absorbs; the one that reaches this count ends it.
    static constexpr int kFailureBudget = 5;

    // first..last lies within 0..188. failureText: what the user reads when the budget runs
    // out (a read that a programming makes fails as the programming). Every read ends with the
    // closing pause: nothing is known of a selector's readiness after it answered.
    explicit ReadTransfer(int first = 0, int last = ParameterImage::kSelectorCells - 1,
                          const char* failureText = texts::kReadError);

    Step start() override;
    Step reply(std::span<const std::uint8_t> bytes) override;
    Step timeout(std::int64_t nowMs) override;
    Step abort(AbortReason reason) override;
    TransferSummary summary() const override;

    // True only once every cell of the range has been stored by this transfer.
    bool opened() const { return m_opened; }

private:
    enum class State
    {
        Idle,
        Waiting,
        Done
    };

    Step request(std::vector<Report> reports) const;
    Step countFailure(std::vector<Report> reports);
    Step fail(std::vector<Report> reports, EndReason reason, const char* text = nullptr);
    Step settled() const;
    std::optional<ExchangeFault> fault(std::span<const std::uint8_t> bytes) const;

    ReadCells m_cells;
    int m_first;
    int m_last;
    const char* m_failureText;
    State m_state = State::Idle;
    int m_address = 0;
    int m_failures = 0;
    bool m_opened = false;
    TransferSummary m_summary;
    bool m_retrying = false; // the exchange in hand follows a failed one
};

// Stores what a read handed over into image; every other cell stays as it was.
void store(const ReadCells& cells, ParameterImage& image);

} // namespace quarvel::link
