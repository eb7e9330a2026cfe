#pragma once

#include "command_line.h"

// Running a parsed command line. The file commands run straight through; the device commands
// and simulate run on the event loop of the QCoreApplication that must exist.
namespace quarvel::cli {

int runInvocation(const Invocation& invocation);

int runPorts(const Invocation& invocation);
int runShow(const Invocation& invocation);
int runDiff(const Invocation& invocation);

} // namespace quarvel::cli
