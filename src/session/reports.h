#pragma once

// The values an operation reports to whoever started it: status texts and colours, progress,
// how it ended, and the line's traffic. Front ends name them here and never include the link.
#include "link/traffic.h"
#include "link/transfer.h"

namespace quarvel::session {

using link::EndReason;
using link::formatTraffic;
using link::Outcome;
using link::Report;
using link::SetColour;
using link::SetProgress;
using link::ShowText;
using link::StatusColour;
using link::TrafficEntry;

} // namespace quarvel::session
