#include "program_command.h"

#include "exit_codes.h"
#include "program_verify.h"

#include "link/program_transfer.h"

#include <iostream>

namespace quarvel::cli {

ProgramCommand::ProgramCommand(const Invocation& invocation, QObject* parent)
    : DeviceCommand(invocation, parent)
{}

std::optional<int> ProgramCommand::check()
{
    ImageFile file;
    if (const auto refused = loadProgrammable(m_invocation.files.constFirst(), file)) return refused;
    m_file = std::move(file.image);
    return std::nullopt;
}

void ProgramCommand::begin()
{
    m_session.image() = m_file;
    // What is sent, stamped as programming stamps it; the document is not read into by a backup.
    m_programmed = m_file;
    link::stampFixedCells(m_programmed);
    programAfterBackup(&ProgramCommand::programFinished);
}

void ProgramCommand::programFinished(const session::ProgramResult& result)
{
    if (const auto failed = programmingFailure(result, m_invocation.verify)) {
        finish(*failed);
        return;
    }
    const int cells = session::ProgramResult::cellsInRanges();
    if (!m_invocation.verify) {
        note(QStringLiteral("Programmed %1 cells%2").arg(cells).arg(backupNote()));
        finish(exit_code::kSuccess);
        return;
    }
    m_printer.setPhase("Verifying");
    startRead(&ProgramCommand::verifyFinished);
}

void ProgramCommand::verifyFinished(const session::ReadResult& result)
{
    const int cells = session::ProgramResult::cellsInRanges();
    if (wasInterrupted()) {
        say(QStringLiteral("Interrupted: programmed %1 cells; verify not finished").arg(cells));
        finish(exit_code::kInterrupted);
        return;
    }
    if (!result.succeeded()) {
        sayFailed(QStringLiteral("programmed %1 cells, but reading them back failed: %2")
                      .arg(cells)
                      .arg(result.message.isEmpty() ? QStringLiteral("no answer") : result.message),
                  {});
        finish(exitCodeFor(result.reason));
        return;
    }
    const auto mismatches = verifyProgrammed(m_programmed, m_session.image());
    if (mismatches.empty()) {
        note(QStringLiteral("Programmed %1 cells; verified%2").arg(cells).arg(backupNote()));
        finish(exit_code::kSuccess);
        return;
    }
    std::cout << mismatchesText(mismatches) << std::flush;
    error(QStringLiteral("verification failed: %1 of %2 programmed cells differ")
              .arg(mismatches.size())
              .arg(cells));
    finish(exit_code::kMismatch);
}

} // namespace quarvel::cli
