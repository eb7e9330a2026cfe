#pragma once

#include "history/history_recorder.h"

#include <memory>

class QMainWindow;

namespace quarvel {

namespace session {
class Device;
} // namespace session

// The desktop program's history as its settings say: the user's own file unless "Keep a
// history" was switched off, a line's server when one was named (its login checked first: one
// refused records to the own file alone, and says so on stderr).
std::unique_ptr<history::HistoryRecorder> desktopHistory();

// "History" beside File and System: "Selector history…" (Ctrl+H) lists what was done to the
// selector last read (to every selector before a read); "Keep a history" switches recording on
// and off (remembered); "History server…" names a line's server for the next start. recorder
// may be null (the history switched off at start).
void addHistoryMenu(QMainWindow& window, session::Device& device, history::HistoryRecorder* recorder);

} // namespace quarvel
