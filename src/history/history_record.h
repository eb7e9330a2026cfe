#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace quarvel::history {

// One attempt at an operation on a selector, as the history keeps it: enough to answer "when was
// serial 38 last programmed, with which coin data file, and what changed" from the record alone.
struct HistoryRecord
{
    QString id;          // unique per attempt (a UUID); writing it twice keeps one row
    QDateTime at;        // when it ended, UTC
    QString host;        // the machine
    QString station;     // the station's name ("" outside a line)
    QString port;        // "/dev/ttyUSB0", "COM3", "virtual selector"
    QString adapter;     // USB vendor:product and serial number of the port's adapter, when known
    int serialNo = -1;   // the selector's serial number; -1 when it was never read
    QByteArray identity; // the identity cells (85, 124..127) as read; empty when never read
    QString operation;   // "read", "program", "restore", "teach", "station"
    bool succeeded = false;
    QString completion; // "nothing", "partly N of M", "complete", "verified"
    int timeOuts = 0;
    int badChecksums = 0;
    int wrongEchoes = 0;
    int echoes = 0;
    qint64 durationMs = 0;
    QString coinFile;   // the coin data file's name, when one was sent
    QString coinSha256; // its SHA-256, hex
    QString backupFile; // the backup taken first, when one was
    QByteArray before;  // the selector's cells 0..188 before, when read; else empty
    QByteArray after;   // its cells 0..188 afterwards, when read back; else empty
    QString message;    // the result line the user read

    bool operator==(const HistoryRecord&) const = default;
};

// A cell that an operation changed, by its byte before and after.
struct CellChange
{
    int cell = 0;
    int before = 0;
    int after = 0;
};

// The cells that differ between the memory before and after; nothing when either is unknown.
std::vector<CellChange> changesOf(const HistoryRecord& record);
// "12 cells changed: coin 3 CoinControl, PriceA, …" in a line, "no change", or "not known" when
// the record lacks the memory before or after.
QString changeSummary(const HistoryRecord& record);

// A new attempt id.
QString newAttemptId();

} // namespace quarvel::history
