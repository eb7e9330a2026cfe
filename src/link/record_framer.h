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

// Why coins a selector measured were not counted, for the words the user reads.
enum class NotCountedWhy
{
    Noise,       // bytes spoiled or lost on the line
    HalfMissing, // a record half came without its other half
    OutOfStep,   // a half was missing and the rhythm could not tell which
    LikeAnswer,  // a record could not be told from the start answer
    AOutOfRange, // its A value does not fit (high byte 128 or more)
};

// Finds measurement records in what the selector sends while sampling, on evidence only:
// - Byte alignment comes from checksums: five bytes that pass are a unit; after damage the
//   framer slides byte by byte until units pass again, and a unit that fails is never part of a
//   record.
// - Which unit is a first half comes from the count of units since the start answer (or a
//   pause no half gap spans; damaged whole units count too), held to the run's rhythm: units
//   whose pause matches this selector's half gap form a group, and a group's pairs are its
//   records. The half gap is learnt from the first records (the first pair counts only once the
//   next group agrees); a group that holds an odd unit is trimmed only where damage beside it
//   shows which end lost its partner, and where the count is unknown nothing counts until a
//   pause longer than any half gap.
// - A start answer is any valid start reply (bytes 1-3 any) inside the handshake window, no
//   more of them than start frames went out; one standing alone there is set aside, one that
//   may be a half makes its group uncounted and the count unknown.
// Whatever is not counted is said at once, as a number of coins to insert again.
class RecordFramer
{
public:
    // Longest pause between a record's halves that a selector is taken to make.
    static constexpr std::int64_t kMaxHalfGapMs = 1500;

    struct Event
    {
        enum class Kind
        {
            Record,     // counted: its ten bytes (decoded.check says whether A fits)
            Answer,     // a late or repeated start answer, set aside
            Dropped,    // bytes not counted, for the trace
            NotCounted, // coins more that were not counted, and why
        };
        Kind kind;
        std::vector<std::uint8_t> bytes;
        std::int64_t atMs = 0;                // arrival of the first of the bytes
        sampling::DecodedRecord decoded = {}; // Record
        int coins = 0;                        // NotCounted
        NotCountedWhy why = NotCountedWhy::Noise;
    };

    // The start answer arrived; a start reply until answersUntilMs may still be one, as many
    // as the start frames sent besides the one answered.
    void begin(std::int64_t answersUntilMs, int moreAnswers);
    // Bytes that arrived at nowMs (a monotonic millisecond clock).
    std::vector<Event> arrived(std::span<const std::uint8_t> bytes, std::int64_t nowMs);
    // The line has been silent until nowMs.
    std::vector<Event> silence(std::int64_t nowMs);
    // When silence() has something to settle; nothing otherwise.
    std::optional<std::int64_t> dueMs() const;
    // Bytes and units held, not yet named by an event.
    std::size_t held() const;
    void reset();

private:
    struct Unit
    {
        std::array<std::uint8_t, kFrameSize> bytes{};
        std::int64_t atMs = 0;
        std::int64_t endMs = 0;
        bool likeAnswer = false;
    };
    // Whether the next unit is a first (0) or a second half (1), counted from the start answer
    // or from the last pause that can only fall between records, while no unit was lost
    // without trace: a damaged whole unit still counts.
    struct Gap // the half gaps seen in counted records, or the one of a first pair on trial
    {
        std::int64_t least = 0;
        std::int64_t most = 0;
        bool fits(std::int64_t gapMs) const;
    };

    void settle(std::int64_t nowMs, std::vector<Event>& out);
    void take(std::uint8_t byte, std::int64_t atMs, std::vector<Event>& out);
    void drop(std::size_t count);
    void endDamage(std::vector<Event>& out);
    void loseCount(std::vector<Event>& out);
    void addUnit(const Unit& unit, std::vector<Event>& out);
    bool linked(const Unit& before, const Unit& unit) const;
    std::optional<Gap> knownGap() const;
    std::int64_t waitForGroupMs() const;
    void closeGroup(bool damagedAfter, bool suspectEnd, std::vector<Event>& out,
                    std::optional<std::int64_t> gapAfter = std::nullopt);
    enum class Count
    {
        Stands,  // as counted
        Broken,  // a half went missing without trace: a record begins after the group
        Unknown, // no one can tell
    };
    Count settleGroup(bool damagedAfter, bool suspectEnd, std::vector<Event>& out);
    void count(std::span<const Unit> units, std::vector<Event>& out);
    void uncounted(std::span<const Unit> units, NotCountedWhy why, std::vector<Event>& out);
    void lose(int halves, NotCountedWhy why);
    void tell(std::vector<Event>& out);

    std::int64_t m_answersUntilMs = 0;
    int m_moreAnswers = 0;             // answers that may still come
    int m_answersExpected = 0;         // as begin() said
    std::vector<std::uint8_t> m_bytes; // not yet a unit
    std::vector<std::int64_t> m_byteMs;
    std::optional<std::int64_t> m_lastMs;
    std::vector<std::uint8_t> m_damage; // the current run of dropped bytes
    std::int64_t m_damageAtMs = 0;
    std::optional<int> m_parity = 0;
    std::vector<Unit> m_group; // linked by half gaps, not yet settled
    bool m_damagedBeforeGroup = false;
    bool m_groupCounted = true;       // the count of units stood when the group began
    bool m_suspectGroupStart = false; // the group's first unit may have passed by chance
    std::optional<Gap> m_halfGap;     // learnt from counted records
    std::vector<Unit> m_trial;        // the first pair, until the next group agrees with it
    // Since the last counted record: halves (or their worth of bytes) not counted, and the
    // coins the user was told of.
    int m_lostHalves = 0;
    int m_coinsSaid = 0;
    NotCountedWhy m_lostWhy = NotCountedWhy::Noise;
};

} // namespace quarvel::link
