#include "history/history_target.h"

#include <QRegularExpression>
#include <QUrl>

namespace quarvel::history {

QString HistoryTarget::printable() const
{
    if (!isServer()) return path;
    const auto encoded = [](const QString& part) {
        return QString::fromLatin1(QUrl::toPercentEncoding(part));
    };
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty()) text += encoded(user) + QLatin1Char('@');
    text += encoded(host);
    if (port != 5432) text += QLatin1Char(':') + QString::number(port);
    return text + QLatin1Char('/') + encoded(database);
}

ParsedTarget parseHistoryUrl(const QString& text)
{
    const auto fail = [&](const QString& why) {
        // The URL as given, but never a password someone put in it.
        static const QRegularExpression password(QStringLiteral("^([^:/]+://[^:@/]*):[^@/]*@"));
        QString shown = text;
        shown.replace(password, QStringLiteral("\\1@"));
        return ParsedTarget{std::nullopt, QStringLiteral("--history %1: %2").arg(shown, why)};
    };
    const QString scheme = text.section(QStringLiteral("://"), 0, 0);
    if (!text.contains(QStringLiteral("://")) ||
        (scheme != QLatin1String("postgresql") && scheme != QLatin1String("postgres")))
        return fail(QStringLiteral("takes postgresql://host/database"));
    QString rest = text.section(QStringLiteral("://"), 1);
    HistoryTarget target;
    target.engine = HistoryTarget::Engine::PostgreSQL;
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    if (slash < 0) return fail(QStringLiteral("names no database (postgresql://host/database)"));
    target.database = QUrl::fromPercentEncoding(rest.mid(slash + 1).toUtf8());
    QString authority = rest.left(slash);
    if (const qsizetype at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString user = authority.left(at);
        if (user.contains(QLatin1Char(':')))
            return fail(QStringLiteral("a password does not go on the command line; put it in ~/.pgpass or "
                                       "PGPASSWORD"));
        target.user = QUrl::fromPercentEncoding(user.toUtf8());
        authority = authority.mid(at + 1);
    }
    if (const qsizetype colon = authority.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        bool ok = false;
        target.port = authority.mid(colon + 1).toInt(&ok);
        if (!ok || target.port < 1 || target.port > 65535)
            return fail(QStringLiteral("the port must be 1 to 65535"));
        authority = authority.left(colon);
    }
    target.host = QUrl::fromPercentEncoding(authority.toUtf8());
    if (target.host.isEmpty() || target.database.isEmpty() || target.database.contains(QLatin1Char('/')) ||
        target.database.contains(QLatin1Char('?')))
        return fail(QStringLiteral("takes postgresql://host/database"));
    return {target, {}};
}

} // namespace quarvel::history
