#include "commands.h"

#include "check_command.h"
#include "gang_command.h"
#include "history_command.h"
#include "program_command.h"
#include "read_command.h"
#include "restore_command.h"
#include "signal_watcher.h"
#include "simulate_command.h"
#include "teach_command.h"

#include <QCoreApplication>
#include <QTimer>

#include <memory>

namespace quarvel::cli {

namespace {

// Starts command on the event loop and runs the loop until the command finishes.
template <typename Command> int runOnEventLoop(std::unique_ptr<Command> command)
{
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::received, command.get(), &Command::interrupt);
    QObject::connect(
        command.get(), &Command::finished, qApp, [](int exitCode) { QCoreApplication::exit(exitCode); },
        Qt::QueuedConnection);
    QTimer::singleShot(0, command.get(), &Command::start);
    return QCoreApplication::exec();
}

} // namespace

int runInvocation(const Invocation& invocation)
{
    switch (invocation.command) {
    case CommandKind::Ports:
        return runPorts(invocation);
    case CommandKind::Show:
        return runShow(invocation);
    case CommandKind::Diff:
        return runDiff(invocation);
    case CommandKind::Read:
        return runOnEventLoop(std::make_unique<ReadCommand>(invocation));
    case CommandKind::Program:
        return runOnEventLoop(std::make_unique<ProgramCommand>(invocation));
    case CommandKind::Restore:
        return runOnEventLoop(std::make_unique<RestoreCommand>(invocation));
    case CommandKind::Simulate:
        return runOnEventLoop(std::make_unique<SimulateCommand>(invocation));
    case CommandKind::Teach:
        return runOnEventLoop(std::make_unique<TeachCommand>(invocation));
    case CommandKind::Check:
        return runOnEventLoop(std::make_unique<CheckCommand>(invocation));
    case CommandKind::Gang:
        return runOnEventLoop(std::make_unique<GangCommand>(invocation));
    case CommandKind::History:
        return runHistory(invocation);
    }
    return 1;
}

} // namespace quarvel::cli
