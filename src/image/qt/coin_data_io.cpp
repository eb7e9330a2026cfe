#include "image/qt/coin_data_io.h"

namespace quarvel {

CoinDataFileRead readCoinDataFile(const QString& path)
{
    FieldFileRead read = readFieldFile(path, kCoinDataValues, kMaxCoinDataBytes);
    return {read.opened, std::move(read.fields), std::move(read.error)};
}

CoinDataLoadResult loadCoinDataFile(const QString& path, ParameterImage& image)
{
    CoinDataFileRead read = readCoinDataFile(path);
    return {read.opened, storeCoinData(read.values, image), std::move(read.error)};
}

FileSaveResult saveCoinDataFile(const QString& path, const ParameterImage& image)
{
    return saveFileAtomically(path, serializeCoinData(image));
}

} // namespace quarvel
