#include "check_command.h"

#include "exit_codes.h"

#include <iostream>

namespace quarvel::cli {

void CheckCommand::begin()
{
    m_printer.setPhase("Checking");
    auto start = m_session.device().checkLink(m_invocation.count);
    if (!start) {
        refused(*start.refusal);
        return;
    }
    connect(start.operation, &session::CheckOperation::finished, this, &CheckCommand::checked);
}

void CheckCommand::checked(const session::CheckResult& result)
{
    m_printer.setPhase({});
    if (wasInterrupted()) {
        say(QStringLiteral("Interrupted"));
        finish(exit_code::kInterrupted);
        return;
    }
    for (const QString& line : result.lines())
        std::cout << line.toStdString() << '\n';
    std::cout << std::flush;
    finish(result.healthy() ? exit_code::kSuccess : exit_code::kDevice);
}

} // namespace quarvel::cli
