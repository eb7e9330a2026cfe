#include "session/port_choice.h"

#include "session/port_names.h"
#include "session/selector_session.h"

#include <QFileInfo>

namespace quarvel::session {

PortChoice::PortChoice(SelectorSession& session, FixedNames names)
    : m_session(session), m_names(std::move(names))
{}

PortChoice::Result PortChoice::chooseFixed(int port)
{
    m_fixedPort = port;
    m_session.device().closePort();
    QString error;
    if (m_session.device().openPort(m_names(port), &error)) return {true, std::nullopt, {}};
    if (port == 1) return {false, std::nullopt, error};
    m_fixedPort = 1;
    m_session.device().openPort(m_names(1));
    return {false, 1, error};
}

PortChoice::Result PortChoice::choosePath(const QString& path)
{
    // A mistyped path must not take the technician off the port in use (and its lock).
    QString error;
    if (!m_session.device().openPort(path, &error)) return {false, std::nullopt, error};
    m_fixedPort.reset();
    return {true, std::nullopt, {}};
}

PortChoice::Result PortChoice::chooseVirtual()
{
    QString error;
    if (!m_session.bench().open({}, &error)) return {false, std::nullopt, error};
    m_fixedPort.reset();
    return {true, std::nullopt, {}};
}

PortChoice::Result PortChoice::start(const QString& remembered, int markedPort)
{
    if (remembered == QLatin1String(kVirtualMarker)) {
        if (m_session.bench().open()) {
            m_fixedPort.reset();
            return {true, std::nullopt, {}};
        }
    } else if (!remembered.isEmpty() &&
               (isDeviceName(remembered.toStdString(), hostPlatform()) || QFileInfo::exists(remembered))) {
        if (m_session.device().openPort(remembered)) {
            m_fixedPort.reset();
            return {true, std::nullopt, {}};
        }
    }
    m_fixedPort = markedPort;
    QString error;
    const bool opened = m_session.device().openPort(m_names(markedPort), &error);
    return {opened, std::nullopt, error};
}

} // namespace quarvel::session
