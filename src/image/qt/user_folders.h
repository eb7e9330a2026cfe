#pragma once

#include <QString>

namespace quarvel {

// The desktop program's own folders: Linux ~/.config/quarvel and ~/.local/share/quarvel (as
// XDG_CONFIG_HOME and XDG_DATA_HOME say), Windows %LOCALAPPDATA%\quarvel for both. Qt's
// per-application folders would add the application's name below the organization's a second
// time (~/.config/quarvel/quarvel).
QString userConfigFolder(); // the state file cmose.sys
QString userDataFolder();   // backups/ and the recent files' default place

// Moves what an earlier version left in Qt's per-application folders into the folders above,
// once; an entry already present in the new place is kept, and the old one left where it is.
// Returns the entries it could not move ("" when all went well).
QString moveOldUserFolders();

} // namespace quarvel
