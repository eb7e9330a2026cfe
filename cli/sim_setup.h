#pragma once

#include "command_line.h"

#include "sim/virtual_selector.h"

#include <QString>

namespace quarvel::cli {

// Gives a fresh virtual selector its starting memory (--memory: the file's values over the
// factory memory, as many as the file holds) and its fault plan. False with a message naming
// the file when the memory file is unusable.
bool setUpSimulator(sim::VirtualSelector& model, const SimOptions& options, QString* error);

} // namespace quarvel::cli
