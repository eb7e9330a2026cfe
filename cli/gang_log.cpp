#include "gang_log.h"

#include <QFileInfo>
#include <QStringList>

namespace quarvel::cli {

namespace {

// RFC 4180: a field with a comma, quote or line break is quoted, its quotes doubled.
QString field(QString text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    text.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

QString GangLog::header()
{
    return QStringLiteral(
        "time,port,adapter,serial_number,result,cells_programmed,verified,time_outs,"
        "bad_checksums,duration_ms,backup_file,coin_data_file,sha256,selector_serial_number\n");
}

QString GangLog::row(const session::GangUnitResult& r, const QString& adapter, const QString& serial,
                     const QString& coinFile, const QString& sha256Hex)
{
    return row(r, r.passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"), adapter, serial, coinFile,
               sha256Hex);
}

QString GangLog::row(const session::GangUnitResult& r, const QString& result, const QString& adapter,
                     const QString& serial, const QString& coinFile, const QString& sha256Hex)
{
    const QDateTime at = r.finishedAt.toOffsetFromUtc(r.finishedAt.offsetFromUtc());
    const QStringList fields{at.toString(Qt::ISODateWithMs),
                             r.port,
                             adapter,
                             serial,
                             result,
                             QString::number(r.cellsProgrammed),
                             r.verified ? QStringLiteral("yes") : QStringLiteral("no"),
                             QString::number(r.timeOuts),
                             QString::number(r.badChecksums),
                             QString::number(r.durationMs),
                             r.backupFile,
                             coinFile,
                             sha256Hex,
                             r.serialNo >= 0 ? QString::number(r.serialNo) : QString()};
    QStringList out;
    for (const QString& f : fields)
        out << field(f);
    return out.join(QLatin1Char(',')) + QLatin1Char('\n');
}

bool GangLog::open(const QString& path, const QString& coinFile, const QByteArray& coinFileSha256,
                   QString* error)
{
    // Absolute, so a row still names its files when the log is read from elsewhere.
    m_coinFile = QFileInfo(coinFile).absoluteFilePath();
    m_sha256 = QString::fromLatin1(coinFileSha256.toHex());
    m_file.setFileName(path);
    const bool existed = QFileInfo::exists(path);
    // Unbuffered: a write that fails must leave nothing behind to reach the file later.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered)) {
        if (error) *error = QStringLiteral("Cannot open the log %1: %2").arg(path, m_file.errorString());
        return false;
    }
    // A row cut short by an earlier run (a full disk) must not swallow the first row of this one.
    QString start;
    if (m_file.size() == 0) {
        start = header();
    } else {
        QFile tail(path);
        if (tail.open(QIODevice::ReadOnly) && tail.seek(tail.size() - 1) && tail.read(1) != "\n")
            start = QStringLiteral("\n");
    }
    if (!start.isEmpty() && !writeWhole(start.toUtf8())) {
        if (error) *error = QStringLiteral("Cannot write the log %1: %2").arg(path, m_writeError);
        m_file.close();
        // An empty log made here would read as a run that logged nothing.
        if (!existed) QFile::remove(path);
        return false;
    }
    return true;
}

bool GangLog::append(const session::GangUnitResult& result, const QString& adapter, const QString& serial)
{
    if (!m_file.isOpen()) return false;
    session::GangUnitResult r = result;
    if (!r.backupFile.isEmpty()) r.backupFile = QFileInfo(r.backupFile).absoluteFilePath();
    return writeWhole(row(r, adapter, serial, m_coinFile, m_sha256).toUtf8());
}

bool GangLog::appendPortLost(const QString& port, const QDateTime& at, const QString& adapter,
                             const QString& serial)
{
    if (!m_file.isOpen()) return false;
    session::GangUnitResult r;
    r.port = port;
    r.finishedAt = at;
    return writeWhole(row(r, QStringLiteral("PORT LOST"), adapter, serial, m_coinFile, m_sha256).toUtf8());
}

// A row is written whole or not at all: what a failed write left behind is cut off again.
bool GangLog::writeWhole(const QByteArray& bytes)
{
    const qint64 before = m_file.size();
    if (m_file.write(bytes) == bytes.size()) return true;
    // Taken before the resize, which would put its own (or no) error in its place.
    m_writeError = m_file.errorString();
    m_file.resize(before);
    return false;
}

} // namespace quarvel::cli
