#pragma once

#include "link/frame.h"
#include "sim/coin_types.h"
#include "sim/fault_plan.h"
#include "sim/station_swaps.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace quarvel {
class ParameterImage;
}

namespace quarvel::sim {

// Bytes the selector puts on the line, delayMs after the call that produced them.
struct Emission
{
    std::int64_t delayMs = 0;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Emission&) const = default;
};

// A well-formed frame (its checksum right) as the selector took it in.
struct ReceivedFrame
{
    std::int64_t timeMs;
    link::Frame frame;
};

enum class FrameKind
{
    Read,
    Write,
    EndOfProgramming,
    StartSampling,
    EndSampling,
    Fixed,
    Other
};

// What the selector puts in bytes 1 to 3 of a write reply: the device's own choice, which the
// host may learn but not demand.
enum class WriteEcho
{
    Request,     // the request itself: address, 85, value
    AddressOnly, // the address, then two zero bytes
    Nothing,     // three zero bytes
    Constant,    // three bytes of its own, the same every time
    Masked,      // the request with the value as the cell keeps it (some bits cleared)
    OldValue,    // the request with the value the cell held before
    Partly,      // the request for cells below 40, three zero bytes from there on
};

struct FrameCounts
{
    int reads = 0;
    int writes = 0;
    int endOfProgramming = 0;
    int samplingStarts = 0;
    int samplingEnds = 0;
    int fixed = 0;
    int other = 0;             // right checksum, but no command the selector knows
    int lost = 0;              // requests a fault kept from the selector (in no other count)
    std::int64_t badBytes = 0; // bytes thrown away while finding frame boundaries again
    std::int64_t replies = 0;  // replies the selector meant to send, faults included
    int coins = 0;             // measurement records sent
    bool operator==(const FrameCounts&) const = default;
};

// The coin selector as a pure model: 189 memory cells, the request frames it answers, the
// measurement records it sends while sampling, and a fault plan that makes it misbehave on
// purpose. Time comes in as a parameter; nothing here reads a clock or touches I/O.
//
// Framing: bytes are gathered into five-byte frames. A window whose checksum is wrong loses
// its first byte and framing is tried again one byte later, so one corrupt frame costs at most
// its own bytes. A pause longer than frameGapMs() between bytes also drops a partial frame, as
// the selector's receiver would after a broken transmission; the host's retry then starts clean.
// Frames with a right checksum are never answered unless they are one of the known requests.
class VirtualSelector
{
public:
    static constexpr int kCellCount = 189;
    static constexpr std::int64_t kDefaultFrameGapMs = 50;
    using Memory = std::array<std::uint8_t, kCellCount>;

    explicit VirtualSelector(std::uint32_t sampleSeed = 1);

    // A plausible memory straight from the factory: twelve enabled channels with references
    // that match coinTypes(), default settings and the calibration mark.
    static Memory factoryMemory();
    static FrameKind classify(const link::Frame& frame);

    // Cells 0..188 from the image: each cell's number, rounded half to even, modulo 256.
    void loadImage(const ParameterImage& image);
    // Cells from bytes, as many as given (at most 189); the rest keep their values.
    void loadMemory(std::span<const std::uint8_t> bytes);
    const Memory& memory() const { return m_memory; }
    std::uint8_t cell(int address) const;
    void setCell(int address, std::uint8_t value);
    // The memory as an image: cells 0..188 set, the rest empty.
    ParameterImage image() const;

    // The plan applies from the next reply on; its reply numbers count from there.
    void setFaultPlan(const FaultPlan& plan);
    const FaultPlan& faultPlan() const { return m_plan; }

    // Time the selector takes before it answers, added to every reply (default 0).
    void setReplyDelayMs(std::int64_t ms) { m_replyDelayMs = ms; }
    std::int64_t replyDelayMs() const { return m_replyDelayMs; }
    // Byte 2 of a read reply, which carries nothing the host may rely on (default 0).
    void setReadReplyByte2(std::uint8_t value) { m_readReplyByte2 = value; }
    void setWriteEcho(WriteEcho echo) { m_writeEcho = echo; }
    WriteEcho writeEcho() const { return m_writeEcho; }
    void setFrameGapMs(std::int64_t ms) { m_frameGapMs = ms; }
    std::int64_t frameGapMs() const { return m_frameGapMs; }

    // Bytes from the host, in any chunking, arriving at nowMs. Returns what the selector sends
    // back, in order.
    std::vector<Emission> receive(std::span<const std::uint8_t> bytes, std::int64_t nowMs);

    bool isSampling() const { return m_sampling; }
    // Gone: unplugged, by the plan or by disappear(). Nothing is answered or sent any more.
    bool isGone() const { return m_gone; }
    void disappear() { m_gone = true; }
    // Another selector on the same line (a station's next unit): factory memory with a serial
    // number and second calibration set of its own, answering.
    void plugInNew();
    // The selector taken off put back as it was.
    void putBack() { m_gone = false; }
    // An operator swaps selectors on this port as plan says, seen at each frame that arrives.
    void setStationSwaps(const SwapPlan& plan) { m_swaps.emplace(plan); }
    const std::optional<StationSwaps>& stationSwaps() const { return m_swaps; }

    // A coin inserted while sampling: its measurement record, sent at once through the fault
    // plan (which counts it as a reply, so it may drop, spoil, delay or split it). Nothing when
    // the selector is not sampling, is gone, or the coin type index (0..11) is out of range.
    std::optional<std::vector<Emission>> insertCoin(const CoinSample& sample);
    // A coin of one of coinTypes(), its record of recordType() (irregularRecordType() when irregular) with
    // the spare byte 5 set to spareByte().
    std::optional<std::vector<Emission>> insertCoin(int coinType, bool irregular = false);

    // What this selector puts in the bytes of a record that the host must not interpret: the
    // type of a regular coin's record, and byte 5, which carries nothing.
    void setRecordType(std::uint8_t type) { m_recordType = type; }
    std::uint8_t recordType() const { return m_recordType; }
    void setIrregularRecordType(std::uint8_t type) { m_irregularRecordType = type; }
    std::uint8_t irregularRecordType() const { return m_irregularRecordType; }
    void setSpareByte(std::uint8_t value) { m_spareByte = value; }
    std::uint8_t spareByte() const { return m_spareByte; }

    // Timing of the records as a real line varies it: the second half of every record goes out
    // this long after the first (0: together).
    void setHalfGapMs(std::int64_t ms) { m_halfGapMs = std::max<std::int64_t>(0, ms); }
    std::int64_t halfGapMs() const { return m_halfGapMs; }
    // The start answer sent again, unasked, in each sampling run: before the record of coin
    // `coin` (1 for the first), or between its halves. Its bytes are those of the last answer.
    struct RepeatedAnswer
    {
        int coin = 0; // 0: never
        bool betweenHalves = false;
        bool operator==(const RepeatedAnswer&) const = default;
    };
    void setRepeatedAnswer(RepeatedAnswer at) { m_repeatedAnswer = at; }
    RepeatedAnswer repeatedAnswer() const { return m_repeatedAnswer; }

    const std::vector<ReceivedFrame>& log() const { return m_log; }
    void clearLog() { m_log.clear(); }
    const FrameCounts& counts() const { return m_counts; }
    // One line, for a console: "frames 192: reads 189, writes 0, ...".
    std::string summary() const;

private:
    void handleFrame(const link::Frame& frame, std::int64_t nowMs, std::vector<Emission>& out);
    void count(FrameKind kind);
    void operatorActs(FrameKind kind, std::int64_t nowMs);
    void answer(const link::Frame& frame, FrameKind kind, const std::vector<Fault>& faults,
                std::vector<Emission>& out);
    // The faults of the next reply the selector would send.
    std::vector<Fault> nextFaults();
    // Sends a reply through its faults; false when the selector vanished at it.
    bool sendReply(std::span<const std::uint8_t> reply, const std::vector<Fault>& faults,
                   std::vector<Emission>& out);
    std::vector<std::uint8_t> noise(std::int64_t count);
    link::Frame writeReply(const link::Frame& request) const;
    void splitHalves(std::vector<Emission>& out, std::size_t from, std::span<const std::uint8_t> first,
                     bool answerBetween);

    Memory m_memory{};
    FaultPlan m_plan;
    std::mt19937 m_faultRng;
    std::mt19937 m_noiseRng;
    std::mt19937 m_sampleRng;
    std::int64_t m_replyIndex = 0;                   // replies since the plan was set
    std::optional<std::vector<std::uint8_t>> m_held; // a merged reply waiting for the next
    std::int64_t m_replyDelayMs = 0;
    std::int64_t m_frameGapMs = kDefaultFrameGapMs;
    std::vector<std::uint8_t> m_pending;
    std::int64_t m_lastByteMs = 0;
    std::uint8_t m_recordType = kDefaultRecordType;
    std::uint8_t m_irregularRecordType = kDefaultIrregularRecordType;
    std::uint8_t m_spareByte = 0;
    WriteEcho m_writeEcho = WriteEcho::Request;
    std::uint8_t m_readReplyByte2 = 0;
    std::int64_t m_halfGapMs = 0;
    RepeatedAnswer m_repeatedAnswer;
    int m_coinsThisRun = 0;
    std::vector<std::uint8_t> m_startAnswer;
    bool m_sampling = false;
    bool m_gone = false;
    int m_newUnits = 0;
    std::optional<StationSwaps> m_swaps;
    std::vector<ReceivedFrame> m_log;
    FrameCounts m_counts;
};

} // namespace quarvel::sim
