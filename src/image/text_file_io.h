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
};

// Reads values (see FieldReader) until maxFields are complete or the file ends, never more
// than maxBytes bytes: a huge or binary file is read only as far as it can be useful. When the
// limit is reached first, the values complete by then are kept and an error is given.
FieldFileRead readFieldFile(const QString& path, std::size_t maxFields, std::size_t maxBytes);

} // namespace quarvel
