#include "image/coin_data_file.h"

#include "image/field_reader.h"

#include <algorithm>

namespace quarvel {

std::vector<std::string> parseCoinData(std::string_view text)
{
    FieldReader reader(kCoinDataValues);
    reader.feed(text);
    reader.finish();
    return reader.takeFields();
}

int storeCoinData(const std::vector<std::string>& values, ParameterImage& image)
{
    const int count = static_cast<int>(std::min<std::size_t>(values.size(), kCoinDataValues));
    for (int cell = 0; cell < count; ++cell)
        image.setText(cell, values[static_cast<std::size_t>(cell)]);
    return count;
}

int loadCoinData(std::string_view text, ParameterImage& image)
{
    return storeCoinData(parseCoinData(text), image);
}

std::string serializeCoinData(const ParameterImage& image)
{
    std::string text;
    text.reserve(std::size_t{kCoinDataValues} * 7);
    for (int cell = 0; cell < kCoinDataValues; ++cell) {
        text += '"';
        text += image.text(cell);
        text += "\"\r\n";
    }
    return text;
}

} // namespace quarvel
