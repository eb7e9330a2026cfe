#pragma once

#include "image/qt/text_file_io.h"
#include "image/state_file.h"

#include <QString>

namespace quarvel {

// cmose.sys in the per-user configuration folder (on Windows the user's local application data
// folder), which depends on the application's organization and name as the front end set them.
QString stateFilePath();

// Keeps QSettings (window position, a port chosen by path) in an INI file in the per-user
// application data folder on Windows too, instead of the registry. Call once the names are set and
// before the first QSettings is made.
void keepSettingsInDataFolder();

struct StateFileLoad
{
    StateFile state;    // the defaults where the file gave nothing
    bool found = false; // a missing file is normal on a first run, not an error
    QString error;
};

StateFileLoad loadStateFile(const QString& path);

// Creates the folder when needed and replaces the file atomically. The file names are written
// with the platform's separators (C:\coins\a.cdt on Windows), whatever the file dialog gave.
FileSaveResult saveStateFile(const QString& path, const StateFile& state);

} // namespace quarvel
