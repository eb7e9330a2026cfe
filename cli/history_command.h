#pragma once

#include "command_line.h"

#include "history/history_record.h"

#include <string>
#include <vector>

// quarvelctl history: the attempts recorded on selectors, as a table, CSV or JSON, and what one
// of them changed.
namespace quarvel::cli {

int runHistory(const Invocation& invocation);

std::string historyTable(const std::vector<history::HistoryRecord>& records);
std::string historyCsv(const std::vector<history::HistoryRecord>& records);
std::string historyJson(const std::vector<history::HistoryRecord>& records);

} // namespace quarvel::cli
