#pragma once

#include "command_line.h"

#include "history/history_recorder.h"

#include <QObject>

#include <functional>
#include <memory>

namespace quarvel::cli {

// Where a device command records its attempts, set up before any port is opened: null with
// --no-history; refused holds why the command must not start (a line's server refused the login).
struct HistoryRecording
{
    std::unique_ptr<history::HistoryRecorder> recorder;
    QString refused;
};

// problems: told each problem of the history once (a full disk, a server away), on stderr.
HistoryRecording startHistory(const Invocation& invocation, QObject* context,
                              const std::function<void(const QString&)>& problems);

} // namespace quarvel::cli
