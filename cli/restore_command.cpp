#include "restore_command.h"

#include "exit_codes.h"

namespace quarvel::cli {

RestoreCommand::RestoreCommand(const Invocation& invocation, QObject* parent)
    : FileProgrammingCommand(invocation, parent)
{}

void RestoreCommand::begin()
{
    session::ProgramRequest request;
    request.image = m_file;
    request.exact = true;
    request.sourceFile = filePath();
    request.sourceSha256 = m_fileSha256;
    if (!startProgramming(request, &RestoreCommand::restoreFinished)) return;
    // The one question an exact restore asks: whether the backup is of another selector.
    auto* operation = static_cast<session::ProgramOperation*>(m_session.device().current());
    connect(operation, &session::ProgramOperation::question, this, [this, operation](QString question) {
        if (m_invocation.force) {
            operation->proceed();
            return;
        }
        m_otherSelector = true;
        question.remove(QStringLiteral(" Restore it anyway?"));
        if (question.endsWith(QLatin1Char('.'))) question.chop(1);
        error(QStringLiteral("%1; nothing was programmed (--force restores it all the same)")
                  .arg(question.replace(QStringLiteral("This backup"), m_invocation.files.constFirst())));
        operation->cancel();
    });
}

void RestoreCommand::restoreFinished(const session::ProgramResult& result)
{
    if (m_otherSelector) {
        m_printer.setPhase({});
        finish(exit_code::kUsageOrFile);
        return;
    }
    if (const auto failed = programmingFailure(result)) {
        finish(*failed);
        return;
    }
    note(result.summary());
    finish(exit_code::kSuccess);
}

} // namespace quarvel::cli
