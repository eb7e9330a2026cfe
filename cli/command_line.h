#pragma once

#include "sim/coin_types.h"
#include "sim/fault_plan.h"
#include "sim/station_swaps.h"
#include "sim/virtual_selector.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// quarvelctl's arguments: which command, with what. Parsing only; nothing is opened or read.
namespace quarvel::cli {

enum class CommandKind
{
    Ports,
    Read,
    Program,
    Restore,
    Show,
    Diff,
    Simulate,
    Teach,
    Gang,
    Check,
    History
};

// The port name that selects the in-process virtual selector.
inline constexpr char kSimPort[] = "sim";

// How a virtual selector starts: from the factory memory or a coin data file, with or without
// 19200-baud pacing, and the faults it is to commit.
struct SimOptions
{
    QString memoryFile;
    bool wireTime = false;
    sim::FaultPlan faults;
    std::uint8_t recordType = sim::kDefaultRecordType; // of a regular coin's measurement record
    std::optional<sim::SwapPlan> swaps;                // simulate: a station's operator swaps selectors
    int coinIntervalMs = -1;                           // negative: a hand's pace
    bool given = false;                                // any of them was on the command line
};

struct Invocation
{
    CommandKind command = CommandKind::Ports;
    QString port;
    QString outputFile;
    QStringList files;
    bool json = false;
    bool quiet = false;
    bool verify = false; // program, gang, teach --program: read back afterwards (their default)
    bool pty = false;
    bool trace = false; // device commands: every frame on the line to stderr
    bool force = false; // program: send cells that are not numbers the selector can hold; restore: another
                        // selector's backup
    QString backup;     // program, teach --program: back the selector up here first (file or folder)
    int channel = 0;    // teach: 1..12
    QString fromFile;   // teach: the image to start from (empty: the main default image)
    int halfGapMs = 0;  // simulate: between a record's halves
    sim::VirtualSelector::RepeatedAnswer repeatAnswer = {}; // simulate: the start answer sent again
    bool programAfter = false;                              // teach: program the three ranges afterwards
    bool calibrate = false; // teach: keep each channel's SigmaA, as after Open & Program
    int coinType = -1;      // teach --port sim: index into the coin table (-1: the channel's own)
    SimOptions sim;
    QStringList ports; // gang: every --port, in order
    QString backupDir; // gang: read each selector into a file here before programming
    QString logFile;   // gang: one CSV row per selector
    bool wait = false; // gang: station mode
    int count = 50;    // check: read exchanges
    // The history: device commands record to it unless noHistory; history asks it.
    bool noHistory = false;
    QString historyUrl; // a line's server (postgresql://host/database); empty: the user's own file
    QString station;    // gang: the station's name in the history; history: ask for it
    int serialNo = -1;  // history: ask for one selector
    QDateTime since;    // history: ask for records from then on
    QString coinFile;   // history: ask for a coin data file
    bool failedOnly = false;
    bool csv = false;
    QString diffId; // history: what this attempt changed

    bool usesSimPort() const { return port == QLatin1String(kSimPort); }
};

// Either an invocation to run, or a text to print and an exit code: help and version go to
// stdout with 0, usage errors to stderr with 1.
struct ParseResult
{
    std::optional<Invocation> invocation;
    int exitCode = 0;
    QString text;
};

// arguments as main() gets them, the program name first.
ParseResult parseCommandLine(const QStringList& arguments);

} // namespace quarvel::cli
