#pragma once

#include "history/history_record.h"
#include "history/history_target.h"

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <optional>
#include <vector>

namespace quarvel::history {

// Which records a question asks for; empty fields ask nothing of them.
struct HistoryFilter
{
    int serialNo = -1;
    QDateTime since;  // records at or after it
    QString coinFile; // the file's name, with or without its folder
    QString station;
    bool failedOnly = false;
    int limit = 0; // 0: all
};

// The history in one database, through Qt SQL: the same statements serve SQLite and PostgreSQL,
// and the schema is made and brought up to date by the program itself (schema_version).
// A store is used on the thread that opened it, as Qt SQL asks.
class HistoryStore
{
public:
    // name: the Qt SQL connection's, unique in the process.
    explicit HistoryStore(QString name);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Connects and migrates; false with the reason in lastError(). A server is given
    // connectTimeoutS to answer.
    bool open(const HistoryTarget& target, int connectTimeoutS = 5);
    void close();
    bool isOpen() const;
    const HistoryTarget& target() const { return m_target; }
    QString lastError() const { return m_error; }
    // The server refused who we are (a wrong password, an unknown user): waiting will not help.
    bool refusedLogin() const { return m_refusedLogin; }
    int schemaVersion();
    static int latestSchemaVersion();

    // Keeps the record unless one with its id is there already; false only when it failed.
    bool write(const HistoryRecord& record);
    std::vector<HistoryRecord> find(const HistoryFilter& filter);
    std::optional<HistoryRecord> record(const QString& id);
    // The records whose id begins with prefix (two at most: enough to know it is ambiguous).
    std::vector<HistoryRecord> withIdPrefix(const QString& prefix);
    // Every record's id in the order they were written (arrival order).
    std::vector<QString> idsInOrder();

    // The spool of records waiting for a server: each kept here as well, in order.
    bool spool(const HistoryRecord& record);
    std::vector<HistoryRecord> spooled(int limit);
    bool unspool(const QString& id);
    int spooledCount();

private:
    bool connect(const QString& driver, int connectTimeoutS);
    bool migrate();
    bool exec(const QString& sql);
    // The records a SELECT of id and the record's columns finds; what names it in a failure.
    std::vector<HistoryRecord> select(const QString& sql, const QVariantList& values, const QString& what);
    bool failed(const QString& what, const QSqlError& error);
    QSqlDatabase db() const;

    QString m_name;
    HistoryTarget m_target;
    QString m_error;
    bool m_refusedLogin = false;
};

} // namespace quarvel::history
