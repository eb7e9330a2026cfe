#pragma once

#include "image/qt/image_file.h"
#include "image/qt/state_file_io.h"
#include "image/qt/text_file_io.h"
#include "image/settings_model.h"
#include "session/results.h"

#include <QString>

#include <optional>
#include <string_view>
#include <vector>

// The files the windows and quarvelctl read and write, through one door: coin data files checked
// the same way wherever they may reach a selector, the state file, and plain text saves.
namespace quarvel::session {

// A coin data file as it may be loaded or programmed.
struct CoinDataCheck
{
    std::optional<ImageFile> file;  // empty when refused
    std::optional<Refusal> refusal; // FileUnreadable, or FileTooShort when checked for programming
    // For programming: the programmed cells the selector cannot hold as written (text such as
    // "12ab", "-1" or "300" would reach it as some other byte). The caller asks before sending.
    std::vector<UnprogrammableCell> unprogrammable;
    // The SHA-256 of the file as it was checked (hex; empty when it could not be hashed): it
    // names what was programmed, whatever becomes of the file afterwards.
    QString sha256;
    explicit operator bool() const { return file.has_value(); }
};

// Reads path; refuses what is not a coin data file. forProgramming also refuses a file that
// stops short of the selector's cells (its default cells would be programmed as if they were
// the file's) and lists the cells the selector cannot hold.
CoinDataCheck checkCoinDataFile(const QString& path, bool forProgramming);

FileSaveResult saveCoinData(const QString& path, const ParameterImage& image);
FileSaveResult saveTextFile(const QString& path, std::string_view text);

StateFileLoad loadState();
FileSaveResult saveState(const StateFile& state);

} // namespace quarvel::session
