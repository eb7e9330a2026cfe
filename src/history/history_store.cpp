#include "history/history_store.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <utility>

namespace quarvel::history {

namespace {

// The record's columns after seq and id, in the order bound and read.
const QStringList& columns()
{
    static const QStringList names{
        QStringLiteral("at_utc"),        QStringLiteral("host"),         QStringLiteral("station"),
        QStringLiteral("port"),          QStringLiteral("adapter"),      QStringLiteral("serial_no"),
        QStringLiteral("identity"),      QStringLiteral("operation"),    QStringLiteral("succeeded"),
        QStringLiteral("completion"),    QStringLiteral("time_outs"),    QStringLiteral("bad_checksums"),
        QStringLiteral("wrong_echoes"),  QStringLiteral("echoes"),       QStringLiteral("duration_ms"),
        QStringLiteral("coin_file"),     QStringLiteral("coin_sha256"),  QStringLiteral("backup_file"),
        QStringLiteral("memory_before"), QStringLiteral("memory_after"), QStringLiteral("message")};
    return names;
}

// Sorts as text in both engines, and a date given as 2026-12-08 compares with it.
QString timeText(const QDateTime& at)
{
    return at.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

// Every text column is NOT NULL: a text never set is stored empty.
QVariant text(const QString& value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

// Cells as hex text: one column type that both engines store and compare alike.
QVariant cells(const QByteArray& bytes)
{
    return text(QString::fromLatin1(bytes.toHex()));
}

std::vector<QVariant> valuesOf(const HistoryRecord& r)
{
    return {timeText(r.at),      text(r.host),       text(r.station),   text(r.port),
            text(r.adapter),     r.serialNo,         cells(r.identity), text(r.operation),
            r.succeeded ? 1 : 0, text(r.completion), r.timeOuts,        r.badChecksums,
            r.wrongEchoes,       r.echoes,           r.durationMs,      text(r.coinFile),
            text(r.coinSha256),  text(r.backupFile), cells(r.before),   cells(r.after),
            text(r.message)};
}

// A row whose first column is id, then columns().
HistoryRecord recordOf(const QSqlQuery& q)
{
    HistoryRecord r;
    int i = 0;
    const auto next = [&] { return q.value(i++); };
    r.id = next().toString();
    r.at = QDateTime::fromString(next().toString(), Qt::ISODateWithMs);
    r.host = next().toString();
    r.station = next().toString();
    r.port = next().toString();
    r.adapter = next().toString();
    r.serialNo = next().toInt();
    r.identity = QByteArray::fromHex(next().toString().toLatin1());
    r.operation = next().toString();
    r.succeeded = next().toInt() != 0;
    r.completion = next().toString();
    r.timeOuts = next().toInt();
    r.badChecksums = next().toInt();
    r.wrongEchoes = next().toInt();
    r.echoes = next().toInt();
    r.durationMs = next().toLongLong();
    r.coinFile = next().toString();
    r.coinSha256 = next().toString();
    r.backupFile = next().toString();
    r.before = QByteArray::fromHex(next().toString().toLatin1());
    r.after = QByteArray::fromHex(next().toString().toLatin1());
    r.message = next().toString();
    return r;
}

QString selectColumns()
{
    return QStringLiteral("id, ") + columns().join(QStringLiteral(", "));
}

// Each step takes the schema one version up; the tables are the same on both engines but for
// the column that numbers rows in arrival order.
QStringList migration(int toVersion, bool server)
{
    const QString seq = server ? QStringLiteral("seq BIGSERIAL PRIMARY KEY")
                               : QStringLiteral("seq INTEGER PRIMARY KEY AUTOINCREMENT");
    QStringList columnsSql;
    for (const QString& name : columns()) {
        const bool number = name == QLatin1String("serial_no") || name == QLatin1String("succeeded") ||
                            name == QLatin1String("time_outs") || name == QLatin1String("bad_checksums") ||
                            name == QLatin1String("wrong_echoes") || name == QLatin1String("echoes");
        const QString type = name == QLatin1String("duration_ms") ? QStringLiteral("BIGINT NOT NULL")
                             : number                             ? QStringLiteral("INTEGER NOT NULL")
                                                                  : QStringLiteral("TEXT NOT NULL");
        columnsSql << name + QLatin1Char(' ') + type;
    }
    switch (toVersion) {
    case 1:
        return {QStringLiteral("CREATE TABLE operations (%1, id VARCHAR(64) NOT NULL UNIQUE, %2)")
                    .arg(seq, columnsSql.join(QStringLiteral(", "))),
                QStringLiteral("CREATE INDEX operations_serial ON operations (serial_no, at_utc)"),
                QStringLiteral("CREATE INDEX operations_at ON operations (at_utc)")};
    case 2:
        // Records waiting for a server, in the order taken; the record itself is in operations.
        return {QStringLiteral("CREATE TABLE spool (%1, id VARCHAR(64) NOT NULL UNIQUE)").arg(seq)};
    default:
        return {};
    }
}

constexpr int kLatestVersion = 2;

} // namespace

HistoryStore::HistoryStore(QString name) : m_name(std::move(name)) {}

HistoryStore::~HistoryStore()
{
    close();
}

int HistoryStore::latestSchemaVersion()
{
    return kLatestVersion;
}

QSqlDatabase HistoryStore::db() const
{
    return QSqlDatabase::database(m_name, false);
}

bool HistoryStore::isOpen() const
{
    return QSqlDatabase::contains(m_name) && db().isOpen();
}

void HistoryStore::close()
{
    if (!QSqlDatabase::contains(m_name)) return;
    db().close();
    QSqlDatabase::removeDatabase(m_name);
}

bool HistoryStore::failed(const QString& what, const QSqlError& error)
{
    m_error = what.isEmpty() ? error.text() : QStringLiteral("%1: %2").arg(what, error.text());
    return false;
}

bool HistoryStore::open(const HistoryTarget& target, int connectTimeoutS)
{
    close();
    m_target = target;
    m_error.clear();
    m_refusedLogin = false;
    const QString driver = target.isServer() ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        m_error = QStringLiteral("the Qt SQL driver %1 is not installed").arg(driver);
        return false;
    }
    if (!connect(driver, connectTimeoutS)) {
        close();
        return false;
    }
    // A write-ahead log: one sync per record instead of several, and a reader (quarvelctl history)
    // never blocks a station that is writing. A file that cannot take it (read-only) is read as it is.
    if (!target.isServer() && target.path != QLatin1String(":memory:"))
        QSqlQuery(db()).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    if (!migrate()) {
        close();
        return false;
    }
    return true;
}

bool HistoryStore::connect(const QString& driver, int connectTimeoutS)
{
    const HistoryTarget& target = m_target;
    QSqlDatabase database = QSqlDatabase::addDatabase(driver, m_name);
    if (target.isServer()) {
        database.setHostName(target.host);
        database.setPort(target.port);
        database.setDatabaseName(target.database);
        if (!target.user.isEmpty()) database.setUserName(target.user);
        database.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(connectTimeoutS));
    } else {
        if (target.path != QLatin1String(":memory:")) QDir().mkpath(QFileInfo(target.path).absolutePath());
        database.setDatabaseName(target.path);
        // Another program reading the file must not fail a write at once.
        database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    }
    if (!database.open()) {
        const QString text = database.lastError().text();
        m_refusedLogin =
            text.contains(QLatin1String("authentication failed")) ||
            text.contains(QLatin1String("no password supplied")) ||
            (text.contains(QLatin1String("role ")) && text.contains(QLatin1String("does not exist")));
        return failed(QString(), database.lastError());
    }
    return true;
}

bool HistoryStore::exec(const QString& sql)
{
    QSqlQuery q(db());
    return q.exec(sql) || failed(QString(), q.lastError());
}

int HistoryStore::schemaVersion()
{
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !q.next()) return 0;
    return q.value(0).toInt();
}

bool HistoryStore::migrate()
{
    QSqlDatabase database = db();
    // Several stations may start at once on one server: the first makes the tables, the others
    // find them (a lost race is a failed CREATE, tried again once it has been made).
    if (!database.tables().contains(QStringLiteral("schema_version")) &&
        !exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL UNIQUE)")) &&
        !database.tables().contains(QStringLiteral("schema_version")))
        return false;
    for (int attempt = 0; attempt < 5; ++attempt) {
        bool lost = false;
        for (int version = schemaVersion() + 1; version <= kLatestVersion && !lost; ++version) {
            database.transaction();
            bool ok = true;
            for (const QString& sql : migration(version, m_target.isServer()))
                ok = ok && exec(sql);
            QSqlQuery mark(database);
            mark.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
            mark.addBindValue(version);
            ok = ok && (mark.exec() || failed(QString(), mark.lastError()));
            if (ok && database.commit()) continue;
            database.rollback();
            lost = true;
        }
        if (!lost) break;
    }
    if (schemaVersion() < kLatestVersion) {
        if (m_error.isEmpty()) m_error = QStringLiteral("the history's tables could not be made");
        return false;
    }
    if (schemaVersion() > kLatestVersion) {
        m_error = QStringLiteral("the history was written by a newer version of this program (schema %1)")
                      .arg(schemaVersion());
        return false;
    }
    m_error.clear(); // a race lost on the way, since won
    return true;
}

bool HistoryStore::write(const HistoryRecord& record)
{
    QStringList marks;
    for (qsizetype i = 0; i <= columns().size(); ++i)
        marks << QStringLiteral("?");
    QSqlQuery q(db());
    q.prepare(QStringLiteral("INSERT INTO operations (id, %1) VALUES (%2) ON CONFLICT (id) DO NOTHING")
                  .arg(columns().join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));
    q.addBindValue(record.id);
    for (const QVariant& value : valuesOf(record))
        q.addBindValue(value);
    return q.exec() || failed(QStringLiteral("the record could not be written"), q.lastError());
}

std::vector<HistoryRecord> HistoryStore::find(const HistoryFilter& filter)
{
    QStringList where;
    QVariantList values;
    if (filter.serialNo >= 0) {
        where << QStringLiteral("serial_no = ?");
        values << filter.serialNo;
    }
    if (filter.since.isValid()) {
        where << QStringLiteral("at_utc >= ?");
        values << timeText(filter.since);
    }
    if (!filter.coinFile.isEmpty()) {
        // A name alone finds the file in whatever folder it was sent from.
        where << QStringLiteral("(coin_file = ? OR coin_file LIKE ?)");
        values << filter.coinFile << QStringLiteral("%/") + filter.coinFile;
    }
    if (!filter.station.isEmpty()) {
        where << QStringLiteral("station = ?");
        values << filter.station;
    }
    if (filter.failedOnly) where << QStringLiteral("succeeded = 0");
    QString sql = QStringLiteral("SELECT %1 FROM operations").arg(selectColumns());
    if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY at_utc DESC, seq DESC");
    if (filter.limit > 0) sql += QStringLiteral(" LIMIT %1").arg(filter.limit);
    return select(sql, values, QStringLiteral("the history could not be read"));
}

std::vector<HistoryRecord> HistoryStore::select(const QString& sql, const QVariantList& values,
                                                const QString& what)
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& value : values)
        q.addBindValue(value);
    std::vector<HistoryRecord> records;
    if (!q.exec()) {
        failed(what, q.lastError());
        return records;
    }
    while (q.next())
        records.push_back(recordOf(q));
    return records;
}

std::optional<HistoryRecord> HistoryStore::record(const QString& id)
{
    auto found = select(QStringLiteral("SELECT %1 FROM operations WHERE id = ?").arg(selectColumns()), {id},
                        QStringLiteral("the history could not be read"));
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::vector<HistoryRecord> HistoryStore::withIdPrefix(const QString& prefix)
{
    // Ids are hex digits and dashes: nothing in prefix is a LIKE wildcard once checked.
    static const QRegularExpression idText(QStringLiteral("^[0-9a-fA-F-]+$"));
    if (!idText.match(prefix).hasMatch()) return {};
    return select(
        QStringLiteral("SELECT %1 FROM operations WHERE id LIKE ? ORDER BY seq LIMIT 2").arg(selectColumns()),
        {prefix.toLower() + QLatin1Char('%')}, QStringLiteral("the history could not be read"));
}

std::vector<QString> HistoryStore::idsInOrder()
{
    std::vector<QString> ids;
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id FROM operations ORDER BY seq"))) return ids;
    while (q.next())
        ids.push_back(q.value(0).toString());
    return ids;
}

bool HistoryStore::spool(const HistoryRecord& record)
{
    m_error.clear();
    QSqlDatabase database = db();
    database.transaction();
    QSqlQuery q(database);
    q.prepare(QStringLiteral("INSERT INTO spool (id) VALUES (?) ON CONFLICT (id) DO NOTHING"));
    q.addBindValue(record.id);
    if (write(record) &&
        (q.exec() || failed(QStringLiteral("the record could not be spooled"), q.lastError())) &&
        database.commit())
        return true;
    if (m_error.isEmpty()) failed(QStringLiteral("the record could not be spooled"), database.lastError());
    database.rollback();
    return false;
}

std::vector<HistoryRecord> HistoryStore::spooled(int limit)
{
    return select(
        QStringLiteral("SELECT o.id, %1 FROM spool s JOIN operations o ON o.id = s.id ORDER BY s.seq LIMIT ?")
            .arg(QStringLiteral("o.") + columns().join(QStringLiteral(", o."))),
        {limit}, QStringLiteral("the spool could not be read"));
}

bool HistoryStore::unspool(const QString& id)
{
    QSqlQuery q(db());
    q.prepare(QStringLiteral("DELETE FROM spool WHERE id = ?"));
    q.addBindValue(id);
    return q.exec() || failed(QStringLiteral("the spool could not be updated"), q.lastError());
}

int HistoryStore::spooledCount()
{
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM spool")) || !q.next()) return 0;
    return q.value(0).toInt();
}

} // namespace quarvel::history
