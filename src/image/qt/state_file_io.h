#pragma once

#include "image/state_file.h"
#include "image/qt/text_file_io.h"

#include <QString>

namespace quarvel {

// cmose.sys in the per-user configuration folder, which depends on the application's
// organization and name as the front end set them.
QString stateFilePath();

struct StateFileLoad
{
    StateFile state;    // the defaults where the file gave nothing
    bool found = false; // a missing file is normal on a first run, not an error
    QString error;
};

StateFileLoad loadStateFile(const QString& path);

// Creates the folder when needed and replaces the file atomically.
FileSaveResult saveStateFile(const QString& path, const StateFile& state);

} // namespace quarvel
