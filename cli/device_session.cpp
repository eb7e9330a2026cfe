#include "device_session.h"

#include "sim_setup.h"

#include "sim/virtual_port.h"

#include <utility>

namespace quarvel::cli {

DeviceSession::DeviceSession(const Invocation& invocation, ProgressPrinter& printer, QObject* parent)
    : QObject(parent), m_invocation(invocation), m_printer(printer)
{
    connect(&m_link, &link::SerialLink::transferStarted, this, [this] { m_printer.transferStarted(); });
    connect(&m_link, &link::SerialLink::reported, this,
            [this](const link::Report& report) { m_printer.report(report); });
    connect(&m_link, &link::SerialLink::transferFinished, this,
            [this](link::Outcome outcome) { m_printer.transferFinished(outcome); });
    connect(&m_link, &link::SerialLink::runFinished, this, &DeviceSession::onRunFinished);
    connect(&m_link, &link::SerialLink::portLost, this, [this](const QString& message) {
        if (!m_interrupted) m_printer.line(message.toStdString());
    });
}

DeviceSession::~DeviceSession()
{
    // Quietly: nobody is left to hear how an unfinished run ended.
    m_done = nullptr;
    m_link.disconnect(this);
    m_link.closePort();
}

bool DeviceSession::prepare(QString* error)
{
    if (!m_invocation.usesSimPort()) return true;
    m_model = std::make_unique<sim::VirtualSelector>();
    return setUpSimulator(*m_model, m_invocation.sim, error);
}

bool DeviceSession::open(QString* error)
{
    if (!m_model) return m_link.openPort(m_invocation.port, error);
    m_virtualPort = std::make_unique<sim::VirtualPort>(*m_model);
    m_virtualPort->setWireTime(m_invocation.sim.wireTime);
    if (!m_virtualPort->open(QIODevice::ReadWrite)) {
        *error =
            QStringLiteral("The virtual selector could not be started: %1").arg(m_virtualPort->errorString());
        return false;
    }
    m_link.attachDevice(m_virtualPort.get(), QLatin1String(kSimPort));
    return true;
}

void DeviceSession::run(std::vector<std::unique_ptr<link::Transfer>> jobs, Done done)
{
    m_done = std::move(done);
    QString refusal;
    if (!m_link.run(std::move(jobs), &refusal)) {
        m_printer.line(refusal.toStdString());
        onRunFinished(false);
    }
}

void DeviceSession::interrupt()
{
    if (!isRunning()) return;
    m_interrupted = true;
    m_printer.silence();
    // Closing the port ends the running transfer and drops the jobs still queued.
    m_link.closePort();
}

void DeviceSession::close()
{
    m_link.closePort();
    if (m_virtualPort) m_virtualPort->close();
}

void DeviceSession::onRunFinished(bool allSucceeded)
{
    if (!m_done) return;
    const Done done = std::exchange(m_done, nullptr);
    done(m_interrupted ? Result::Interrupted : allSucceeded ? Result::Succeeded : Result::Failed);
}

} // namespace quarvel::cli
