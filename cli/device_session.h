#pragma once

#include "command_line.h"
#include "progress_printer.h"

#include "link/serial_link.h"
#include "sim/virtual_selector.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace quarvel::sim {
class VirtualPort;
}

namespace quarvel::cli {

// The link to one selector for the length of a command: a real port through SerialLink, or
// an in-process virtual selector behind a VirtualPort. Runs job lists one after the other and
// shows their progress; an interrupt ends the running list without further output.
class DeviceSession : public QObject
{
    Q_OBJECT

public:
    enum class Result
    {
        Succeeded,
        Failed,
        Interrupted
    };
    using Done = std::function<void(Result)>;

    DeviceSession(const Invocation& invocation, ProgressPrinter& printer, QObject* parent = nullptr);
    ~DeviceSession() override;

    // Prepares the virtual selector when the port is sim (its memory file, faults and wire
    // time). False with a message naming the file when the memory file is unusable. Sends
    // nothing.
    bool prepare(QString* error);
    // Opens the port. False with the reason when it cannot be opened.
    bool open(QString* error);

    // Runs the jobs; done is called once, from the event loop or an interrupt, when the last
    // job has finished. Succeeded only when every job succeeded.
    void run(std::vector<std::unique_ptr<link::Transfer>> jobs, Done done);
    bool isRunning() const { return static_cast<bool>(m_done); }

    // SIGINT/SIGTERM: end the running jobs, send nothing more.
    void interrupt();

    void close();

private:
    void onRunFinished(bool allSucceeded);

    const Invocation& m_invocation;
    ProgressPrinter& m_printer;
    link::SerialLink m_link;
    std::unique_ptr<sim::VirtualSelector> m_model;
    std::unique_ptr<sim::VirtualPort> m_virtualPort;
    Done m_done;
    bool m_interrupted = false;
};

} // namespace quarvel::cli
