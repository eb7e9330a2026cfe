#pragma once

#include "image/parameter_image.h"
#include "session/operation.h"
#include "session/programming.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Backups of a selector's memory, taken before it is written, and the folder that keeps them.
namespace quarvel::session {

class SelectorSession;

// One backup on disk: a coin data file named by when it was taken, from which port and which
// selector.
struct BackupEntry
{
    QString path;
    QDateTime taken;
    QString port;    // as the file name holds it: "dev-ttyUSB0", "virtual-selector"
    int serial = -1; // the selector's "Serial no." (cell 85); -1 in a name without one
};

// A folder of backups, "2026-12-07_151303_dev-ttyUSB0_sn42.cdt" and the like; only the newest
// kKept are kept, so a busy bench never fills its disk.
class BackupFolder
{
public:
    static constexpr int kKept = 100;
    // The program's data folder, "backups" in it.
    static QString standardPath();

    explicit BackupFolder(QString path = standardPath()) : m_path(std::move(path)) {}
    QString path() const { return m_path; }

    // A new file for a backup taken now from port, of the selector with serial number serial;
    // "_2", "_3" added when the second is taken.
    QString newFile(const QDateTime& taken, const QString& port, int serial) const;
    // Newest first; files of other names are not backups and are left alone.
    std::vector<BackupEntry> entries() const;
    // Removes all but the newest kKept.
    void prune() const;

private:
    QString m_path;
};

// The serial number as backup names and result lines carry it: "sn42".
QString serialNumberTag(int serial);

// The question to ask before the program ends or the port goes while programming runs
// ("Programming is not finished (n of 184 cells). …"); empty when nothing is being written.
QString stopProgrammingQuestion(const Operation* running);
// The question to ask before the program closes while any operation runs: the one above while
// cells are being written, else one naming what would be cut short; empty when nothing runs.
QString stopToCloseQuestion(const Operation* running);

// The settings (by their names), references and other cells of the selector's memory in which
// two images differ, as programming would send them.
QStringList differingFields(const ParameterImage& a, const ParameterImage& b);

} // namespace quarvel::session
