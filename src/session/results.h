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
        FileTooShort    // fewer values than the selector's cells
    };
    Kind kind = Kind::Busy;
    int number = 0; // BadChannel: the channel asked for; FileTooShort: the file's value count
    QString detail; // FileUnreadable: the reader's own text; FileTooShort: the file's path
    bool operator==(const Refusal&) const = default;
};

// The one wording of every refusal, as the user sees it.
QString refusalText(const Refusal& refusal);

// How a full read ended. The document changes only when it succeeded.
struct ReadResult
{
    link::EndReason reason = link::EndReason::None;
    QString message; // user text when it failed ("" on success)
    // A read into the result only: the document's image with cells 0..188 as read.
    std::optional<ParameterImage> image;
    std::array<int, 4> faults{}; // failed exchanges, indexed by link::ExchangeFault
    bool succeeded() const { return reason == link::EndReason::Succeeded; }
};

// One range of a programming run and how it ended.
struct RangeResult
{
    int first = 0;
    int last = 0;
    link::EndReason reason = link::EndReason::None;
    int cellsWritten = 0;        // cells of the range the selector acknowledged
    std::array<int, 4> faults{}; // failed exchanges, indexed by link::ExchangeFault
};

struct ProgramResult
{
    static int cellsInRanges();      // 184: what a full programming writes
    std::vector<RangeResult> ranges; // in the order run; a range not reached is absent
    bool succeeded() const;          // every range of the run ended Succeeded
    int cellsWritten() const;
    // "" when it succeeded; otherwise one line naming the ranges not programmed and why,
    // e.g. "cells 86-123 not programmed (5 time-outs)".
    QString failureSummary() const;
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
