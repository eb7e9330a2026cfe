#pragma once

#include <QString>

#include <optional>

namespace quarvel::history {

// Where the history goes: an SQLite file (":memory:" in tests) or a line's PostgreSQL server.
// A server's password is never part of it: libpq finds it in PGPASSWORD or the user's password
// file (~/.pgpass, PGPASSFILE), which it reads only when no one else may.
struct HistoryTarget
{
    enum class Engine
    {
        SQLite,
        PostgreSQL
    };
    Engine engine = Engine::SQLite;
    QString path; // SQLite: the file
    QString host; // PostgreSQL: a host name, or a folder holding the server's Unix socket
    int port = 5432;
    QString database;
    QString user; // empty: libpq's default (PGUSER, else the login name)

    bool isServer() const { return engine == Engine::PostgreSQL; }
    // How it is shown in messages and logs: the file, or postgresql://user@host:port/database.
    QString printable() const;
};

struct ParsedTarget
{
    std::optional<HistoryTarget> target;
    QString error;
};

// postgresql://[user@]host[:port]/database (postgres:// too; a socket folder as host is written
// with %2F for its slashes). A URL holding a password is refused: a command line is visible to
// every user of the machine.
ParsedTarget parseHistoryUrl(const QString& url);

} // namespace quarvel::history
