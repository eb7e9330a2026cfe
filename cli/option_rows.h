#pragma once

// What the option tables of quarvelctl's commands share: which commands a row is for, and how a
// row's option is written.
#include "command_options.h"

#include <initializer_list>

namespace quarvel::cli::options {

constexpr std::uint32_t bit(CommandKind kind)
{
    return 1U << static_cast<unsigned>(kind);
}

constexpr std::uint32_t kRead = bit(CommandKind::Read);
constexpr std::uint32_t kProgram = bit(CommandKind::Program);
constexpr std::uint32_t kRestore = bit(CommandKind::Restore);
constexpr std::uint32_t kTeach = bit(CommandKind::Teach);
constexpr std::uint32_t kGang = bit(CommandKind::Gang);
constexpr std::uint32_t kCheck = bit(CommandKind::Check);
constexpr std::uint32_t kOnePort = kRead | kProgram | kRestore | kTeach | kCheck;
constexpr std::uint32_t kPort = kOnePort | kGang;
constexpr std::uint32_t kSim = kOnePort | bit(CommandKind::Simulate);
constexpr std::uint32_t kHistory = bit(CommandKind::History);
// The commands whose attempts the history records (a line check changes nothing).
constexpr std::uint32_t kRecorded = kRead | kProgram | kRestore | kTeach | kGang;

QCommandLineOption option(std::initializer_list<const char*> names, const char* description,
                          const char* valueName = nullptr);

// The rows of each kind of command, in the order the table lists them.
std::vector<OptionRule> deviceOptionRules();    // ports, files, teaching, stations, programming
std::vector<OptionRule> simulatorOptionRules(); // the virtual selector's
std::vector<OptionRule> historyOptionRules();   // recording and asking the history

} // namespace quarvel::cli::options
