#include "image/qt/user_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

namespace quarvel {

namespace {

QString folderOf(QStandardPaths::StandardLocation generic)
{
    return QDir(QStandardPaths::writableLocation(generic)).filePath(QStringLiteral("quarvel"));
}

// Everything in from goes to to, entry by entry; folders present in both are merged.
void moveContents(const QString& from, const QString& to, QStringList* left)
{
    const QDir source(from);
    if (!source.exists() || QFileInfo(from).canonicalFilePath() == QFileInfo(to).canonicalFilePath()) return;
    QDir().mkpath(to);
    const auto entries =
        source.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QString target = QDir(to).filePath(entry.fileName());
        if (entry.isDir() && !entry.isSymLink() && QFileInfo(target).isDir()) {
            moveContents(entry.absoluteFilePath(), target, left);
        } else if (QFileInfo::exists(target) || !QDir().rename(entry.absoluteFilePath(), target)) {
            *left << entry.absoluteFilePath();
        }
    }
    // Empty now unless something stayed behind; rmdir leaves a folder that is not empty alone.
    QDir().rmdir(from);
}

} // namespace

QString userConfigFolder()
{
    return folderOf(QStandardPaths::GenericConfigLocation);
}

QString userDataFolder()
{
#ifdef Q_OS_WIN
    // The same folder: the user's own, on this PC (Local, not Roaming).
    return folderOf(QStandardPaths::GenericConfigLocation);
#else
    return folderOf(QStandardPaths::GenericDataLocation);
#endif
}

QString moveOldUserFolders()
{
    QStringList left;
    moveContents(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation), userConfigFolder(),
                 &left);
    moveContents(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation), userDataFolder(), &left);
    return left.join(QStringLiteral(", "));
}

} // namespace quarvel
