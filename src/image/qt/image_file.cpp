#include "image/qt/image_file.h"

#include "image/default_image.h"
#include "image/qt/coin_data_io.h"

#include <QDir>

namespace quarvel {

ImageFileRead readImageFile(const QString& path)
{
    FieldFileRead read = readFieldFile(path, kCoinDataValues, kMaxCoinDataBytes, /*requireText=*/true);
    if (!read.error.isEmpty()) return {std::nullopt, read.error};
    if (read.fields.empty())
        return {std::nullopt, QStringLiteral("%1 holds no values").arg(QDir::toNativeSeparators(path))};
    ImageFile file;
    file.values = std::move(read.fields);
    loadMainDefault(file.image);
    storeCoinData(file.values, file.image);
    return {std::move(file), {}};
}

QString shortFileNote(const QString& path, const ImageFile& file)
{
    if (file.valueCount() >= ParameterImage::kFileCells) return {};
    return QStringLiteral("note: %1 holds %2 values; cells %2..%3 keep the default image")
        .arg(QDir::toNativeSeparators(path))
        .arg(file.valueCount())
        .arg(ParameterImage::kFileCells - 1);
}

} // namespace quarvel
