#pragma once

#include "command_line.h"

#include <array>

// The commands quarvelctl knows, with their help texts.
namespace quarvel::cli {

struct CommandInfo
{
    CommandKind kind;
    const char* name;
    const char* arguments; // after [options] in the usage line
    const char* summary;   // one line for the command list
    const char* description;
};

extern const std::array<CommandInfo, 11> kCommands;

const CommandInfo* findCommand(const QString& name);

} // namespace quarvel::cli
