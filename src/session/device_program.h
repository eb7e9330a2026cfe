#pragma once

// The running programming operation of a Device: the plan that decides each step, and what the
// link's transfer in hand needs. Only the Device's own files see it.
#include "session/device.h"
#include "session/program_plan.h"

namespace quarvel::session {

struct Device::ProgramRun
{
    explicit ProgramRun(ProgramPlan plan) : plan(std::move(plan)) {}

    ProgramPlan plan;
    link::TransferSummary last; // the running transfer's account of how it ended
    bool started = false;       // the operation's one transferStarted() was said
    ProgramResult result;       // the plan's, once it has finished
    OperationFacts facts;       // what the history needs besides the result
};

} // namespace quarvel::session
