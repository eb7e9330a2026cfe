#pragma once

#include "link/frame.h"
#include "link/traffic.h"
#include "link/transfer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace quarvel::link {

// The two timing constants of the line, in milliseconds.
struct LinkTiming
{
    int replyTimeoutMs = kReplyTimeoutMs; // one exchange, counted from its send
    int closingPauseMs = 300;             // after every finished transfer, before the next may start
    bool operator==(const LinkTiming&) const = default;
};

// Runs a queue of transfers one at a time over a byte line it never touches itself.
// The driver feeds it events with the current time of a monotonic millisecond clock and
// carries out the actions each call returns, in order. One timer serves both the exchange
// time-out and the closing pause; every arming carries a fresh tag, and a fired tag that is
// not the one armed last is ignored, so a time-out that raced a reply does no harm.
//
// A transfer step that stays Running must say what it waits for: replyBytes > 0 waits for
// that many bytes (ended early by the time-out when timed, for ever when not); replyBytes == 0
// with timed waits for the time-out alone. A Running step that waits for nothing could never
// move on, so the engine ends that transfer as failed.
//
// Receive::Reply hands the transfer exactly replyBytes bytes and drops the rest of the take.
// Bytes waiting when a request is sent are never its reply. Receive::Stream hands every arrival
// to the transfer at once with its time; the transfer frames and keeps what it has not settled.
//
// A step marked quietFirst sends only once the line has been silent for kLineQuietMs (or the
// exchange time-out has passed, on a line that never falls quiet), and drops what comes
// meanwhile: the late answer to an earlier attempt must not be taken for the next request's,
// or every exchange after it would read the answer of the one before.
//
// Every frame written and every run of bytes taken or thrown away is also reported as a
// Traffic action (stamped with the time of the call), with its meaning for a trace.
class LinkEngine
{
public:
    using Timing = LinkTiming;
    using TimerTag = std::uint64_t;

    // Discard every byte the device holds unread: the engine's own buffer is already emptied.
    struct Flush
    {
        bool operator==(const Flush&) const = default;
    };
    struct Write
    {
        Frame frame;
        bool operator==(const Write&) const = default;
    };
    // (Re)start the single-shot timer; report its firing with this tag.
    struct ArmTimer
    {
        int ms;
        TimerTag tag;
        bool operator==(const ArmTimer&) const = default;
    };
    struct StopTimer
    {
        bool operator==(const StopTimer&) const = default;
    };
    struct Status
    {
        Report report;
        bool operator==(const Status&) const = default;
    };
    struct TransferStarted
    {
        bool operator==(const TransferStarted&) const = default;
    };
    struct TransferFinished
    {
        Outcome outcome;
        TransferSummary summary = {}; // the transfer's own account of why it ended
        bool operator==(const TransferFinished&) const = default;
    };
    struct Traffic
    {
        TrafficEntry entry;
        bool operator==(const Traffic&) const = default;
    };
    struct RunFinished
    {
        bool allSucceeded;
        bool operator==(const RunFinished&) const = default;
    };
    using Action = std::variant<Flush, Write, ArmTimer, StopTimer, Status, TransferStarted, TransferFinished,
                                RunFinished, Traffic>;
    using Actions = std::vector<Action>;
    using Jobs = std::vector<std::unique_ptr<Transfer>>;

    explicit LinkEngine(Timing timing = {});

    // Takes effect from the next exchange or pause.
    void setTiming(Timing timing);
    Timing timing() const { return m_timing; }

    // True from an accepted run() until its RunFinished.
    bool isRunning() const { return m_running; }

    // Starts the jobs in order; every job runs whatever the outcome of the one before.
    // Refused (nullopt, jobs discarded) while a run is active. An empty list finishes at once.
    std::optional<Actions> run(Jobs jobs, std::int64_t nowMs);

    // One frame that expects no reply (end of sampling, the fixed sampling-output command).
    // Refused (nullopt) while a run is active: it would land in the middle of an exchange.
    std::optional<Actions> sendFrame(const Frame& frame, std::int64_t nowMs);

    // Bytes read from the line. Outside a wait they stay buffered until the next job's flush.
    Actions bytesArrived(std::span<const std::uint8_t> bytes, std::int64_t nowMs);

    Actions timerFired(TimerTag tag, std::int64_t nowMs);

    // Both reasons drop the jobs not yet started. UserCancel ends the running transfer (sending
    // its closing frame, if its abort step has one) and finishes the run after the closing
    // pause; PortLost ends it without a send and finishes the run at once. The run counts as
    // succeeded only if every job had already run and succeeded.
    Actions abort(Transfer::AbortReason reason, std::int64_t nowMs);

    // Bytes received but not yet taken (for tests and diagnostics).
    std::size_t bufferedBytes() const { return m_buffer.size(); }

private:
    enum class State
    {
        Idle,
        Settling, // holding a quietFirst step until the line falls quiet
        Waiting,
        Pausing
    };

    void advance(Step step, std::int64_t nowMs, Actions& out);
    bool holdUntilQuiet(Step& step, std::int64_t nowMs, Actions& out);
    void settle(std::int64_t nowMs, Actions& out);
    int quietLeft(std::int64_t nowMs) const;
    void dropBuffered(std::int64_t nowMs, Actions& out);
    bool startNextJob(std::int64_t nowMs, Actions& out, Step& first);
    Step takeReply(std::int64_t nowMs, Actions& out);
    void write(const Frame& frame, std::int64_t nowMs, Actions& out);
    std::size_t reportTaken(std::span<const std::uint8_t> bytes, const std::vector<Taken>& taken,
                            std::int64_t nowMs, Actions& out) const;
    static void reportReceived(std::span<const std::uint8_t> bytes, std::string meaning, std::int64_t nowMs,
                               Actions& out);
    void finishJob(Outcome outcome, Actions& out);
    int pauseLength(Pause pause, std::int64_t nowMs) const;
    void armTimer(int ms, Actions& out);
    void stopTimer(Actions& out);
    void finishRun(Actions& out);
    void keepBounded();

    Timing m_timing;
    bool m_running = false;
    State m_state = State::Idle;
    Jobs m_queue; // jobs not yet started, in order
    std::size_t m_nextJob = 0;
    std::unique_ptr<Transfer> m_current;
    bool m_allSucceeded = true;

    std::vector<std::uint8_t> m_buffer;
    int m_awaitBytes = 0; // while Waiting: reply length awaited, 0 for a time-out only
    Receive m_receive = Receive::Reply;

    TimerTag m_lastTag = 0;
    std::optional<TimerTag> m_armedTag;
    std::optional<std::int64_t> m_lastSendMs;
    std::optional<std::int64_t> m_lastArrivalMs;
    Step m_held; // while Settling: the step to send once the line is quiet
    std::int64_t m_settleStartMs = 0;
};

} // namespace quarvel::link
