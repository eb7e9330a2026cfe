#pragma once

// The session's own state, shared by the files that implement it.
#include "session/selector_session.h"

#include "sim/qt/coin_feeder.h"
#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"

#include <memory>
#include <optional>
#include <vector>

namespace quarvel::session {

// The running programming operation: its plan of one-transfer steps and what they found.
struct ProgramRun
{
    struct Step
    {
        ProgramResult::Phase phase;
        int first;
        int last;
        ParameterImage* into; // a read's image; null for a write
    };
    ProgramRequest request;
    BackupTarget target;
    ProgramResult result;
    ParameterImage probe;    // the probe's and identity cells
    ParameterImage memory;   // the selector's memory before writing (the backup)
    ParameterImage readBack; // verify
    std::vector<Step> steps;
    std::size_t next = 0;    // the step to start
    bool memoryRead = false; // memory holds the whole selector
    bool cancelled = false;
    bool waiting = false; // a question is open
    bool asked = false;   // the questions were asked
    int progressBase = 0; // exchanges of the steps already ended
    int progressTotal = 0;
    link::TransferSummary last;

    const Step& current() const { return steps[next - 1]; }
};

struct SelectorSession::Private
{
    std::optional<ProgramRun> program;
    std::unique_ptr<sim::VirtualSelector> model;
    std::unique_ptr<sim::VirtualPort> port;
    std::unique_ptr<sim::CoinFeeder> feeder;
    int coinIntervalMs = -1;

    std::vector<link::TransferSummary> summaries; // of the current operation's ended transfers
    QString lostMessage;
    bool starting = false; // inside a start call: results wait until its caller has the handle
    int queued = 0;        // signals of the current operation waiting for the event loop

    ParameterImage scratch; // a read lands here first
    ReadInto readInto = ReadInto::Document;
    int rangeProgress = 0; // cells of the running step done, as its progress says
    std::vector<sampling::Sample> samples;
};

} // namespace quarvel::session
