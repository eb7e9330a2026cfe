#pragma once

#include "image/parameter_image.h"
#include "session/operation.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Backups of a selector's memory, taken before it is written, and the folder that keeps them.
namespace quarvel::session {

class SelectorSession;

// One backup on disk: a coin data file named by when it was taken and from which port.
struct BackupEntry
{
    QString path;
    QDateTime taken;
    QString port; // as the file name holds it: "dev-ttyUSB0", "virtual-selector"
};

// A folder of backups, "2026-12-07_151303_dev-ttyUSB0.cdt" and the like; only the newest
// kKept are kept, so a busy bench never fills its disk.
class BackupFolder
{
public:
    static constexpr int kKept = 100;
    // The program's data folder, "backups" in it.
    static QString standardPath();

    explicit BackupFolder(QString path = standardPath()) : m_path(std::move(path)) {}
    QString path() const { return m_path; }

    // A new file for a backup taken now from port; "_2", "_3" added when the second is taken.
    QString newFile(const QDateTime& taken, const QString& port) const;
    // Newest first; files of other names are not backups and are left alone.
    std::vector<BackupEntry> entries() const;
    // Removes all but the newest kKept.
    void prune() const;

private:
    QString m_path;
};

struct BackupResult
{
    bool saved = false;
    bool read = false;    // the selector was read (a failure was then the save's)
    QString path;         // the file written
    QString error;        // why not: the read's failure or the save's
    ParameterImage image; // what was read (cells 0..188 from the selector)
};

// Reads the selector into a scratch image (the document is never touched) and saves it as a
// coin data file: to target when it is a file, or when it is a folder (existing, or ending in
// a separator) as a new file of that folder. done runs once, unless the read is refused (see
// the returned refusal). Newest prunes the folder to its newest backups (the desktop program's
// own folder); All keeps every file (a folder a script named, or a restore about to program the
// oldest backup).
enum class KeepBackups
{
    Newest,
    All
};
Started<ReadOperation> backUpSelector(SelectorSession& session, const QString& target,
                                      std::function<void(const BackupResult&)> done, KeepBackups keep);

// The result line of a programming run, with where its backup went:
// "Programmed 184 cells; backup in /…/2026-12-07_151303_dev-ttyUSB0.cdt".
QString programmingSummary(const ProgramResult& result, const QString& backupPath);

// The question to ask before the program ends or the port goes while programming runs
// ("Programming is not finished (n of 184 cells). …"); empty when nothing is being written.
QString stopProgrammingQuestion(const SelectorSession& session);

// The settings (by their names), references and other cells of the selector's memory in which
// two images differ, as programming would send them.
QStringList differingFields(const ParameterImage& a, const ParameterImage& b);

} // namespace quarvel::session
