#include "session/programming.h"

#include "image/address_map.h"
#include "image/cell_byte.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>

#include <algorithm>

namespace quarvel::session {

namespace {

bool differs(const ParameterImage& a, const ParameterImage& b, int cell)
{
    return cellByte(a.text(cell)) != cellByte(b.text(cell));
}

// "1, 2, 4-12"
QString channelList(const std::vector<int>& channels)
{
    QStringList parts;
    for (std::size_t i = 0; i < channels.size();) {
        std::size_t j = i;
        while (j + 1 < channels.size() && channels[j + 1] == channels[j] + 1)
            ++j;
        if (j < i + 2) j = i; // two in a row read better as two
        parts << (j == i ? QString::number(channels[i])
                         : QStringLiteral("%1\u2013%2").arg(channels[i]).arg(channels[j]));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

Refusal targetRefusal(const QString& text)
{
    return Refusal{Refusal::Kind::BackupTarget, 0, text};
}

} // namespace

BackupTarget resolveBackupTarget(const BackupPolicy& policy, const QString& sourceFile)
{
    BackupTarget target;
    target.path = policy.path;
    // "ro/" is shown as "ro", never "ro//".
    const QString shown = QDir::toNativeSeparators(QDir::cleanPath(policy.path));
    const QFileInfo info(policy.path);
    // A folder named without a trailing separator is still a folder.
    target.folder = policy.kind == BackupPolicy::Kind::Folder || policy.path.endsWith(QLatin1Char('/')) ||
                    policy.path.endsWith(QDir::separator()) || info.isDir();
    if (target.folder) {
        if (!QDir().mkpath(policy.path)) {
            target.refusal = targetRefusal(QStringLiteral("Cannot create the backup folder %1").arg(shown));
            return target;
        }
        // Tried, not judged by its permissions (which root passes): a folder that takes no file
        // must be refused before the selector is read, not after.
        QTemporaryFile probe(QDir(policy.path).filePath(QStringLiteral(".quarvel-XXXXXX")));
        if (!probe.open())
            target.refusal = targetRefusal(
                QStringLiteral("Cannot write in the backup folder %1: %2").arg(shown, probe.errorString()));
        return target;
    }
    if (!info.absoluteDir().exists()) {
        target.refusal =
            targetRefusal(QStringLiteral("Cannot save the backup %1: its folder does not exist").arg(shown));
        return target;
    }
    // The selector would be read in full before the save failed: the folder is tried first.
    QTemporaryFile probe(info.absoluteDir().filePath(QStringLiteral(".quarvel-XXXXXX")));
    if (!probe.open()) {
        target.refusal =
            targetRefusal(QStringLiteral("Cannot save the backup %1: its folder cannot be written: %2")
                              .arg(shown, probe.errorString()));
        return target;
    }
    if (!info.exists()) return target;
    const QFileInfo source(sourceFile);
    if (!sourceFile.isEmpty() && source.exists() && source.canonicalFilePath() == info.canonicalFilePath()) {
        target.refusal = targetRefusal(
            QStringLiteral("The backup %1 is the file being programmed; name another file or a folder")
                .arg(shown));
        return target;
    }
    if (!policy.overwrite)
        target.refusal = targetRefusal(
            QStringLiteral("The backup %1 already exists; name a new file or a folder (--force replaces it)")
                .arg(shown));
    return target;
}

std::vector<VerifyMismatch> verifyMismatches(const ParameterImage& sent, const ParameterImage& readBack)
{
    std::vector<VerifyMismatch> mismatches;
    for (const auto& range : address::kProgrammingRanges) {
        for (int cell = range.first; cell <= range.last; ++cell) {
            const int expected = cellByte(sent.text(cell));
            const int actual = cellByte(readBack.text(cell));
            if (expected != actual)
                mismatches.push_back(
                    {cell, QString::fromStdString(address::fieldName(cell)), expected, actual});
        }
    }
    return mismatches;
}

std::vector<int> identityDifferences(const ParameterImage& a, const ParameterImage& b)
{
    std::vector<int> cells;
    for (const int cell : address::kIdentityCells)
        if (differs(a, b, cell)) cells.push_back(cell);
    return cells;
}

QString untouchedChannelsQuestion(const ParameterImage& selector, const ParameterImage& toSend,
                                  const std::set<int>& spared)
{
    std::vector<int> channels;
    bool references = false;
    bool values = false;
    for (int channel = 1; channel <= address::kChannelCount; ++channel) {
        if (spared.count(channel)) continue;
        bool refs = false;
        for (const int cell : address::referenceCells(channel))
            refs = refs || differs(selector, toSend, cell);
        const bool value = differs(selector, toSend, address::coinValue(channel));
        if (!refs && !value) continue;
        channels.push_back(channel);
        references = references || refs;
        values = values || value;
    }
    if (channels.empty()) return {};
    const QString what = references && values ? QStringLiteral("references and coin values")
                         : references         ? QStringLiteral("references")
                                              : QStringLiteral("coin values");
    return QStringLiteral("Programming changes channel%1 %2 (%3). Continue?")
        .arg(channels.size() == 1 ? QString() : QStringLiteral("s"), channelList(channels), what);
}

QString otherSelectorQuestion(const ParameterImage& backup, const ParameterImage& selector)
{
    if (identityDifferences(backup, selector).empty()) return {};
    return QStringLiteral("This backup was taken from another selector (%1). Restore it anyway?")
        .arg(identityDifference(backup, selector));
}

QString identityDifference(const ParameterImage& theirs, const ParameterImage& ours)
{
    const int theirSerial = cellByte(theirs.text(address::kSerialNo));
    const int ourSerial = cellByte(ours.text(address::kSerialNo));
    if (theirSerial != ourSerial)
        return QStringLiteral("serial no. %1, this one is %2").arg(theirSerial).arg(ourSerial);
    return QStringLiteral("cells %1\u2013%2 differ")
        .arg(address::kIdentityCells[1])
        .arg(address::kIdentityCells.back());
}

int serialNumberOf(const ParameterImage& memory)
{
    return cellByte(memory.text(address::kSerialNo));
}

std::set<int> channelsOf(const std::vector<int>& cells)
{
    std::set<int> channels;
    for (int channel = 1; channel <= address::kChannelCount; ++channel) {
        const auto refs = address::referenceCells(channel);
        for (const int cell : cells)
            if (cell == address::coinValue(channel) ||
                std::find(refs.begin(), refs.end(), cell) != refs.end())
                channels.insert(channel);
    }
    return channels;
}

} // namespace quarvel::session
