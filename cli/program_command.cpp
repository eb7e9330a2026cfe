#include "program_command.h"

#include "exit_codes.h"

namespace quarvel::cli {

ProgramCommand::ProgramCommand(const Invocation& invocation, QObject* parent)
    : DeviceCommand(invocation, parent)
{}

std::optional<int> ProgramCommand::check()
{
    const QString path = m_invocation.files.constFirst();
    ImageFile file;
    if (const auto refused = loadProgrammable(path, file)) return refused;
    // A backup that could never be saved is refused before the selector is touched.
    if (const auto refused = checkBackupTarget(path)) return refused;
    m_file = std::move(file.image);
    return std::nullopt;
}

void ProgramCommand::begin()
{
    session::ProgramRequest request;
    request.image = m_file;
    request.sourceFile = m_invocation.files.constFirst();
    startProgramming(request, &ProgramCommand::programFinished);
}

void ProgramCommand::programFinished(const session::ProgramResult& result)
{
    if (const auto failed = programmingFailure(result)) {
        finish(*failed);
        return;
    }
    note(result.summary());
    finish(exit_code::kSuccess);
}

} // namespace quarvel::cli
