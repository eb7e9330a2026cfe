#include "history/history_store.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

using namespace quarvel::history;

namespace {

HistoryRecord sample(const QString& id, const QString& at, int serial = 38, bool ok = true)
{
    HistoryRecord r;
    r.id = id;
    r.at = QDateTime::fromString(at, Qt::ISODateWithMs);
    r.host = QStringLiteral("bench1");
    r.station = QStringLiteral("line A");
    r.port = QStringLiteral("/dev/ttyUSB0");
    r.adapter = QStringLiteral("0403:6001 A1B2");
    r.serialNo = serial;
    r.identity = QByteArray("\x26\x01\x02\x03\x04", 5);
    r.operation = QStringLiteral("program");
    r.succeeded = ok;
    r.completion = ok ? QStringLiteral("verified") : QStringLiteral("partly 85 of 184");
    r.timeOuts = 3;
    r.badChecksums = 2;
    r.wrongEchoes = 1;
    r.durationMs = 3420;
    r.coinFile = QStringLiteral("/data/euro.cdt");
    r.coinSha256 = QStringLiteral("ab12");
    r.backupFile = QStringLiteral("/b/1.cdt");
    r.before = QByteArray(189, '\x07');
    r.after = r.before;
    r.after[30] = '\x09';
    r.message = QStringLiteral("Programmed 184 cells; verified");
    return r;
}

HistoryTarget memory()
{
    HistoryTarget t;
    t.path = QStringLiteral(":memory:");
    return t;
}

QStringList ids(const std::vector<HistoryRecord>& records)
{
    QStringList out;
    for (const auto& r : records)
        out << r.id;
    return out;
}

} // namespace

TEST(HistoryStore, KeepsEveryFieldAndAnAttemptOnce)
{
    HistoryStore store(QStringLiteral("t1"));
    ASSERT_TRUE(store.open(memory())) << store.lastError().toStdString();
    const HistoryRecord r = sample(QStringLiteral("a"), QStringLiteral("2026-12-08T10:00:00.000Z"));
    ASSERT_TRUE(store.write(r));
    ASSERT_TRUE(store.write(r)) << "a second write of one attempt is no failure";
    EXPECT_EQ(store.idsInOrder(), std::vector<QString>{QStringLiteral("a")});
    const auto back = store.record(QStringLiteral("a"));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, r);
    EXPECT_EQ(back->before.size(), 189);
}

TEST(HistoryStore, FindsByEachQuestionNewestFirst)
{
    HistoryStore store(QStringLiteral("t2"));
    ASSERT_TRUE(store.open(memory()));
    store.write(sample(QStringLiteral("old"), QStringLiteral("2026-12-01T09:00:00.000Z")));
    store.write(sample(QStringLiteral("new"), QStringLiteral("2026-12-08T09:00:00.000Z")));
    auto other = sample(QStringLiteral("other"), QStringLiteral("2026-12-05T09:00:00.000Z"), 17, false);
    other.station = QStringLiteral("line B");
    other.coinFile = QStringLiteral("/x/dollar.cdt");
    store.write(other);

    struct Case
    {
        const char* name;
        HistoryFilter filter;
        QStringList expected;
    };
    HistoryFilter serial, since, file, failed, station, all;
    serial.serialNo = 38;
    since.since = QDateTime::fromString(QStringLiteral("2026-12-05T00:00:00Z"), Qt::ISODate);
    file.coinFile = QStringLiteral("dollar.cdt");
    failed.failedOnly = true;
    station.station = QStringLiteral("line A");
    const Case cases[] = {
        {"all", all, {"new", "other", "old"}}, {"serial", serial, {"new", "old"}},
        {"since", since, {"new", "other"}},    {"file by name alone", file, {"other"}},
        {"failed", failed, {"other"}},         {"station", station, {"new", "old"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ids(store.find(c.filter)), c.expected) << c.name;
}

TEST(HistoryStore, MigratesAnOlderFileAndRefusesANewerOne)
{
    QTemporaryDir dir;
    HistoryTarget file;
    file.path = dir.filePath(QStringLiteral("h.sqlite"));
    {
        // A file as the first version left it: its records, no spool.
        HistoryStore store(QStringLiteral("t3"));
        ASSERT_TRUE(store.open(file));
        store.write(sample(QStringLiteral("kept"), QStringLiteral("2026-12-01T09:00:00.000Z")));
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("t3")));
        ASSERT_TRUE(q.exec(QStringLiteral("DROP TABLE spool")));
        ASSERT_TRUE(q.exec(QStringLiteral("DELETE FROM schema_version WHERE version > 1")));
    }
    HistoryStore store(QStringLiteral("t4"));
    ASSERT_TRUE(store.open(file)) << store.lastError().toStdString();
    EXPECT_EQ(store.schemaVersion(), HistoryStore::latestSchemaVersion());
    EXPECT_TRUE(store.record(QStringLiteral("kept")));
    EXPECT_EQ(store.spooledCount(), 0);

    QSqlQuery(QSqlDatabase::database(QStringLiteral("t4")))
        .exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (99)"));
    store.close();
    EXPECT_FALSE(store.open(file));
    EXPECT_TRUE(store.lastError().contains(QStringLiteral("newer version")))
        << store.lastError().toStdString();
}

TEST(HistoryRecord, SaysWhatChanged)
{
    HistoryRecord r = sample(QStringLiteral("a"), QStringLiteral("2026-12-08T10:00:00.000Z"));
    EXPECT_EQ(changesOf(r).size(), 1U);
    EXPECT_TRUE(changeSummary(r).startsWith(QStringLiteral("1 cell changed: ")))
        << changeSummary(r).toStdString();
    r.after = r.before;
    EXPECT_EQ(changeSummary(r), QStringLiteral("no change"));
    r.before.clear();
    EXPECT_EQ(changeSummary(r), QStringLiteral("not known"));
}

TEST(HistoryTarget, ReadsALineServerAndNeverAPassword)
{
    struct Case
    {
        const char* url;
        bool ok;
        const char* host;
        int port;
        const char* database;
        const char* printable;
    };
    const Case cases[] = {
        {"postgresql://db.line/quarvel", true, "db.line", 5432, "quarvel", "postgresql://db.line/quarvel"},
        {"postgres://tech@db:5433/h", true, "db", 5433, "h", "postgresql://tech@db:5433/h"},
        {"postgresql://%2Ftmp%2Fpg/h", true, "/tmp/pg", 5432, "h", "postgresql://%2Ftmp%2Fpg/h"},
        {"postgresql://tech:secret@db/h", false, "", 0, "", ""},
        {"postgresql://db", false, "", 0, "", ""},
        {"mysql://db/h", false, "", 0, "", ""},
        {"postgresql://db:99999/h", false, "", 0, "", ""},
    };
    for (const Case& c : cases) {
        const auto parsed = parseHistoryUrl(QString::fromUtf8(c.url));
        ASSERT_EQ(parsed.target.has_value(), c.ok) << c.url;
        if (!c.ok) {
            EXPECT_FALSE(parsed.error.contains(QStringLiteral("secret"))) << c.url;
            continue;
        }
        EXPECT_EQ(parsed.target->host, QString::fromUtf8(c.host)) << c.url;
        EXPECT_EQ(parsed.target->port, c.port) << c.url;
        EXPECT_EQ(parsed.target->database, QString::fromUtf8(c.database)) << c.url;
        EXPECT_EQ(parsed.target->printable(), QString::fromUtf8(c.printable)) << c.url;
    }
}
