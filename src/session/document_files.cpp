#include "session/document_files.h"

#include "image/qt/coin_data_io.h"

#include <QDir>

namespace quarvel::session {

CoinDataCheck checkCoinDataFile(const QString& path, bool forProgramming)
{
    CoinDataCheck check;
    ImageFileRead read = readImageFile(path);
    if (!read.file) {
        check.refusal = Refusal{Refusal::Kind::FileUnreadable, 0, read.error};
        return check;
    }
    if (forProgramming) {
        if (!read.file->coversSelector()) {
            check.refusal =
                Refusal{Refusal::Kind::FileTooShort, read.file->valueCount(), QDir::toNativeSeparators(path)};
            return check;
        }
        check.unprogrammable = unprogrammableCells(read.file->image);
    }
    check.file = std::move(read.file);
    check.sha256 = fileSha256(path, kMaxCoinDataBytes);
    return check;
}

FileSaveResult saveCoinData(const QString& path, const ParameterImage& image)
{
    return saveCoinDataFile(path, image);
}

FileSaveResult saveTextFile(const QString& path, std::string_view text)
{
    return saveFileAtomically(path, text);
}

StateFileLoad loadState()
{
    return loadStateFile(stateFilePath());
}

FileSaveResult saveState(const StateFile& state)
{
    return saveStateFile(stateFilePath(), state);
}

} // namespace quarvel::session
