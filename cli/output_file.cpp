#include "output_file.h"

#include "image/qt/text_file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace quarvel::cli {

namespace {

QString cannotSave(const QString& path, const QString& reason)
{
    return QStringLiteral("Cannot save %1: %2").arg(QDir::toNativeSeparators(path), reason);
}

// A path naming a device or a process's descriptor is never a file to replace, even when it
// leads to one (/dev/stdout redirected to a file must keep writing into that file).
bool isSpecialPath(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return absolute.startsWith(QLatin1String("/dev/")) || absolute.startsWith(QLatin1String("/proc/"));
}

QString writeStraight(QFile& file, const QString& path, std::string_view bytes)
{
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size || !file.flush()) return cannotSave(path, file.errorString());
    return {};
}

} // namespace

QString outputProblem(const QString& path)
{
    if (path == QLatin1String(kStandardOutput) || isSpecialPath(path)) return {};
    const QFileInfo info(path);
    if (info.isDir()) return cannotSave(path, QStringLiteral("it is a folder"));
    if (info.exists()) return {}; // a file, FIFO or device: its own open says more, and later
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return cannotSave(
            path,
            QStringLiteral("the folder %1 does not exist").arg(QDir::toNativeSeparators(folder.filePath())));
    if (!folder.isWritable())
        return cannotSave(path, QStringLiteral("the folder %1 cannot be written")
                                    .arg(QDir::toNativeSeparators(folder.filePath())));
    return {};
}

QString writeOutput(const QString& path, std::string_view bytes)
{
    if (path == QLatin1String(kStandardOutput)) {
#ifdef Q_OS_WIN
        // Standard output is in text mode: each LF of the file's CR LF would gain a CR of its own.
        std::fflush(stdout);
        const int mode = _setmode(_fileno(stdout), _O_BINARY);
#endif
        QFile out;
        QString error;
        if (!out.open(stdout, QIODevice::WriteOnly))
            error = cannotSave(QStringLiteral("standard output"), out.errorString());
        else
            error = writeStraight(out, QStringLiteral("standard output"), bytes);
#ifdef Q_OS_WIN
        out.close();
        if (mode != -1) _setmode(_fileno(stdout), mode);
#endif
        return error;
    }
    const QFileInfo info(path);
    const bool replaceable = !isSpecialPath(path) && (!info.exists() || info.isFile());
    if (replaceable) {
        const FileSaveResult saved = saveFileAtomically(path, bytes);
        return saved.saved ? QString() : saved.error;
    }
    // Opened as it is, neither truncated nor created: /dev/stdout may lead to a file the shell
    // opened, and a FIFO or a device has nothing to truncate.
    QFile file;
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return cannotSave(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return cannotSave(path, file.errorString());
#else
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return cannotSave(path, file.errorString());
#endif
    return writeStraight(file, path, bytes);
}

} // namespace quarvel::cli
