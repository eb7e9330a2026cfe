#include "program_command.h"

#include "exit_codes.h"

namespace quarvel::cli {

ProgramCommand::ProgramCommand(const Invocation& invocation, QObject* parent)
    : FileProgrammingCommand(invocation, parent)
{}

void ProgramCommand::begin()
{
    session::ProgramRequest request;
    request.image = m_file;
    request.sourceFile = filePath();
    request.sourceSha256 = m_fileSha256;
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
