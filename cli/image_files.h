#pragma once

#include "image/parameter_image.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

// Coin data files as quarvelctl takes them in: all of a file or a clear error.
namespace quarvel::cli {

struct ImageFile
{
    std::vector<std::string> values; // at most 256
    // What the desktop program holds after opening the file: its default image, then the
    // file's values from cell 0 on.
    ParameterImage image;
};

struct ImageFileRead
{
    std::optional<ImageFile> file;
    QString error; // when file is empty: why, naming the file
};

// Refuses a file that cannot be opened or read to its end, is too large, or holds no value
// at all (nothing in it could be a coin data file). A short file is accepted: see
// shortFileNote().
ImageFileRead readImageFile(const QString& path);

// "note: FILE holds 200 values; cells 200..255 keep the default image" for a file of fewer
// than 256 values, otherwise empty.
QString shortFileNote(const QString& path, const ImageFile& file);

} // namespace quarvel::cli
