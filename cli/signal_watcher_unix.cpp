// Unix: signals through a self-pipe.
#include "signal_watcher.h"

#include "exit_codes.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace quarvel::cli {

namespace {

int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_pending = 0;

// Seconds the event loop has to take a signal up before the program ends without it.
constexpr unsigned kTakeUpSeconds = 1;

extern "C" void onUnheardSignal(int)
{
    _exit(exit_code::kInterrupted);
}

extern "C" void onSignal(int signalNumber)
{
    if (g_pending) _exit(exit_code::kInterrupted); // asked twice: the orderly way is taking too long
    g_pending = 1;
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const auto written = write(g_pipe[1], &byte, 1);
    // A command stuck in a call that waits (a file that never ends, a blocking open) never
    // returns to the loop that would take the signal up: one signal must end it all the same.
    alarm(kTakeUpSeconds);
    errno = savedErrno;
}

bool makePipe()
{
    if (pipe(g_pipe) != 0) return false;
    for (const int fd : g_pipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return true;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction unheard = {};
    unheard.sa_handler = handler == onSignal ? onUnheardSignal : SIG_DFL;
    sigemptyset(&unheard.sa_mask);
    sigaction(SIGALRM, &unheard, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal ends the command as SIGTERM does: in order, with its end frame. Started
    // under nohup (the signal ignored), it keeps going.
    struct sigaction hangUp = {};
    sigaction(SIGHUP, nullptr, &hangUp);
    if (hangUp.sa_handler != SIG_IGN) sigaction(SIGHUP, &action, nullptr);
}

} // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent)
{
    if (g_pipe[0] < 0 && !makePipe()) return;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalWatcher::drain);
    setHandler(onSignal);
    m_watching = true;
}

SignalWatcher::~SignalWatcher()
{
    if (m_watching) setHandler(SIG_DFL);
}

void SignalWatcher::drain()
{
    unsigned char byte = 0;
    int last = 0;
    while (read(g_pipe[0], &byte, 1) == 1)
        last = byte;
    if (last == 0) return;
    alarm(0); // taken up: the orderly way goes on
    g_pending = 0;
    emit received(last);
}

} // namespace quarvel::cli
