#pragma once

#include "link/frame.h"
#include "sampling/measurement_record.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quarvel::link {

// Finds measurement records in what the selector sends while sampling. From the accepted start
// answer on, the stream is five-byte units: each record is two halves, each closed by its own
// checksum, and the halves may come any time apart and in any chunking. A unit identical to the
// accepted answer is a late or repeated answer, wherever it lands, and is removed. Nothing
// depends on a record's type byte, whose values the selector defines.
//
// A record is counted only while the alignment of the halves is certain. A unit whose checksum
// fails (noise, a lost or spoiled byte) makes it uncertain: the first half held and everything
// up to the next silence is not counted, and once the line has been silent the next byte starts
// a record again. Silence never drops anything while the alignment is certain; it only
// re-synchronises after damage. As a second half may follow its first after a pause, the
// silence that re-synchronises is well beyond the longest pause seen between two halves, and
// a first half then left alone beyond that pause is not counted either.
class RecordFramer
{
public:
    struct Event
    {
        enum class Kind
        {
            FirstHalf,  // a record's first half, its record still to come
            Record,     // the record completed by these bytes; see decoded for A out of range
            LateAnswer, // identical to the accepted start answer: removed
            Dropped,    // not counted: the alignment of halves was not certain
            Resumed,    // the line fell silent after damage; coinsLost says how many records it cost
        };
        Kind kind;
        std::vector<std::uint8_t> bytes;
        std::int64_t atMs = 0;                // arrival of the first of the bytes
        sampling::DecodedRecord decoded = {}; // Record
        int coinsLost = 0;                    // Resumed
    };

    // The start answer the selector gave: what its answers look like from now on.
    void begin(std::span<const std::uint8_t, kFrameSize> answer);
    // Bytes that arrived at nowMs (a monotonic millisecond clock).
    std::vector<Event> arrived(std::span<const std::uint8_t> bytes, std::int64_t nowMs);
    // The line has been silent until nowMs.
    std::vector<Event> silence(std::int64_t nowMs);
    // When silence() must be called: to resume counting after damage, or to give up a first half
    // left alone; nothing otherwise.
    std::optional<std::int64_t> resumeDueMs() const;
    // Bytes held, not yet named by an event.
    std::size_t held() const { return m_unit.size(); }
    void reset();

private:
    struct Half
    {
        std::array<std::uint8_t, kFrameSize> bytes{};
        std::int64_t atMs = 0;
        std::int64_t endMs = 0;
        bool named = false; // already reported as a FirstHalf
    };

    void settleUnit(std::vector<Event>& out);
    void loseAlignment(std::vector<Event>& out);
    void resume(std::vector<Event>& out);
    void giveUpFirstHalf(std::vector<Event>& out);
    void flushDropped(std::vector<Event>& out);
    std::int64_t resyncQuietMs() const;

    std::array<std::uint8_t, kFrameSize> m_answer{};
    std::vector<std::uint8_t> m_unit; // the unit coming in
    std::int64_t m_unitAtMs = 0;
    std::size_t m_unitSplit = 0; // bytes of the unit that came before a silence
    std::optional<Half> m_first; // a first half waiting for its second
    std::optional<std::int64_t> m_lastMs;
    bool m_lost = false;
    std::vector<std::uint8_t> m_dropped; // uncounted bytes of this call, not yet reported
    std::int64_t m_droppedAtMs = 0;
    std::size_t m_lostBytes = 0;         // since the alignment was lost
    std::int64_t m_longestHalfGapMs = 0; // between the halves of the records framed so far
    bool m_halfGapKnown = false;
    bool m_resumed = false; // aligned by a silence after damage, no record framed since
};

} // namespace quarvel::link
