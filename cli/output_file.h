#pragma once

#include <QString>

#include <string_view>

namespace quarvel::cli {

// "-" for -o: the file goes to standard output.
inline constexpr char kStandardOutput[] = "-";

// Writes bytes where -o points. A regular file, or a path that does not exist yet, is replaced
// atomically: a failure leaves the old file as it was. Anything else (a FIFO, /dev/full,
// /dev/stdout, a terminal) is written straight, since replacing it would turn it into a plain
// file; "-" is standard output. Returns "" on success, otherwise the error naming the path.
QString writeOutput(const QString& path, std::string_view bytes);

// Before anything is read: "" when writeOutput may succeed, else why it cannot (a folder, a
// folder that does not exist, one that cannot be written), worded as writeOutput words it.
QString outputProblem(const QString& path);

} // namespace quarvel::cli
