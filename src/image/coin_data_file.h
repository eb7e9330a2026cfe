#pragma once

#include "image/parameter_image.h"

#include <string>
#include <string_view>
#include <vector>

// A coin data file keeps image cells 0..255 as text, one value per line.
namespace quarvel {

constexpr int kCoinDataValues = ParameterImage::kFileCells;

// The first 256 values of a coin data file's text; anything after them is ignored.
std::vector<std::string> parseCoinData(std::string_view text);

// Stores value k into cell k, for at most the first 256 values; cells without a value keep
// their text. Returns how many values were stored.
int storeCoinData(const std::vector<std::string>& values, ParameterImage& image);

// parseCoinData then storeCoinData.
int loadCoinData(std::string_view text, ParameterImage& image);

// 256 lines, each a cell's text unchanged in double quotes, ended by CR LF.
std::string serializeCoinData(const ParameterImage& image);

} // namespace quarvel
