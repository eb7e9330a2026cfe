#include "session/port_reconnector.h"

#include "session/selector_session.h"

namespace quarvel::session {

PortReconnector::PortReconnector(SelectorSession& session, QObject* parent)
    : QObject(parent), m_session(session)
{
    m_look.setInterval(kLookMs);
    connect(&m_look, &QTimer::timeout, this, &PortReconnector::look);
    connect(&m_session, &SelectorSession::portChanged, this, &PortReconnector::portChanged);
    connect(&m_session, &SelectorSession::portLost, this, &PortReconnector::lost);
    portChanged();
}

void PortReconnector::portChanged()
{
    if (m_reopening || !m_session.isOpen()) return;
    // Another port, or the same one chosen again: that is what to come back to from now on.
    m_look.stop();
    if (m_session.isVirtual()) {
        m_identity = {};
        m_openName.clear();
    } else if (m_session.portName() != m_openName) {
        m_openName = m_session.portName();
        m_identity = PortIdentity::of(m_openName);
    }
}

void PortReconnector::lost()
{
    if (!m_identity.path.isEmpty()) m_look.start();
}

void PortReconnector::look()
{
    if (m_session.isOpen()) return m_look.stop();
    const QString where = m_identity.locate();
    if (where.isEmpty()) return;
    m_reopening = true;
    const bool opened = m_session.openPort(where);
    m_reopening = false;
    if (!opened) return; // still settling (permissions, a lock): the next look tries again
    m_look.stop();
    emit reconnected(QStringLiteral("Reconnected: %1").arg(where));
}

} // namespace quarvel::session
