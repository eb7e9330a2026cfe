#include "history/history_record.h"

#include "image/address_map.h"
#include "image/parameter_image.h"

#include <QStringList>
#include <QUuid>

namespace quarvel::history {

std::vector<CellChange> changesOf(const HistoryRecord& record)
{
    std::vector<CellChange> changes;
    const qsizetype cells = ParameterImage::kSelectorCells;
    if (record.before.size() != cells || record.after.size() != cells) return changes;
    for (qsizetype i = 0; i < cells; ++i) {
        const auto was = static_cast<unsigned char>(record.before[i]);
        const auto now = static_cast<unsigned char>(record.after[i]);
        if (was != now) changes.push_back({static_cast<int>(i), was, now});
    }
    return changes;
}

QString changeSummary(const HistoryRecord& record)
{
    const qsizetype cells = ParameterImage::kSelectorCells;
    if (record.before.size() != cells || record.after.size() != cells) return QStringLiteral("not known");
    const auto changes = changesOf(record);
    if (changes.empty()) return QStringLiteral("no change");
    // Several cells of one setting (an A reference's two bytes) name it once.
    QStringList names;
    for (const CellChange& change : changes) {
        const QString name = QString::fromStdString(address::fieldName(change.cell));
        if (!names.contains(name)) names << name;
    }
    return QStringLiteral("%1 cell%2 changed: %3")
        .arg(changes.size())
        .arg(changes.size() == 1 ? QString() : QStringLiteral("s"))
        .arg(names.join(QStringLiteral(", ")));
}

QString newAttemptId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace quarvel::history
