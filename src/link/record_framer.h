#pragma once

#include "link/frame.h"
#include "sampling/measurement_record.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quarvel::link {

// Finds measurement records in what the selector sends while sampling, by the line's timing
// alone (a new burst after kLineQuietMs of silence): nothing depends on a record's type byte, whose values
// the selector defines. Records are read from the start of each burst, ten bytes at a time; a burst that is
// cut short or corrupt costs only its own bytes, because the next burst starts clean.
//
// A start-of-sampling answer that comes late (or twice) is five bytes with a valid checksum. As
// the lead of a burst it is dropped, but a record whose type byte is the start command looks
// the same for its first five bytes, so such a burst is judged at its end: a length that is a
// whole number of records is records, otherwise the lead was an answer.
class RecordFramer
{
public:
    struct Event
    {
        enum class Kind
        {
            Record,     // ten bytes whose checksums pass; see decoded for A out of range
            Corrupt,    // ten bytes whose checksums do not pass: skipped
            LateAnswer, // a start answer leading a burst (or all of a short one): dropped
            Noise,      // the short rest of a burst: dropped
        };
        Kind kind;
        std::vector<std::uint8_t> bytes;
        sampling::DecodedRecord decoded = {}; // for Record
    };

    // Bytes that arrived at nowMs (a monotonic millisecond clock).
    std::vector<Event> arrived(std::span<const std::uint8_t> bytes, std::int64_t nowMs);
    // The line has been silent since the last arrival: the burst is over.
    std::vector<Event> silence();
    // When silence() must be called for the burst in hand to be judged; nothing when what is
    // held can wait for the next arrival (a partial record is settled then, or never needed).
    std::optional<std::int64_t> decisionDueMs() const;
    // Bytes held, not yet settled.
    std::size_t held() const { return m_burst.size() - m_at; }
    void reset();

private:
    void settle(bool burstOver, std::vector<Event>& out);
    bool leadIsAnswer() const;

    std::vector<std::uint8_t> m_burst;
    std::size_t m_at = 0;     // bytes of the burst already settled
    bool m_leadKnown = false; // the burst's first five bytes have been judged
    std::optional<std::int64_t> m_lastMs;
};

} // namespace quarvel::link
