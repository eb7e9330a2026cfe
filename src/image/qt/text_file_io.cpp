#include "image/qt/text_file_io.h"

#include "image/field_reader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

namespace quarvel {

namespace {

QString shown(const QString& path)
{
    return path == QLatin1String("-") ? QStringLiteral("standard input") : QDir::toNativeSeparators(path);
}

// Checks bytes piece by piece for well-formed UTF-8 without NUL; a sequence may span pieces.
class Utf8Check
{
public:
    bool take(std::string_view bytes)
    {
        for (const char c : bytes)
            if (!takeByte(static_cast<unsigned char>(c))) return false;
        return true;
    }
    // False while a sequence begun is still waiting for its continuation bytes.
    bool complete() const { return m_needed == 0; }

private:
    bool takeByte(unsigned char b)
    {
        if (m_needed > 0) {
            if (b < m_low || b > m_high) return false;
            m_low = 0x80;
            m_high = 0xBF;
            --m_needed;
            return true;
        }
        if (b == 0) return false;
        if (b < 0x80) return true;
        m_low = 0x80;
        m_high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            m_needed = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            m_needed = 2;
            if (b == 0xE0) m_low = 0xA0;  // no overlong forms
            if (b == 0xED) m_high = 0x9F; // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            m_needed = 3;
            if (b == 0xF0) m_low = 0x90;
            if (b == 0xF4) m_high = 0x8F; // nothing past U+10FFFF
        } else {
            return false;
        }
        return true;
    }

    int m_needed = 0;
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

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

namespace {

// Opens path (or standard input, as "-") for reading; what is wrong when it cannot.
std::optional<QString> openForReading(QFile& file, const QString& path)
{
    // A FIFO or a device would block open() or feed a read without end: only a regular file is
    // opened (standard input is the caller's own choice).
    if (const QFileInfo info(path); path != QLatin1String("-") && info.exists() && !info.isFile())
        return QStringLiteral("Cannot open %1: it is not a regular file").arg(shown(path));
    // "-" is standard input, as command-line tools take it.
    const bool opened =
        path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
    if (!opened) return QStringLiteral("Cannot open %1: %2").arg(shown(path), file.errorString());
    return std::nullopt;
}

} // namespace

QString fileSha256(const QString& path, std::size_t maxBytes)
{
    QFile file(path);
    if (openForReading(file, path) || file.size() > static_cast<qint64>(maxBytes)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) return {};
    return QString::fromLatin1(hash.result().toHex());
}

FieldFileRead readFieldFile(const QString& path, std::size_t maxFields, std::size_t maxBytes,
                            bool requireText)
{
    FieldFileRead result;
    QFile file(path);
    if (const auto refused = openForReading(file, path)) {
        result.error = *refused;
        return result;
    }
    result.opened = true;

    FieldReader reader(maxFields);
    Utf8Check utf8;
    // Gives bytes to the reader; false when requireText refuses the bytes it used.
    const auto feed = [&](std::string_view bytes) {
        const std::size_t used = reader.feed(bytes);
        return !requireText || utf8.take(bytes.substr(0, used));
    };
    const auto notText = [&] {
        result.notText = true;
        result.error = QStringLiteral("%1 is not a coin data file").arg(shown(path));
        return result;
    };

    std::array<char, std::size_t{16} * 1024> chunk{};
    std::size_t total = 0;
    // The first bytes are held until it is clear whether they are a byte-order mark; reads may
    // be short (pipes).
    std::string head;
    bool headDone = false;
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
        std::string_view piece(chunk.data(), static_cast<std::size_t>(got));
        total += piece.size();
        if (!headDone) {
            const std::size_t take = std::min(piece.size(), kUtf8Bom.size() - head.size());
            head.append(piece.substr(0, take));
            piece.remove_prefix(take);
            if (head.size() < kUtf8Bom.size() && got != 0) continue;
            headDone = true;
            if (head != kUtf8Bom && !feed(head)) return notText();
        }
        if (got == 0) {
            // A file may not end inside a character any more than hold a broken one.
            if (requireText && !utf8.complete()) return notText();
            reader.finish();
            break;
        }
        if (!feed(piece)) return notText();
    }
    result.fields = reader.takeFields();
    return result;
}

} // namespace quarvel
