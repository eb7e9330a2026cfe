#pragma once

// What quarvelctl tells the shell, so scripts on a production line can branch on it.
namespace quarvel::cli::exit_code {

constexpr int kSuccess = 0;
constexpr int kUsageOrFile = 1;   // bad arguments, unreadable or short file, failed save
constexpr int kDevice = 2;        // port not opened, failure budget exhausted, port lost
constexpr int kMismatch = 3;      // --verify found cells that differ
constexpr int kInterrupted = 130; // SIGINT/TERM/HUP (Windows: Ctrl+C, console closed) mid-operation

// diff, as cmp and diff answer: the files differ, or something went wrong.
constexpr int kDifferent = 1;
constexpr int kTrouble = 2;

} // namespace quarvel::cli::exit_code
