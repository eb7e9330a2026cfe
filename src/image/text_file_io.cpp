#include "image/text_file_io.h"

#include "image/field_reader.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <array>

namespace quarvel {

namespace {

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

FileSaveResult saveFileAtomically(const QString& path, std::string_view bytes)
{
    QSaveFile file(path);
    // Writing in place would leave a half-written file behind on failure.
    file.setDirectWriteFallback(false);
    FileSaveResult result;
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = QStringLiteral("Cannot save %1: %2").arg(shown(path), file.errorString());
        return result;
    }
    const auto size = static_cast<qint64>(bytes.size());
    // flush() before commit(): a write error while flushing the buffer is not seen by commit(),
    // which would then put the truncated file in place of the old one.
    if (file.write(bytes.data(), size) != size || !file.flush() || !file.commit()) {
        result.error = QStringLiteral("Cannot save %1: %2").arg(shown(path), file.errorString());
        file.cancelWriting();
        return result;
    }
    result.saved = true;
    return result;
}

FieldFileRead readFieldFile(const QString& path, std::size_t maxFields, std::size_t maxBytes)
{
    FieldFileRead result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("Cannot open %1: %2").arg(shown(path), file.errorString());
        return result;
    }
    result.opened = true;

    FieldReader reader(maxFields);
    std::array<char, std::size_t{16} * 1024> chunk{};
    std::size_t total = 0;
    while (!reader.full()) {
        if (total > maxBytes) {
            // Whatever value was in progress is not trusted: it may go on for gigabytes.
            result.error = QStringLiteral("Cannot read %1: file too large").arg(shown(path));
            result.fields = reader.takeFields();
            return result;
        }
        // One byte past the limit tells a file of exactly maxBytes from a longer one.
        const std::size_t wanted = std::min(chunk.size(), maxBytes + 1 - total);
        const qint64 got = file.read(chunk.data(), static_cast<qint64>(wanted));
        if (got < 0) {
            result.error = QStringLiteral("Cannot read %1: %2").arg(shown(path), file.errorString());
            result.fields = reader.takeFields();
            return result;
        }
        if (got == 0) {
            reader.finish();
            break;
        }
        total += static_cast<std::size_t>(got);
        reader.feed(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
    }
    result.fields = reader.takeFields();
    return result;
}

} // namespace quarvel
