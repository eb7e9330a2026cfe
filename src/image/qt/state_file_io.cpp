#include "image/qt/state_file_io.h"

#include "image/qt/user_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace quarvel {

namespace {

// Two path names and four marks; anything beyond this is not a state file.
constexpr std::size_t kMaxStateBytes = std::size_t{64} * 1024;

} // namespace

QString stateFilePath()
{
    return userConfigFolder() + QStringLiteral("/cmose.sys");
}

void keepSettingsInDataFolder()
{
#ifdef Q_OS_WIN
    // %LOCALAPPDATA%\<organization>\<application>.ini, next to the state file's folder.
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
#endif
}

StateFileLoad loadStateFile(const QString& path)
{
    StateFileLoad result;
    if (!QFileInfo::exists(path)) return result;
    FieldFileRead read = readFieldFile(path, kStateFileValues, kMaxStateBytes);
    result.found = read.opened;
    result.error = std::move(read.error);
    result.state = stateFromValues(read.fields);
    return result;
}

FileSaveResult saveStateFile(const QString& path, const StateFile& state)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        FileSaveResult result;
        result.error = QStringLiteral("Cannot save %1: cannot create folder %2")
                           .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(folder));
        return result;
    }
    StateFile stored = state;
    for (std::string* name : {&stored.recentName1, &stored.recentName2})
        *name = QDir::toNativeSeparators(QString::fromStdString(*name)).toStdString();
    return saveFileAtomically(path, serializeStateFile(stored));
}

} // namespace quarvel
