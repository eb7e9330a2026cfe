#pragma once

#include "image/state_file.h"
#include "session/document_files.h"
#include "ui/main/file_chooser.h"
#include "ui/main/status_line.h"

#include <QString>

#include <functional>

class QWidget;

namespace quarvel {

namespace session {
class SelectorSession;
}

// The desktop program's files: the most recent coin data file (loaded at start, Save, Save As,
// Open) and the state file that keeps the recent names and the marked port between runs. Files
// are read, checked and written through the session; outcomes go to the status line.
class RecentFiles
{
public:
    // How a save ended, in the words the status line shows.
    using Done = std::function<void(bool succeeded, const QString& text)>;

    RecentFiles(session::SelectorSession& session, StatusLine status, QWidget* window);

    StateFile& state() { return m_state; }
    const StateFile& state() const { return m_state; }
    void setFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }

    // Reads the state file; entries it does not give keep this platform's defaults.
    void loadState();
    FileSaveResult saveState() const;

    // Loads the most recent file into the document; a missing file is silently passed over.
    void loadMostRecent();
    // Saves the document to the most recent file; a failure is shown in red. Returns success.
    bool save();
    // Asks for a name, makes it the most recent, saves. done follows a save, not a cancel.
    void saveAs(const Done& done);
    // Asks for a coin data file to open; done gets its path, empty when the user cancelled.
    void chooseToOpen(std::function<void(const QString& path)> done);
    // Asks for a file, makes it the most recent, loads it. done(opened) follows.
    void open(const std::function<void(bool opened)>& done);
    // A file that is not a coin data file, or for programming does not reach every selector
    // cell, is neither loaded nor made the most recent: a later save would otherwise write the
    // document over it.
    session::CoinDataCheck loadChecked(const QString& path, bool forProgramming);
    // Makes a file already checked the document and the most recent file. Kept apart from the
    // check so that a question the user may decline comes between them.
    void load(const QString& path, const session::CoinDataCheck& check);
    // The refusal of a file that failed its check, in red.
    void showRefusal(const session::CoinDataCheck& check);

private:
    void show(const QString& text, session::StatusColour colour);

    session::SelectorSession& m_session;
    StatusLine m_status;
    QWidget* m_window;
    FileChooser m_chooser;
    StateFile m_state;
};

} // namespace quarvel
