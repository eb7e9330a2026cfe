#include "session/history_entry.h"

#include "image/address_map.h"
#include "session/programming.h"

#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>

namespace quarvel::session {

namespace {

history::HistoryRecord common(const OperationFacts& facts, link::EndReason reason,
                              const link::FaultCounts& faults)
{
    history::HistoryRecord r;
    r.id = history::newAttemptId();
    r.at = QDateTime::currentDateTimeUtc();
    r.host = QSysInfo::machineHostName();
    r.station = facts.station;
    r.port = facts.port;
    r.adapter = facts.adapter;
    r.operation = facts.operation;
    r.succeeded = reason == link::EndReason::Succeeded;
    r.timeOuts = faults.count(link::ExchangeFault::TimeOut);
    r.badChecksums = faults.count(link::ExchangeFault::BadChecksum);
    r.wrongEchoes = faults.count(link::ExchangeFault::WrongEcho);
    r.echoes = faults.count(link::ExchangeFault::Echoed);
    r.durationMs = facts.durationMs;
    // With its folder, as the station's log names it: a name alone says little a year later.
    if (!facts.coinFile.isEmpty()) r.coinFile = QFileInfo(facts.coinFile).absoluteFilePath();
    r.coinSha256 = facts.coinSha256;
    return r;
}

void identify(history::HistoryRecord& r, const ParameterImage& memory)
{
    r.serialNo = serialNumberOf(memory);
    r.identity.clear();
    for (int cell : address::kIdentityCells)
        r.identity.append(static_cast<char>(std::clamp<long long>(memory.integer(cell), 0, 255)));
}

} // namespace

QByteArray selectorCells(const ParameterImage& image)
{
    QByteArray bytes(ParameterImage::kSelectorCells, '\0');
    for (int cell = 0; cell < ParameterImage::kSelectorCells; ++cell)
        bytes[cell] = static_cast<char>(std::clamp<long long>(image.integer(cell), 0, 255));
    return bytes;
}

history::HistoryRecord historyRecordOf(const ReadResult& result, const OperationFacts& facts)
{
    history::HistoryRecord r = common(facts, result.reason, result.faults);
    r.completion = result.succeeded() ? QStringLiteral("complete") : QStringLiteral("nothing");
    r.message = result.succeeded() ? QStringLiteral("Read %1 cells").arg(ParameterImage::kSelectorCells)
                                   : result.message;
    if (result.image) {
        identify(r, *result.image);
        // A read changes nothing: the same memory before and after.
        r.before = r.after = selectorCells(*result.image);
    }
    return r;
}

history::HistoryRecord historyRecordOf(const ProgramResult& result, const OperationFacts& facts)
{
    history::HistoryRecord r = common(facts, result.reason, result.faults);
    // Cells read back otherwise than sent fail the programming, however the transfers ended.
    r.succeeded = result.succeeded();
    const int written = result.cellsWritten();
    const int all = ProgramResult::cellsInRanges();
    if (written == 0)
        r.completion = QStringLiteral("nothing");
    else if (!result.rangesWritten())
        r.completion = QStringLiteral("partly %1 of %2").arg(written).arg(all);
    else if (result.verified && result.mismatches.empty())
        r.completion = QStringLiteral("verified");
    else
        r.completion = QStringLiteral("complete");
    r.message = result.summary();
    if (result.backup.state == BackupOutcome::State::Saved) r.backupFile = result.backup.path;
    const std::optional<ParameterImage>& before = result.before ? result.before : facts.before;
    if (before) {
        r.before = selectorCells(*before);
        identify(r, *before);
    }
    if (result.verified) {
        r.after = selectorCells(result.readBack);
        identify(r, result.readBack);
    }
    if (r.serialNo < 0) r.serialNo = result.serialNo;
    return r;
}

history::HistoryRecord historyRecordOf(const SamplingResult& result, const OperationFacts& facts)
{
    history::HistoryRecord r = common(facts, result.reason, {});
    r.completion = result.succeeded() ? QStringLiteral("complete") : QStringLiteral("nothing");
    r.message = result.succeeded()
                    ? QStringLiteral("channel %1: %2").arg(result.channel).arg(result.successText)
                    : QStringLiteral("channel %1: %2").arg(result.channel).arg(result.message);
    return r;
}

} // namespace quarvel::session
