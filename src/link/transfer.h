#pragma once

#include "link/frame.h"
#include "sampling/measurement_record.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace quarvel::link {

// Colour class of a status text: blue progress, red warning or error, green success.
enum class StatusColour
{
    Blue,
    Red,
    Green
};

// What a transfer tells its observer (the status window, a console), applied in order.
struct ShowText
{
    std::string text;
    StatusColour colour;
    bool operator==(const ShowText&) const = default;
};
struct SetColour
{
    StatusColour colour;
    bool operator==(const SetColour&) const = default;
};
struct SetProgress
{
    int value;
    std::optional<int> maximum; // unchanged when empty
    bool operator==(const SetProgress&) const = default;
};
using Report = std::variant<ShowText, SetColour, SetProgress>;

enum class Outcome
{
    Running,
    Succeeded,
    Failed
};

// Why a transfer ended, for exit codes, summaries and logs (besides its user text).
enum class EndReason
{
    None, // still running
    Succeeded,
    RetriesUsedUp,   // the failure budget of exchanges ran out
    HandshakeFailed, // the sampling start handshake got no good answer
    Cancelled,       // the user asked
    PortLost,        // the port went away
    Refused          // could not start (bad range, busy, no port)
};

// What went wrong in one failed exchange.
enum class ExchangeFault
{
    TimeOut,
    BadChecksum,
    WrongEcho, // right checksum, but not the command or address asked
    Echoed     // the reply is the request itself, byte for byte (a loopback line)
};

// Failed exchanges, counted by what went wrong.
class FaultCounts
{
public:
    FaultCounts() = default;
    // Indexed by ExchangeFault, as tables of cases write them.
    FaultCounts(const std::array<int, 4>& counts) : m_counts(counts) {} // NOLINT(google-explicit-constructor)

    int count(ExchangeFault fault) const { return m_counts[index(fault)]; }
    void add(ExchangeFault fault, int n = 1) { m_counts[index(fault)] += n; }
    int total() const { return m_counts[0] + m_counts[1] + m_counts[2] + m_counts[3]; }
    // The same counts without those of one kind.
    FaultCounts without(ExchangeFault fault) const
    {
        FaultCounts rest = *this;
        rest.m_counts[index(fault)] = 0;
        return rest;
    }
    FaultCounts& operator+=(const FaultCounts& other)
    {
        for (std::size_t i = 0; i < m_counts.size(); ++i)
            m_counts[i] += other.m_counts[i];
        return *this;
    }
    bool operator==(const FaultCounts&) const = default;

private:
    static std::size_t index(ExchangeFault fault) { return static_cast<std::size_t>(fault); }
    std::array<int, 4> m_counts{};
};

// The cells a read stored, in order from its first address: all of its range when it
// succeeded, those read before it failed otherwise.
struct ReadCells
{
    int first = 0;
    std::vector<std::uint8_t> values;
    bool operator==(const ReadCells&) const = default;
};

// What a link check saw: the round trip of every good answer and every failed exchange.
struct CheckFigures
{
    int asked = 0;                          // exchanges sent
    std::vector<std::int64_t> roundTripsUs; // good answers, request sent to reply taken
    std::vector<std::int64_t> lateUs;       // answers after the time-out, request sent to reply taken
    FaultCounts faults;
    std::vector<std::uint8_t> values; // the cell's value in each good answer
    bool operator==(const CheckFigures&) const = default;
    int count(ExchangeFault fault) const { return faults.count(fault); }
    int answered() const { return static_cast<int>(roundTripsUs.size()); }
};

// The cells of a written range whose acknowledgement proves nothing: to be read back.
struct UnprovenCells
{
    std::vector<int> cells;
    bool operator==(const UnprovenCells&) const = default;
};

// What a transfer made, handed over by value when it ends: the transfer runs on whichever
// thread serves the line, and its owner must not share anything with it meanwhile. A sampling
// run's samples are there only when it succeeded.
using TransferOutput =
    std::variant<std::monostate, ReadCells, std::vector<sampling::Sample>, CheckFigures, UnprovenCells>;

// How a finished transfer went, for its owner: the session's results, exit codes, summaries.
struct TransferSummary
{
    EndReason reason = EndReason::None;
    int cellsDone = 0;  // cells read or written and acknowledged; coins accepted when sampling
    FaultCounts faults; // failed exchanges
    std::string text;   // the failure as the user was told it ("" when it succeeded)
    TransferOutput output;
    bool operator==(const TransferSummary&) const = default;

    int count(ExchangeFault fault) const { return faults.count(fault); }
    void add(ExchangeFault fault) { faults.add(fault); }
};

// How the bytes a step waits for are taken from the line.
enum class Receive
{
    // Request and reply: reply() gets exactly replyBytes bytes; whatever else arrived with
    // them is dropped, so a late or doubled answer cannot be taken for the next exchange.
    Reply,
    // Unrequested data, framed by the line's timing: every arrival goes at once to arrived()
    // with its time. The transfer keeps what it has not settled and names, in Step::seen, the
    // bytes it has settled.
    Stream
};

// A run of received bytes and what they were, for the traffic log.
struct Taken
{
    int bytes = 0;
    std::string meaning; // "cell 17 = 44", "bad checksum", "noise dropped"
    bool operator==(const Taken&) const = default;
};

// Bytes a Stream transfer has settled, with what they were, for the traffic log.
struct Seen
{
    std::vector<std::uint8_t> bytes;
    std::string meaning;
    std::optional<std::int64_t> atMs = {}; // when the first of them arrived, if before this step
    bool operator==(const Seen&) const = default;
};

// Where the closing pause after a finished transfer is measured from.
enum class Pause
{
    None,
    FromLastSend,
    FromNow
};

// The next thing the driver must do, returned by every transfer event.
struct Step
{
    std::vector<Report> reports; // apply first, in order
    std::optional<Frame> send;   // then send this frame...
    int replyBytes = 0;          // ...and wait for this many bytes (0: no reply awaited;
                                 // Stream: any number above 0 waits for arrivals)
    bool timed = true;           // the wait ends with the exchange time-out
    int timeoutMs = 0;           // a timed wait of this length instead (0: the exchange time-out)
    bool keepTimer = false;      // Stream: the wait goes on under the time-out already running
    // Let the line fall quiet before sending: after a failed exchange the answer to an earlier
    // request may still be on its way, and it must not be taken for this one's.
    bool quietFirst = false;
    Outcome outcome = Outcome::Running; // finished after the send (if any)
    Pause pause = Pause::None;          // closing pause once finished
    Receive receive = Receive::Reply;   // how the awaited bytes are taken
    // Answering reply(): the bytes handed over, in order, with their meaning (none named: one
    // "reply").
    std::vector<Taken> taken;
    std::vector<Seen> seen; // Stream: bytes settled by this step
};

// A device operation as a pure state machine. The driver calls start() once, then reply() or
// arrived() with the bytes from the line as the step's Receive mode says, or timeout() when the
// wait ran out, until a step's outcome is not Running. No clock, no I/O: time comes in.
class Transfer
{
public:
    virtual ~Transfer() = default;
    virtual Step start() = 0;
    virtual Step reply(std::span<const std::uint8_t> bytes) = 0;
    // Receive::Stream: bytes as they arrive, at nowMs on the driver's monotonic clock.
    virtual Step arrived(std::span<const std::uint8_t> bytes, std::int64_t nowMs)
    {
        static_cast<void>(nowMs);
        return reply(bytes);
    }
    virtual Step timeout(std::int64_t nowMs) = 0;
    // The transfer cannot go on: the user cancelled it, or the port went away. Returns the
    // transfer's failed step (its own failure text). The step may carry one closing frame,
    // which the driver sends, awaiting nothing, when the user cancelled; after a lost port
    // nothing more is sent.
    enum class AbortReason
    {
        UserCancel,
        PortLost
    };
    virtual Step abort(AbortReason reason) = 0;
    // Valid once a step's outcome was not Running.
    virtual TransferSummary summary() const { return {}; }
};

} // namespace quarvel::link
