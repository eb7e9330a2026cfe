#pragma once

// The session's own state, shared by the files that implement it.
#include "session/selector_session.h"

#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"

#include <memory>
#include <vector>

namespace quarvel::session {

struct SelectorSession::Private
{
    std::unique_ptr<sim::VirtualSelector> model;
    std::unique_ptr<sim::VirtualPort> port;

    std::vector<link::TransferSummary> summaries; // of the current operation's ended transfers
    QString lostMessage;
    bool starting = false; // inside a start call: results wait until its caller has the handle
    int queued = 0;        // signals of the current operation waiting for the event loop

    ParameterImage scratch; // a read lands here first
    ReadInto readInto = ReadInto::Document;
    int rangeProgress = 0;   // cells of the running range acknowledged, as its progress says
    ParameterImage snapshot; // what programming sends
    std::vector<sampling::Sample> samples;
};

} // namespace quarvel::session
