#pragma once

// The options each quarvelctl command takes: their texts once, which command gets which, and how
// each is read into the invocation.
#include "command_table.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <cstdint>
#include <vector>

namespace quarvel::cli {

bool takesPort(CommandKind kind);
// The virtual selector's options: for the commands that can run on --port sim, and simulate.
bool takesSimOptions(CommandKind kind);

// The coins --coin names, as one list for messages and help.
QString coinNames();

// One option on a parsed command line, as its rule sees it.
struct OptionInput
{
    const QCommandLineParser& parser;
    const QCommandLineOption& option;
    const CommandInfo& command;

    bool isSet() const { return parser.isSet(option); }
    QString value() const { return parser.value(option); }
    QStringList values() const { return parser.values(option); }
};

// An option, the commands that take it, and its rule: either a flag of the invocation that says
// whether it was given, or a function that reads it into the invocation and returns what is wrong
// with it (empty when nothing is). Rows are read in the table's order for every command that takes
// the option, given or not, so a rule may rely on what the rows above it have read; the first
// wrong option in that order is the one reported.
struct OptionRule
{
    QCommandLineOption option;
    std::uint32_t commands; // a bit per CommandKind
    QString (*read)(const OptionInput& input, Invocation& invocation) = nullptr;
    bool Invocation::*flag = nullptr;

    bool takenBy(CommandKind kind) const { return (commands >> static_cast<unsigned>(kind) & 1U) != 0; }
};

// The table, in the order the help lists the options.
const std::vector<OptionRule>& optionRules();

const QCommandLineOption& helpOption();
// The help option, every option kind takes and its positional arguments, in the help's order.
void addOptions(QCommandLineParser& parser, CommandKind kind);
// The names of kind's positional arguments, in order.
QStringList positionalNames(CommandKind kind);

} // namespace quarvel::cli
