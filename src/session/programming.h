#pragma once

#include "image/parameter_image.h"
#include "session/results.h"

#include <QString>

#include <optional>
#include <set>
#include <vector>

// What the one programming operation is asked to do, and the rules it decides by. Every
// front end builds a ProgramRequest; Device::program runs it.
namespace quarvel::session {

// Where the selector's memory goes before it is written.
struct BackupPolicy
{
    enum class Kind
    {
        None,
        Folder, // the program's own backups folder: a new dated file, the oldest pruned
        Target  // a file or folder a user or script named: never pruned
    };
    Kind kind = Kind::None;
    QString path;           // Folder: the folder; Target: the file, or a folder (existing or ending in /)
    bool overwrite = false; // Target: an existing file may be replaced (--force)
};

struct ProgramRequest
{
    // What to send; empty sends the document (SelectorSession::program fills it in), whose
    // fixed cells are stamped first.
    std::optional<ParameterImage> image;
    // A restore: the image's own values in the fixed cells, and the identity of the selector
    // it came from checked first.
    bool exact = false;
    BackupPolicy backup;
    bool verify = false;
    // The file the image came from: a backup may never be written over it.
    QString sourceFile;
    QString sourceSha256; // the file's SHA-256 as checked, for the history
    // Ask (question()) before writing references or coin values of channels that the user
    // neither taught nor edited since the document was loaded (all but spared). Needs a backup
    // to compare with.
    bool guardChannels = false;
    std::set<int> spared;
    // Asked before the first write when not empty: the document is another selector's.
    QString otherSelector;
    // Read the identity cells first when no backup read does, so that the result can name the
    // selector (serialNo).
    bool identify = false;
    // For the history: what the attempt is ("teach", "station"; empty: program, or restore when
    // exact), and the selector's memory when the caller read it just before.
    QString historyOperation;
    std::optional<ParameterImage> memoryBefore;
};

// A backup target resolved before anything is sent: the file to write (or folder to make a
// new name in), or why it is refused.
struct BackupTarget
{
    bool folder = false;
    QString path;
    std::optional<Refusal> refusal;
};
BackupTarget resolveBackupTarget(const BackupPolicy& policy, const QString& sourceFile);

// Programmed cells whose byte read back differs from the byte sent.
std::vector<VerifyMismatch> verifyMismatches(const ParameterImage& sent, const ParameterImage& readBack);
// Cells no programming writes (address::kIdentityCells) in which two images differ.
std::vector<int> identityDifferences(const ParameterImage& a, const ParameterImage& b);

// "Programming changes channels 1, 2, 4-12 (references and coin values). Continue?", or empty
// when no channel outside spared changes.
QString untouchedChannelsQuestion(const ParameterImage& selector, const ParameterImage& toSend,
                                  const std::set<int>& spared);
// "This backup was taken from another selector (serial no. 17, this one is 42). Restore it
// anyway?", or empty when the identities agree.
QString otherSelectorQuestion(const ParameterImage& backup, const ParameterImage& selector);
// How two selectors' identities differ: "serial no. 17, this one is 42", or "cells 124-127
// differ" when the serial numbers agree.
QString identityDifference(const ParameterImage& theirs, const ParameterImage& ours);

// The selector's serial number: its "Serial no." cell, which no programming writes.
int serialNumberOf(const ParameterImage& memory);

// The channels whose references or coin value lie among cells.
std::set<int> channelsOf(const std::vector<int>& cells);

} // namespace quarvel::session
