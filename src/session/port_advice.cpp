#include "session/port_advice.h"

#include "session/port_names.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quarvel::session {

namespace {

constexpr char kWhereListed[] =
    "the serial ports found are listed by quarvelctl ports and in the System menu";

#ifdef Q_OS_UNIX
// Opened without waiting and let go at once: a path that is no terminal cannot be a serial port.
bool isSerialDevice(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true; // it could not be looked at: the error says why
    const bool terminal = ::isatty(fd) != 0;
    ::close(fd);
    return terminal;
}
#endif

} // namespace

QString portOpenAdvice(const QString& nameOrPath, const QString& error)
{
    const QString listed = QLatin1String(kWhereListed);
    if (hostPlatform() != Platform::Windows) {
        static const QRegularExpression com(QStringLiteral("^com(\\d+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = com.match(nameOrPath);
        if (match.hasMatch() && !QFileInfo::exists(nameOrPath) && match.captured(1).toInt() >= 1)
            return QStringLiteral("%1; %2 is a Windows name, here it is /dev/ttyS%3 (%4)")
                .arg(error, nameOrPath, QString::number(match.captured(1).toInt() - 1), listed);
    }
#ifdef Q_OS_UNIX
    if (QFileInfo::exists(nameOrPath) && !isSerialDevice(nameOrPath))
        return QStringLiteral("%1 is not a serial port (%2)").arg(nameOrPath, listed);
#endif
    if (!QFileInfo::exists(nameOrPath) && nameOrPath.contains(QLatin1Char('/')))
        return QStringLiteral("%1 (%2)").arg(error, listed);
    return error;
}

QString noAnswerAdvice()
{
    return QStringLiteral("the selector never answered: check the cable, and that the selector has power, "
                          "then check the line (quarvelctl check, or System > Check Link...)");
}

} // namespace quarvel::session
