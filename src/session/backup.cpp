#include "session/backup.h"

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "image/qt/user_folders.h"
#include "image/settings_model.h"
#include "session/document_files.h"
#include "session/operation.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <set>

namespace quarvel::session {

namespace {

const char kStamp[] = "yyyy-MM-dd_HHmmss";

QRegularExpression backupName()
{
    // Date, time, port, serial number, and a count when one second saw two backups.
    static const QRegularExpression re(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2}_\\d{6})_([^_]+)(?:_sn(\\d+))?(?:_(\\d+))?\\.cdt$"));
    return re;
}

// A port name as a file name may hold it: "/dev/ttyUSB0" -> "dev-ttyUSB0". No "_", which
// separates the parts of the name.
QString portPart(const QString& port)
{
    QString part;
    for (const QChar c : port)
        part += c.isLetterOrNumber() || c == QLatin1Char('.') ? c : QLatin1Char('-');
    while (part.startsWith(QLatin1Char('-')))
        part.remove(0, 1);
    return part.isEmpty() ? QStringLiteral("port") : part;
}

} // namespace

QString serialNumberTag(int serial)
{
    return QStringLiteral("sn%1").arg(serial);
}

QString BackupFolder::standardPath()
{
    return QDir(userDataFolder()).filePath(QStringLiteral("backups"));
}

QString BackupFolder::newFile(const QDateTime& taken, const QString& port, int serial) const
{
    const QString stem = taken.toString(QLatin1String(kStamp)) + QLatin1Char('_') + portPart(port) +
                         QLatin1Char('_') + serialNumberTag(serial);
    const QDir dir(m_path);
    QString name = stem + QStringLiteral(".cdt");
    for (int n = 2; QFileInfo::exists(dir.filePath(name)); ++n)
        name = stem + QStringLiteral("_%1.cdt").arg(n);
    return dir.filePath(name);
}

std::vector<BackupEntry> BackupFolder::entries() const
{
    std::vector<BackupEntry> list;
    const QDir dir(m_path);
    // Names sort by time; newest first.
    for (const QString& name :
         dir.entryList({QStringLiteral("*.cdt")}, QDir::Files, QDir::Name | QDir::Reversed)) {
        const auto match = backupName().match(name);
        if (!match.hasMatch()) continue;
        const QDateTime taken = QDateTime::fromString(match.captured(1), QLatin1String(kStamp));
        if (!taken.isValid()) continue;
        const QString serial = match.captured(3);
        list.push_back(
            {dir.filePath(name), taken, match.captured(2), serial.isEmpty() ? -1 : serial.toInt()});
    }
    return list;
}

void BackupFolder::prune() const
{
    const auto list = entries();
    for (std::size_t i = kKept; i < list.size(); ++i)
        QFile::remove(list[i].path);
}

QString stopProgrammingQuestion(const Operation* running)
{
    // Before the first write and after the last, stopping leaves the selector whole.
    if (!running || running->kind() != Operation::Kind::Program ||
        static_cast<const ProgramOperation*>(running)->phase() != ProgramResult::Phase::Writing)
        return {};
    const auto* program = static_cast<const ProgramOperation*>(running);
    return QStringLiteral("Programming is not finished (%1 of %2 cells). Stop and leave the selector partly "
                          "programmed?")
        .arg(program->cellsProgrammed())
        .arg(ProgramResult::cellsInRanges());
}

QString stopToCloseQuestion(const Operation* running)
{
    if (!running || running->hasEnded()) return {};
    if (QString writing = stopProgrammingQuestion(running); !writing.isEmpty()) return writing;
    QString what;
    switch (running->kind()) {
    case Operation::Kind::Read:
        what = QStringLiteral("Reading the selector");
        break;
    case Operation::Kind::Program:
        what = static_cast<const ProgramOperation*>(running)->phase() == ProgramResult::Phase::Verify
                   ? QStringLiteral("Reading the programmed selector back")
                   : QStringLiteral("Programming");
        break;
    case Operation::Kind::Sampling:
        what = QStringLiteral("Sampling of channel %1").arg(running->channel());
        break;
    case Operation::Kind::Check:
        what = QStringLiteral("The link check");
        break;
    }
    return QStringLiteral("%1 is not finished. Stop it and close QUARVEL?").arg(what);
}

QStringList differingFields(const ParameterImage& a, const ParameterImage& b)
{
    QStringList names;
    std::set<int> covered;
    for (const SettingField& field : allFields()) {
        covered.insert(field.cell);
        if (fieldText(a, field) != fieldText(b, field))
            names << QString::fromStdString(fieldLabel(field)).simplified().remove(QLatin1Char(':'));
    }
    for (int channel = 1; channel <= address::kChannelCount; ++channel) {
        bool differs = false;
        for (const int cell : address::referenceCells(channel)) {
            covered.insert(cell);
            differs = differs || cellByte(a.text(cell)) != cellByte(b.text(cell));
        }
        if (differs) names << QStringLiteral("Coin %1 references").arg(channel);
    }
    for (int cell = 0; cell < ParameterImage::kSelectorCells; ++cell)
        if (!covered.count(cell) && cellByte(a.text(cell)) != cellByte(b.text(cell)))
            names << QStringLiteral("cell %1").arg(cell);
    return names;
}

} // namespace quarvel::session
