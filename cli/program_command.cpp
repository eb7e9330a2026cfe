#include "program_command.h"

#include "exit_codes.h"
#include "image_files.h"
#include "program_verify.h"

#include "link/program_transfer.h"
#include "link/read_transfer.h"

#include <iostream>

namespace quarvel::cli {

ProgramCommand::ProgramCommand(const Invocation& invocation, QObject* parent)
    : DeviceCommand(invocation, parent)
{}

std::optional<int> ProgramCommand::check()
{
    const QString& path = m_invocation.files.constFirst();
    ImageFileRead read = readImageFile(path);
    if (!read.file) {
        error(read.error);
        return exit_code::kUsageOrFile;
    }
    // A short file would program the default image's cells as if they were the file's.
    const auto values = static_cast<int>(read.file->values.size());
    if (values < ParameterImage::kSelectorCells) {
        error(QStringLiteral("%1 holds %2 values; programming needs at least %3")
                  .arg(path)
                  .arg(values)
                  .arg(ParameterImage::kSelectorCells));
        return exit_code::kUsageOrFile;
    }
    m_image = std::move(read.file->image);
    return std::nullopt;
}

void ProgramCommand::begin()
{
    m_session.run(link::programJobs(m_image),
                  [this](DeviceSession::Result result) { programFinished(result); });
}

void ProgramCommand::programFinished(DeviceSession::Result result)
{
    if (result != DeviceSession::Result::Succeeded) {
        finish(failureCode(result));
        return;
    }
    if (!m_invocation.verify) {
        finish(exit_code::kSuccess);
        return;
    }
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::ReadTransfer>(m_readBack));
    m_session.run(std::move(jobs), [this](DeviceSession::Result readResult) { verifyFinished(readResult); });
}

void ProgramCommand::verifyFinished(DeviceSession::Result result)
{
    if (result != DeviceSession::Result::Succeeded) {
        finish(failureCode(result));
        return;
    }
    const auto mismatches = verifyProgrammed(m_image, m_readBack);
    if (mismatches.empty()) {
        note(QStringLiteral("Verified: all %1 programmed cells match").arg(programmedCellCount()));
        finish(exit_code::kSuccess);
        return;
    }
    std::cout << mismatchesText(mismatches) << std::flush;
    error(QStringLiteral("verification failed: %1 of %2 programmed cells differ")
              .arg(mismatches.size())
              .arg(programmedCellCount()));
    finish(exit_code::kMismatch);
}

} // namespace quarvel::cli
