#pragma once

#include "image/parameter_image.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

// Coin data files as both front ends take them in: all of a file or a clear error.
namespace quarvel {

struct ImageFile
{
    std::vector<std::string> values; // at most 256, in file order
    // The main default image with the file's values from cell 0 on: what the program holds
    // after opening the file on a fresh start.
    ParameterImage image;

    int valueCount() const { return static_cast<int>(values.size()); }
    // Programming sends cells 0..188; a file that stops short of them cannot be programmed.
    bool coversSelector() const { return valueCount() >= ParameterImage::kSelectorCells; }
};

struct ImageFileRead
{
    std::optional<ImageFile> file;
    QString error; // when file is empty: why, naming the file
};

// Refuses a file that cannot be opened or read to its end, is too large, is not text ("<path>
// is not a coin data file": NUL bytes, UTF-16, bytes that are not UTF-8) or holds no value at
// all. A UTF-8 byte-order mark at the start is skipped. A short file is accepted: callers that
// need every selector cell check coversSelector().
ImageFileRead readImageFile(const QString& path);

// "note: FILE holds 200 values; cells 200..255 keep the default image", or "note: FILE holds 1
// value; selector cells 1..188 keep the default image", for a file of fewer
// than 256 values, otherwise empty.
QString shortFileNote(const QString& path, const ImageFile& file);

} // namespace quarvel
