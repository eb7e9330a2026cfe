#pragma once

#include "history/history_record.h"
#include "session/results.h"

#include <QString>

#include <optional>

// The history's record of a device operation, made from its typed result.
namespace quarvel::session {

// What a device's operations are recorded with besides their results.
struct HistoryPlace
{
    QString station;   // the station's name on a line; "" on a bench
    bool reads = true; // a station's reads only find the next selector: not attempts of their own
};

// What the device knew of an operation that its result does not hold.
struct OperationFacts
{
    QString operation; // "read", "program", "restore", "teach", "station"
    QString port;
    QString adapter;
    QString station;
    qint64 durationMs = 0;
    QString coinFile;
    QString coinSha256;                   // as the file was checked before the operation
    std::optional<ParameterImage> before; // read by the caller just before (a station's unit)
};

history::HistoryRecord historyRecordOf(const ReadResult& result, const OperationFacts& facts);
history::HistoryRecord historyRecordOf(const ProgramResult& result, const OperationFacts& facts);
history::HistoryRecord historyRecordOf(const SamplingResult& result, const OperationFacts& facts);

// Cells 0..188 as the bytes the selector holds.
QByteArray selectorCells(const ParameterImage& image);

} // namespace quarvel::session
