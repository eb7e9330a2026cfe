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
    return QStringLiteral("time,port,adapter,serial_number,result,cells_programmed,verified,time_outs,"
                          "bad_checksums,duration_ms,backup_file,coin_data_file,sha256\n");
}

QString GangLog::row(const session::GangUnitResult& r, const QString& adapter, const QString& serial,
                     const QString& coinFile, const QString& sha256Hex)
{
    const QDateTime at = r.finishedAt.toOffsetFromUtc(r.finishedAt.offsetFromUtc());
    const QStringList fields{at.toString(Qt::ISODateWithMs),
                             r.port,
                             adapter,
                             serial,
                             r.passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
                             QString::number(r.cellsProgrammed),
                             r.verified ? QStringLiteral("yes") : QStringLiteral("no"),
                             QString::number(r.timeOuts),
                             QString::number(r.badChecksums),
                             QString::number(r.durationMs),
                             r.backupFile,
                             coinFile,
                             sha256Hex};
    QStringList out;
    for (const QString& f : fields)
        out << field(f);
    return out.join(QLatin1Char(',')) + QLatin1Char('\n');
}

bool GangLog::open(const QString& path, const QString& coinFile, const QByteArray& coinFileSha256,
                   QString* error)
{
    m_coinFile = QFileInfo(coinFile).fileName();
    m_sha256 = QString::fromLatin1(coinFileSha256.toHex());
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        if (error) *error = QStringLiteral("Cannot open the log %1: %2").arg(path, m_file.errorString());
        return false;
    }
    if (m_file.size() == 0 && (m_file.write(header().toUtf8()) < 0 || !m_file.flush())) {
        if (error) *error = QStringLiteral("Cannot write the log %1: %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

bool GangLog::append(const session::GangUnitResult& result, const QString& adapter, const QString& serial)
{
    if (!m_file.isOpen()) return false;
    return m_file.write(row(result, adapter, serial, m_coinFile, m_sha256).toUtf8()) >= 0 && m_file.flush();
}

} // namespace quarvel::cli
