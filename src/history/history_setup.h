#pragma once

#include "history/history_recorder.h"
#include "history/history_target.h"

#include <QString>

#include <optional>

// Where both front ends keep the history unless told otherwise, and the check of a line's
// server before anything is sent.
namespace quarvel::history {

// history.sqlite in the user's data folder (beside backups/).
QString defaultHistoryFile();

// The user's file alone, or a server with that file as its spool.
RecorderConfig recorderConfig(const std::optional<HistoryTarget>& server);

// A login the server refuses, said before the first frame: waiting would not help, and the
// records would only pile up. Empty when the server took it or could not be reached (records
// then wait in the spool).
QString refusedLogin(const HistoryTarget& server, int connectTimeoutS = 3);

} // namespace quarvel::history
