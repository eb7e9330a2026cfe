#pragma once

// The options each quarvelctl command takes: their texts once, and which command gets which.
#include "command_table.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace quarvel::cli {

bool takesPort(CommandKind kind);
// The virtual selector's options: for the commands that can run on --port sim, and simulate.
bool takesSimOptions(CommandKind kind);

struct Options
{
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")};
    QCommandLineOption port{{QStringLiteral("p"), QStringLiteral("port")},
                            QStringLiteral("Serial port: COM3, /dev/ttyUSB0, /dev/pts/7, or sim."),
                            QStringLiteral("PORT")};
    QCommandLineOption quiet{{QStringLiteral("q"), QStringLiteral("quiet")},
                             QStringLiteral("Print only errors.")};
    QCommandLineOption output{
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Write the image to this coin data file (- for standard output)."),
        QStringLiteral("FILE")};
    QCommandLineOption trace{
        QStringLiteral("trace"),
        QStringLiteral("Print every frame sent and received on standard error: time in ms, "
                       "direction, bytes and meaning.")};
    QCommandLineOption force{QStringLiteral("force"),
                             QStringLiteral("Program cells that are not numbers 0..255 all the same, as the "
                                            "bytes listed; let --backup replace an existing file.")};
    QCommandLineOption restoreForce{
        QStringLiteral("force"),
        QStringLiteral("Restore a backup taken from another selector, and cells that are not numbers "
                       "0..255 as the bytes listed; let --backup replace an existing file.")};
    QCommandLineOption backup{
        QStringLiteral("backup"),
        QStringLiteral(
            "Before programming, read the selector and save its memory to FILE, or as a new "
            "file in DIR (named by date, time, port and serial number); nothing is programmed when "
            "that fails. Never the file being programmed; an existing FILE only with --force. "
            "gang takes a DIR and keeps one file per selector."),
        QStringLiteral("FILE|DIR")};
    QCommandLineOption channel{QStringLiteral("channel"),
                               QStringLiteral("The coin channel to teach, 1 to 12."), QStringLiteral("N")};
    QCommandLineOption from{QStringLiteral("from"),
                            QStringLiteral("Start from the image in this coin data file."),
                            QStringLiteral("FILE")};
    QCommandLineOption programAfter{QStringLiteral("program"),
                                    QStringLiteral("Program the taught image into the selector afterwards.")};
    QCommandLineOption calibrate{QStringLiteral("calibrate"),
                                 QStringLiteral("Keep each channel's A window, as after Open & Program.")};
    QCommandLineOption coin{
        QStringLiteral("coin"),
        QStringLiteral("With --port sim: the kind of coin fed in (default: the channel's)."),
        QStringLiteral("NAME")};
    QCommandLineOption json{QStringLiteral("json"), QStringLiteral("Print one JSON value instead of text.")};
    // Reading back is the default; --verify stays accepted so that existing scripts keep working.
    QCommandLineOption verify{QStringLiteral("verify"),
                              QStringLiteral("Read back after programming (the default).")};
    QCommandLineOption noVerify{
        QStringLiteral("no-verify"),
        QStringLiteral("Do not read the selector back after programming. By default the programmed "
                       "cells are read back and every cell that differs is listed (exit code 3).")};
    QCommandLineOption gangNoVerify{
        QStringLiteral("no-verify"),
        QStringLiteral("Do not read each selector back after programming. By default each is read "
                       "back, and one whose programmed cells differ fails.")};
    QCommandLineOption log{QStringLiteral("log"),
                           QStringLiteral("Append one CSV row per selector to this file."),
                           QStringLiteral("FILE.csv")};
    QCommandLineOption wait{
        QStringLiteral("wait"),
        QStringLiteral("Station mode: program each next selector on a port, until Ctrl-C.")};
    QCommandLineOption count{QStringLiteral("count"), QStringLiteral("Read exchanges to send (default 50)."),
                             QStringLiteral("N")};
    QCommandLineOption pty{QStringLiteral("pty"), QStringLiteral("Serve the selector on a pseudo-terminal.")};
    QCommandLineOption swap{
        QStringLiteral("swap"),
        QStringLiteral("Play a station's operator: take each programmed selector off once the host only "
                       "polls it, and put the next on after MIN to MAX ms (e.g. 300-3000)."),
        QStringLiteral("MIN-MAX")};
    QCommandLineOption putBack{
        QStringLiteral("put-back"),
        QStringLiteral("With --swap: take these units (1 = the first) off in the middle "
                       "of programming and put them back once the host is done with "
                       "them, e.g. 2 or 2,5."),
        QStringLiteral("N,...")};
    QCommandLineOption halfGap{
        QStringLiteral("half-gap"),
        QStringLiteral(
            "Send each measurement record's second half this many ms after its first (default 0)."),
        QStringLiteral("MS")};
    QCommandLineOption repeatAnswer{
        QStringLiteral("repeat-answer"),
        QStringLiteral("Send the start answer again, unasked, before the Nth coin of each sampling run "
                       "(N:half: between its halves)."),
        QStringLiteral("N[:half]")};
    QCommandLineOption memory{
        QStringLiteral("memory"),
        QStringLiteral("Start the virtual selector from this coin data file (cells it lacks "
                       "keep the factory values)."),
        QStringLiteral("FILE")};
    QCommandLineOption wireTime{
        QStringLiteral("wire-time"),
        QStringLiteral("Pace the virtual selector's bytes as a 19200-baud line would.")};
    QCommandLineOption recordType{
        QStringLiteral("record-type"),
        QStringLiteral("Type byte of a regular coin's measurement record, 0..255 or 0x00..0xFF "
                       "(default 0)."),
        QStringLiteral("N")};
    QCommandLineOption coinInterval{
        QStringLiteral("coin-interval"),
        QStringLiteral("Milliseconds between the coins fed to the virtual selector (default: a hand's "
                       "pace, 600 to 900)."),
        QStringLiteral("MS")};
    QCommandLineOption fault{
        QStringLiteral("fault"),
        QStringLiteral("Faults for the virtual selector to commit (see below); may be given "
                       "more than once."),
        QStringLiteral("SPEC")};
};

void addOptions(QCommandLineParser& parser, const Options& o, CommandKind kind);

} // namespace quarvel::cli
