#include "session/port_reconnector.h"

#include "image/address_map.h"
#include "session/selector_session.h"

namespace quarvel::session {

PortReconnector::PortReconnector(SelectorSession& session, QObject* parent)
    : QObject(parent), m_session(session)
{
    m_look.setInterval(kLookMs);
    connect(&m_look, &QTimer::timeout, this, &PortReconnector::look);
    connect(&m_session.device(), &Device::portChanged, this, &PortReconnector::portChanged);
    connect(&m_session.device(), &Device::portLost, this, &PortReconnector::lost);
    portChanged();
}

void PortReconnector::portChanged()
{
    if (m_reopening || !m_session.device().isOpen()) return;
    // Another port, or the same one chosen again: that is what to come back to from now on.
    m_look.stop();
    if (m_session.bench().isOpen()) {
        m_identity = {};
        m_openName.clear();
    } else if (m_session.device().portName() != m_openName) {
        m_openName = m_session.device().portName();
        m_identity = PortIdentity::of(m_openName);
    }
}

void PortReconnector::lost()
{
    m_before = m_session.device().selectorSeen();
    if (!m_identity.path.isEmpty()) m_look.start();
}

void PortReconnector::look()
{
    if (m_session.device().isOpen()) return m_look.stop();
    const QString where = m_identity.locate();
    if (where.isEmpty()) return;
    m_reopening = true;
    const bool opened = m_session.device().openPort(where);
    m_reopening = false;
    if (!opened) return; // still settling (permissions, a lock): the next look tries again
    m_look.stop();
    identify(where);
}

void PortReconnector::identify(const QString& where)
{
    const auto started =
        m_session.device().read(address::kIdentityCells.front(), address::kIdentityCells.back());
    if (!started) {
        emit reconnected(QStringLiteral("%1 is back, but the selector on it could not be identified: %2")
                             .arg(where, started.refusalText()),
                         false);
        return;
    }
    connect(started.operation, &ReadOperation::finished, this, [this, where](const ReadResult& result) {
        if (!result.succeeded()) {
            emit reconnected(
                QStringLiteral("%1 is back, but no selector answers on it: %2").arg(where, result.message),
                false);
            return;
        }
        if (!m_before || identityDifferences(*m_before, *result.image).empty()) {
            emit reconnected(QStringLiteral("Reconnected: %1").arg(where), true);
            return;
        }
        const QString which = identityDifference(*m_before, *result.image);
        m_session.document().markOfOtherSelector(
            QStringLiteral("The settings here are those of another selector (%1). Program anyway?")
                .arg(which));
        emit reconnected(QStringLiteral("Reconnected, but another selector is on %1 (%2)").arg(where, which),
                         false);
    });
}

} // namespace quarvel::session
