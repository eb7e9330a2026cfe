#pragma once

// The running programming operation of a Device: its plan of one-transfer steps and what they
// found. Only the Device's own files see it.
#include "session/device.h"

#include <vector>

namespace quarvel::session {

struct Device::ProgramRun
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

} // namespace quarvel::session
