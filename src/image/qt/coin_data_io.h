#pragma once

#include "image/coin_data_file.h"
#include "image/qt/text_file_io.h"

#include <QString>

#include <string>
#include <vector>

namespace quarvel {

// A coin data file's text is a few kilobytes; this leaves room for 256 very long values and
// stops a huge or binary file from being read on and on.
constexpr std::size_t kMaxCoinDataBytes = std::size_t{512} * 1024;

struct CoinDataFileRead
{
    bool opened = false;
    std::vector<std::string> values; // at most 256
    QString error;                   // why the file could not be opened or read to its end
};

struct CoinDataLoadResult
{
    bool opened = false;
    int valuesTaken = 0; // cells 0..valuesTaken-1 were replaced
    QString error;
};

// Reads the values of a coin data file without touching any image, for callers that want all
// of a file or nothing.
CoinDataFileRead readCoinDataFile(const QString& path);

// Stores the file's values into cells 0.. as far as they go; values read before a failure stay
// in the image. A short file is not an error: valuesTaken tells how far it went.
CoinDataLoadResult loadCoinDataFile(const QString& path, ParameterImage& image);

// Writes cells 0..255 atomically: on failure the previous file is left as it was.
FileSaveResult saveCoinDataFile(const QString& path, const ParameterImage& image);

} // namespace quarvel
