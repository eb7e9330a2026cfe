#include "device_command.h"

#include "console.h"
#include "exit_codes.h"

#include <iostream>

namespace quarvel::cli {

namespace {

ProgressPrinter::Mode printerMode(const Invocation& invocation)
{
    if (invocation.quiet) return ProgressPrinter::Mode::Quiet;
    return stderrIsTerminal() ? ProgressPrinter::Mode::Bar : ProgressPrinter::Mode::Lines;
}

} // namespace

DeviceCommand::DeviceCommand(const Invocation& invocation, QObject* parent)
    : QObject(parent), m_invocation(invocation), m_printer(std::cerr, printerMode(m_invocation)),
      m_session(m_invocation, m_printer)
{}

void DeviceCommand::start()
{
    if (const auto code = check()) {
        finish(*code);
        return;
    }
    QString message;
    if (!m_session.prepare(&message)) {
        error(message);
        finish(exit_code::kUsageOrFile);
        return;
    }
    if (!m_session.open(&message)) {
        error(message);
        finish(exit_code::kDevice);
        return;
    }
    begin();
}

void DeviceCommand::interrupt()
{
    if (m_finished) return;
    m_session.interrupt();
    // Outside a run (a file being checked) there is nothing to end in order.
    if (!m_finished) {
        error(QStringLiteral("interrupted"));
        finish(exit_code::kInterrupted);
    }
}

int DeviceCommand::failureCode(DeviceSession::Result result)
{
    if (result == DeviceSession::Result::Interrupted) {
        error(QStringLiteral("interrupted"));
        return exit_code::kInterrupted;
    }
    return exit_code::kDevice;
}

void DeviceCommand::finish(int exitCode)
{
    if (m_finished) return;
    m_finished = true;
    m_session.close();
    emit finished(exitCode);
}

void DeviceCommand::error(const QString& message)
{
    m_printer.line(
        QStringLiteral("quarvelctl %1: %2").arg(QLatin1String(commandName()), message).toStdString());
}

void DeviceCommand::note(const QString& message)
{
    if (m_printer.mode() != ProgressPrinter::Mode::Quiet) m_printer.line(message.toStdString());
}

const char* DeviceCommand::commandName() const
{
    return m_invocation.command == CommandKind::Program ? "program" : "read";
}

} // namespace quarvel::cli
