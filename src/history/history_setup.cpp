#include "history/history_setup.h"

#include "history/history_store.h"
#include "image/qt/user_folders.h"

#include <QDir>

namespace quarvel::history {

QString defaultHistoryFile()
{
    return QDir(userDataFolder()).filePath(QStringLiteral("history.sqlite"));
}

RecorderConfig recorderConfig(const std::optional<HistoryTarget>& server)
{
    RecorderConfig config;
    config.local.path = defaultHistoryFile();
    config.server = server;
    return config;
}

QString refusedLogin(const HistoryTarget& server, int connectTimeoutS)
{
    HistoryStore store(QStringLiteral("history-login-check"));
    if (store.open(server, connectTimeoutS) || !store.refusedLogin()) return {};
    return QStringLiteral("history: the server %1 refused the login: %2")
        .arg(server.printable(), store.lastError().trimmed());
}

} // namespace quarvel::history
