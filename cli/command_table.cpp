#include "command_table.h"

namespace quarvel::cli {

const std::array<CommandInfo, 11> kCommands{{
    {CommandKind::Ports, "ports", "", "list the serial ports found",
     "Lists the serial ports found: name, description, manufacturer, USB vendor:product and serial\n"
     "number. Pseudo-terminals are not listed; give their path to --port all the same."},
    {CommandKind::Read, "read", "--port PORT", "read the selector's memory",
     "Reads the selector's memory, addresses 0 to 188. With -o, writes a coin data file holding the\n"
     "image the desktop program has after starting without a recent file and reading: its default\n"
     "image, then cells 0..188 from the selector. Without -o, prints the settings as 'show' does.\n"
     "No file is written unless the whole read succeeds. A port that sends back every request as\n"
     "it is (a loopback plug, a modem) is not taken for a selector: the read fails."},
    {CommandKind::Program, "program", "--port PORT FILE", "program a coin data file into the selector",
     "Programs FILE into the selector as Open & Program does: cells 0-84, 86-123 and 128-188, each\n"
     "range closed by the end-of-programming frame and every range attempted whatever happened to\n"
     "the one before. Cells 120-123 and 177-182 receive the fixed identification values. FILE must\n"
     "hold at least 189 values, and every programmed cell must be empty or a number 0..255 (a\n"
     "fraction such as 12.5 is rounded); otherwise nothing is sent unless --force is given.\n"
     "Cell 0 and 1 are read first: a port that echoes what it is sent is refused, nothing written.\n"
     "Then the whole selector is read back (five failed exchanges allowed per range): 'verified',\n"
     "or each programmed cell that differs is listed (exit code 3). --no-verify skips the read-back;\n"
     "--verify, once needed for it, is still accepted.\n"
     "--backup FILE|DIR first reads the selector and saves its memory as a coin data file (in DIR\n"
     "named by date, time, port and serial number); nothing is programmed when that fails (exit\n"
     "code 2 when the read failed, 1 when the file could not be saved). The backup is never FILE\n"
     "itself, and an existing file is replaced only with --force. Off by default, so scripts keep\n"
     "their timing. 'program' stamps the identification cells, so a selector programmed with a\n"
     "backup is not that backup: to put a backup back as it was, use 'restore'."},
    {CommandKind::Restore, "restore", "--port PORT BACKUP", "put a backup back into the selector exactly",
     "Restores BACKUP (a coin data file that --backup wrote, or one the desktop program keeps in its\n"
     "backups folder) as the desktop program's Restore does: cells 0-84, 86-123 and 128-188 with\n"
     "the backup's own values (identification cells included), then the whole selector read back\n"
     "and compared. Cells 85 and 124-127 are never written; when the selector's differ from the\n"
     "backup's they are named. Before writing, cells 85 and 124-127 are read: a backup taken from\n"
     "another selector is refused, naming both serial numbers, unless --force is given.\n"
     "--backup FILE|DIR first saves the selector's memory, as for 'program'.\n"
     "Exit code 0 when restored (\"Restored exactly\", or the identity cells named), 1 for bad\n"
     "arguments, a bad file or another selector's backup (nothing sent), 2 for a device failure,\n"
     "3 when cells read back differ from the backup, 130 when interrupted."},
    {CommandKind::Show, "show", "FILE", "print a coin data file as named settings",
     "Prints a coin data file as the settings form shows it: output mode, inhibit level, signal time,\n"
     "timer scales, prices and factors of both banks, and per coin its value, tolerances, disable\n"
     "switch, separator and references. Cells whose text is not a whole number 0..255 are listed\n"
     "after that, with the byte programming would send for them."},
    {CommandKind::Diff, "diff", "FILE_A FILE_B", "compare two coin data files",
     "Lists the cells whose texts differ, with field names and decoded values.\n"
     "Exit code 0 when the files hold the same cells, 1 when they differ, 2 when a file cannot be\n"
     "read or the arguments are wrong (as cmp and diff do)."},
    {CommandKind::Simulate, "simulate", "", "run the virtual selector",
     "Runs the virtual selector until SIGINT, SIGTERM or SIGHUP arrives, then prints a one-line\n"
     "summary of the frames it received and exits with 0.\n"
     "With --pty it serves a pseudo-terminal: the first line on standard output is its path, to be\n"
     "given to --port; the summary follows at the end. Standard input takes coin insertions, one\n"
     "command a line, typed on a terminal or sent through a pipe:\n"
     "  coin 3              one coin of the coin table's type 3 (the coin of channel 3)\n"
     "  coin 3 x12          twelve of them, at the pace of a hand feeding the slot\n"
     "  coin 5 irregular    one coin of irregular speed\n"
     "  coin 3 x12 every 30ms  twelve at a coin feeder's pace (every 0ms: back to back)\n"
     "A coin waits until the selector samples. On a terminal Ctrl-D ends serving as well; from a\n"
     "pipe or a file it serves on after the input ends, until a signal. In a script:\n"
     "  quarvelctl simulate --pty > sim.txt &\n"
     "  sim=$!; sleep 1; port=$(head -n 1 sim.txt)\n"
     "  quarvelctl read --port \"$port\" -o out.cdt\n"
     "  kill $sim; wait $sim    # the summary is now the last line of sim.txt\n"
     "Without --pty the line is standard input and output themselves (bytes in, bytes out; e.g.\n"
     "behind socat): it serves until standard input ends, and the summary goes to standard error."
#ifndef Q_OS_UNIX
     "\nNeeds a POSIX system: on Windows it exits with 1. Use --port sim with read or program there."
#endif
    },
    {CommandKind::Teach, "teach", "--port PORT --channel N", "teach the selector one coin channel",
     "Teaches channel N (1..12) as the sampling window's Insert does: sends the start of sampling,\n"
     "takes twelve coins of the channel's kind, reduces them to reference values and stores them in\n"
     "the image, with the 'Sampling ok :' line on standard output. The image comes from --from FILE\n"
     "(default: the built-in default image); the selector is not read, so the first frame on the\n"
     "line is the start of sampling. -o writes the taught image, --program then programs it as\n"
     "'program' does, refusing cells the selector cannot hold unless --force is given; with\n"
     "--backup FILE|DIR the selector is backed up first, as 'program' does.\n"
     "--calibrate keeps each channel's A window (SigmaA), as after Open & Program.\n"
     "Ctrl-C cancels: the end of sampling is sent, nothing is written, exit code 130. With --port\n"
     "sim the virtual selector is fed twelve coins of the channel's kind, or of --coin NAME."},
    {CommandKind::Gang, "gang", "--port PORT --port PORT ... FILE", "program several selectors at once",
     "Programs FILE into the selectors on all the given ports at once, as 'program' does on each,\n"
     "and reads each back (--no-verify skips that). One line per port as it finishes:\n"
     "  PASS /dev/ttyUSB0  sn42  184 cells, verified, 3.42 s\n"
     "  FAIL /dev/ttyUSB1  sn17  cells 86-123 not programmed (5 time-outs)\n"
     "(sn42: the selector's own serial number; sn unknown when it could not be read), then a\n"
     "summary that counts selectors, one that failed and is tried again on its port (the same\n"
     "serial number) once, as its last attempt went:\n"
     "  3 selectors: 2 passed, 1 failed; 4 attempts\n"
     "A port that fails, hangs or is pulled never holds up the others.\n"
     "Exit code 0 when every port passed, 2 when any failed, 1 for bad arguments or a bad file\n"
     "(nothing is then sent); FILE is checked as 'program' checks it, --force included.\n"
     "--backup DIR first reads each selector into a coin data file in DIR, named by date, time,\n"
     "port and serial number; a selector that cannot be read is not programmed.\n"
     "--wait is station mode: after a port's result it waits for the next selector on that port\n"
     "(one read of one cell every 500 ms), programs it, and goes on until Ctrl-C, which ends each\n"
     "running transfer in order (a programming run cut short is reported as partly programmed)\n"
     "and prints the summary;\n"
     "Ctrl-C being its way out, the exit code then says how the selectors went (0 or 2), not 130.\n"
     "A selector counts as taken off after three polls without answer and a second unheard; one\n"
     "that answers then is read first, and the selector just done (same cells 85 and 124-127, same\n"
     "memory) is never programmed again. A pulled adapter is reported (LOST line, log row, summary;\n"
     "exit code 2) and the station goes on when it is back, found by its USB serial number.\n"
     "--log FILE.csv appends one row per selector (a header first when the file is new): time, port,\n"
     "adapter, serial number, result, cells programmed, verified, time-outs, bad checksums,\n"
     "duration in ms, backup file, coin data file (both with absolute paths), its SHA-256 and the\n"
     "selector's serial number (selector_serial_number; serial_number is the adapter's); each\n"
     "row is written whole and flushed at once. A lost port is a row of its own (result PORT LOST).\n"
     "Without a terminal, each port's status goes to stderr one line per change."},
    {CommandKind::Check, "check", "--port PORT", "measure the health of the line to the selector",
     "Sends --count reads of cell 0 (default 50), none retried, and prints the round trip (min,\n"
     "median, p99, max) against the line time of one exchange, the failures by kind and a\n"
     "diagnosis: line healthy; replies in bursts on a USB adapter's 16 ms latency timer ticks; a\n"
     "slow line (a steady delay, or replies later than the time-out, which are waited out and\n"
     "never taken for the next request's); no answer; a port that echoes what is sent; an\n"
     "unreliable line. Exit code 0 when the line is healthy, 2 otherwise."},
    {CommandKind::History, "history", "", "list what was done to selectors",
     "Lists the operations recorded on selectors, newest first: read, program, restore, teach and\n"
     "station attempts, each with its time, port, station, the selector's serial number, result,\n"
     "completion, coin data file and what it changed. read, program, restore, teach and gang record\n"
     "each attempt in history.sqlite in the user's data folder (~/.local/share/quarvel), or with\n"
     "--history postgresql://host/database in a line's server, spooled to that file while the\n"
     "server cannot be reached and sent when it can; --no-history records nothing. The password\n"
     "comes from PGPASSWORD or ~/.pgpass, never from the command line.\n"
     "--serial, --since, --file, --failed and --station narrow the list; --csv and --json print\n"
     "it for other programs. --diff ID lists the settings that attempt changed, as 'diff' does (ID:\n"
     "the first characters of an id the list shows). Exit code 0, 1 for bad arguments or a\n"
     "history that cannot be read, 2 when --diff names no attempt or one whose memory is not known."},
}};

const CommandInfo* findCommand(const QString& name)
{
    for (const auto& info : kCommands) {
        if (name == QLatin1String(info.name)) return &info;
    }
    return nullptr;
}

} // namespace quarvel::cli
