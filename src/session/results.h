#pragma once

#include "image/parameter_image.h"
#include "link/check_transfer.h"
#include "link/transfer.h"
#include "sampling/channel_reference.h"
#include "sampling/measurement_record.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace quarvel::session {

// Why the session would not start something: nothing was sent and nothing changed.
struct Refusal
{
    enum class Kind
    {
        NoPort,         // no serial port is open
        Busy,           // another device operation is running
        BadChannel,     // a coin channel outside 1..12
        FileUnreadable, // missing, unreadable, too large, not text, or empty
        FileTooShort,   // fewer values than the selector's cells
        BackupTarget    // the backup asked for cannot be written there (detail says why)
    };
    Kind kind = Kind::Busy;
    int number = 0; // BadChannel: the channel asked for; FileTooShort: the file's value count
    QString detail; // FileUnreadable: the reader's own text; FileTooShort: the file's path;
                    // BackupTarget: why
    bool operator==(const Refusal&) const = default;
};

// The one wording of every refusal, as the user sees it.
QString refusalText(const Refusal& refusal);

// A read that ended without its cells, named where and why: "Read selector error at cell 123: 5
// failed exchanges (3 time-outs, 2 bad checksums)"; the transfer's own text when it was not
// the budget (an echoing line, a lost port).
QString readFailureText(const link::TransferSummary& summary, int firstCell);

// How a full read ended. The document changes only when it succeeded.
struct ReadResult
{
    link::EndReason reason = link::EndReason::None;
    QString message; // user text when it failed ("" on success)
    // A read into the result only: the document's image with cells 0..188 as read.
    std::optional<ParameterImage> image;
    link::FaultCounts faults; // failed exchanges
    bool succeeded() const { return reason == link::EndReason::Succeeded; }
};

// One range of a programming run and how it ended.
struct RangeResult
{
    // How often cells that read back otherwise than written are written again.
    static constexpr int kWritesAgain = 3;

    int first = 0;
    int last = 0;
    link::EndReason reason = link::EndReason::None;
    int cellsWritten = 0; // cells of the range the selector acknowledged
    link::FaultCounts faults;
    std::vector<int> unwritten; // cells that read back otherwise however often written
};

// What became of the backup a programming run was asked to take first.
struct BackupOutcome
{
    enum class State
    {
        NotAsked,
        Saved,
        ReadFailed, // the selector could not be read (or the user cancelled the read)
        SaveFailed  // read, but the file could not be written
    };
    State state = State::NotAsked;
    QString path;  // the file written (Saved) or meant (SaveFailed)
    QString error; // why not
};

// A programmed cell whose byte read back is not the byte sent.
struct VerifyMismatch
{
    int cell = 0;
    QString field; // the cell's field name
    int expected = 0;
    int actual = 0;
    bool operator==(const VerifyMismatch&) const = default;
};

// How the one programming operation ended: line probe, backup, the ranges, verify.
struct ProgramResult
{
    enum class Phase
    {
        Probe,
        Backup,
        Confirm, // waiting for the user's answer before the first write
        Writing,
        Verify,
        Done
    };
    static int cellsInRanges(); // 184: what a full programming writes

    Phase endedIn = Phase::Probe;                   // how far the run got
    link::EndReason reason = link::EndReason::None; // Succeeded only when all of it did
    QString message;                                // a failure before or after the ranges
    bool exact = false;                             // a restore: the image's own fixed cells
    BackupOutcome backup;
    std::vector<RangeResult> ranges; // in the order run; a range not reached is absent
    bool verifyAsked = false;
    bool verified = false; // read back completely (mismatches say whether it matched)
    std::vector<VerifyMismatch> mismatches;
    std::vector<int> notRestored; // exact: cells no range writes that still differ
    link::FaultCounts faults;     // failed exchanges of every phase
    ParameterImage sent;          // the image sent (stamped unless exact)
    int serialNo = -1;            // the selector's serial number as read in the run; -1 if never
    ParameterImage readBack;      // verified: what the selector holds now, cells 0..188

    // The whole selector as the run read it before writing (its backup read), for the history.
    std::optional<ParameterImage> before;

    // Every phase ran to its end and verify (when asked) found every cell as sent.
    bool succeeded() const { return reason == link::EndReason::Succeeded && mismatches.empty(); }
    // Every range written and acknowledged.
    bool rangesWritten() const;
    int cellsWritten() const;
    // "" when every range was written; otherwise one line naming the ranges not programmed and
    // why, e.g. "cells 86-123 not programmed (5 time-outs)".
    QString failureSummary() const;
    // The one line the user reads, wherever they started it:
    // "Programmed 184 cells; verified; backup in /…/2026-12-07_151303_dev-ttyUSB0_sn42.cdt".
    QString summary() const;
};

struct SamplingResult
{
    int channel = 0; // 1..12
    link::EndReason reason = link::EndReason::None;
    std::vector<sampling::Sample> samples;               // the accepted samples, in order
    std::optional<sampling::ChannelReference> reference; // set when the run succeeded
    QString successText; // "Sampling ok :..." when succeeded (what the window shows in green)
    QString message;     // the run's failure text (or the lost port) when it failed
    bool succeeded() const { return reason == link::EndReason::Succeeded; }
};

} // namespace quarvel::session

namespace quarvel::session {

// How a link check ended: its figures and what they say about the line. A check that ran to
// the end succeeded whatever the line did; report.diagnosis says whether the line is healthy.
struct CheckResult
{
    link::EndReason reason = link::EndReason::None;
    QString message; // the lost port or cancel, when it did not run to the end
    link::CheckFigures figures;
    link::CheckReport report;
    bool succeeded() const { return reason == link::EndReason::Succeeded; }
    bool healthy() const { return succeeded() && report.diagnosis == link::LineDiagnosis::Healthy; }
    // The figures and the diagnosis as quarvelctl prints them and the desktop program shows them.
    QStringList lines() const;
};

} // namespace quarvel::session
