#pragma once

#include "session/gang_station.h"

#include <QFile>
#include <QString>

namespace quarvel::cli {

// The results log of a gang: one CSV row per selector, appended and flushed at once so a crash
// loses nothing, and never half a row; a header first when the file is new.
class GangLog
{
public:
    // The coin data file's name and SHA-256 go into every row.
    bool open(const QString& path, const QString& coinFile, const QByteArray& coinFileSha256, QString* error);
    bool isOpen() const { return m_file.isOpen(); }
    // adapter and serial: what the system knows of the port's USB adapter ("" when nothing).
    bool append(const session::GangUnitResult& result, const QString& adapter, const QString& serial);
    // Station mode: the port went away at this time; a row of its own.
    bool appendPortLost(const QString& port, const QDateTime& at, const QString& adapter,
                        const QString& serial);

    static QString header();
    static QString row(const session::GangUnitResult& result, const QString& adapter, const QString& serial,
                       const QString& coinFile, const QString& sha256Hex);

private:
    static QString row(const session::GangUnitResult& result, const QString& resultText,
                       const QString& adapter, const QString& serial, const QString& coinFile,
                       const QString& sha256Hex);
    bool writeWhole(const QByteArray& bytes);

    QFile m_file;
    QString m_coinFile;
    QString m_sha256;
    QString m_writeError; // the system's reason for the last write that failed
};

} // namespace quarvel::cli
