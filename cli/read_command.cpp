#include "read_command.h"

#include "exit_codes.h"
#include "settings_report.h"

#include "image/coin_data_io.h"
#include "image/default_image.h"
#include "link/read_transfer.h"

#include <iostream>

namespace quarvel::cli {

ReadCommand::ReadCommand(const Invocation& invocation, QObject* parent) : DeviceCommand(invocation, parent)
{
    // As after the desktop program's start-up without a recent file.
    loadMainDefault(m_image);
}

void ReadCommand::begin()
{
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::ReadTransfer>(m_image));
    m_session.run(std::move(jobs), [this](DeviceSession::Result result) { readFinished(result); });
}

void ReadCommand::readFinished(DeviceSession::Result result)
{
    if (result != DeviceSession::Result::Succeeded) {
        finish(failureCode(result));
        return;
    }
    if (m_invocation.outputFile.isEmpty()) {
        const SettingsReport report = makeSettingsReport(m_image);
        std::cout << (m_invocation.json ? settingsJson(report) : settingsText(report)) << std::flush;
        finish(exit_code::kSuccess);
        return;
    }
    const FileSaveResult saved = saveCoinDataFile(m_invocation.outputFile, m_image);
    if (!saved.saved) {
        error(saved.error);
        finish(exit_code::kUsageOrFile);
        return;
    }
    finish(exit_code::kSuccess);
}

} // namespace quarvel::cli
