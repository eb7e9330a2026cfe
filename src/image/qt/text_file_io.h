#pragma once

#include <QString>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Disk access shared by the coin data and state files: bounded reading, atomic saving.
namespace quarvel {

struct FileSaveResult
{
    bool saved = false;
    QString error; // "Cannot save <path>: <reason>" when not saved
};

// Replaces the file at path with bytes, all or nothing: the old file stays byte-identical
// unless the new content was written completely.
FileSaveResult saveFileAtomically(const QString& path, std::string_view bytes);

struct FieldFileRead
{
    bool opened = false;
    std::vector<std::string> fields; // the values complete before reading stopped
    QString error;                   // empty unless opening or reading failed, or the file is too large
    bool notText = false;            // requireText refused it; error says so
};

// Reads values (see FieldReader) until maxFields are complete or the file ends, never more
// than maxBytes bytes: a huge or binary file is read only as far as it can be useful. When the
// limit is reached first, the values complete by then are kept and an error is given.
// path "-" reads standard input.
// A UTF-8 byte-order mark at the start is skipped: it would otherwise become part of the first
// value. With requireText, a NUL byte or a byte sequence that is not UTF-8 among the bytes read
// stops reading with notText and "<path> is not a coin data file"; UTF-16 and binary files end
// there instead of being read as values.
// The SHA-256 of the file's bytes, hex; empty when it cannot be read whole within maxBytes.
QString fileSha256(const QString& path, std::size_t maxBytes);

FieldFileRead readFieldFile(const QString& path, std::size_t maxFields, std::size_t maxBytes,
                            bool requireText = false);

} // namespace quarvel
