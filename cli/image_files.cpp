#include "image_files.h"

#include "image/coin_data_io.h"
#include "image/default_image.h"

#include <QDir>

namespace quarvel::cli {

ImageFileRead readImageFile(const QString& path)
{
    CoinDataFileRead read = readCoinDataFile(path);
    if (!read.error.isEmpty()) return {std::nullopt, read.error};
    if (read.values.empty())
        return {std::nullopt, QStringLiteral("%1 holds no values").arg(QDir::toNativeSeparators(path))};
    ImageFile file;
    file.values = std::move(read.values);
    loadMainDefault(file.image);
    storeCoinData(file.values, file.image);
    return {std::move(file), {}};
}

QString shortFileNote(const QString& path, const ImageFile& file)
{
    const auto count = static_cast<int>(file.values.size());
    if (count >= ParameterImage::kFileCells) return {};
    return QStringLiteral("note: %1 holds %2 values; cells %2..%3 keep the default image")
        .arg(QDir::toNativeSeparators(path))
        .arg(count)
        .arg(ParameterImage::kFileCells - 1);
}

} // namespace quarvel::cli
