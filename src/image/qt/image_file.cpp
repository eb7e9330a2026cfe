#include "image/qt/image_file.h"

#include "image/default_image.h"
#include "image/qt/coin_data_io.h"

#include <QDir>
#include <QFileInfo>

namespace quarvel {

namespace {

// 256 values of a few characters each: a file far larger is something else (a log, a table of
// thousands of lines), however its first lines read, and its first 256 values are no settings.
constexpr qint64 kLargestCoinDataFile = qint64{64} * 1024;

} // namespace

ImageFileRead readImageFile(const QString& path)
{
    if (const QFileInfo info(path); info.isFile() && info.size() > kLargestCoinDataFile)
        return {std::nullopt,
                QStringLiteral(
                    "%1 is not a coin data file: %2 bytes, far more than the %3 values programming needs")
                    .arg(QDir::toNativeSeparators(path), QString::number(info.size()),
                         QString::number(ParameterImage::kSelectorCells))};
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
    const int count = file.valueCount();
    // Cells from 189 up are the program's own, not the selector's: a file that stops short of
    // the selector's memory is told in the selector's cells.
    const bool selectorShort = count < ParameterImage::kSelectorCells;
    return QStringLiteral("note: %1 holds %2 %3; %4 %5..%6 keep the default image")
        .arg(QDir::toNativeSeparators(path))
        .arg(count)
        .arg(QLatin1String(count == 1 ? "value" : "values"),
             QLatin1String(selectorShort ? "selector cells" : "cells"))
        .arg(count)
        .arg((selectorShort ? ParameterImage::kSelectorCells : ParameterImage::kFileCells) - 1);
}

} // namespace quarvel
