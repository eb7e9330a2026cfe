#pragma once

#include "session/port_identity.h"

#include <QObject>
#include <QTimer>

namespace quarvel::session {

class SelectorSession;

// Brings back a serial port whose adapter was pulled: while it is away the port list is looked
// at about once a second (a timer, nothing spins), and the same adapter is opened again as
// soon as it is there, whatever name it has now. Nothing that ran on it restarts; a port
// the user chooses meanwhile ends the wait.
class PortReconnector : public QObject
{
    Q_OBJECT

public:
    static constexpr int kLookMs = 1000;

    explicit PortReconnector(SelectorSession& session, QObject* parent = nullptr);
    bool isWaiting() const { return m_look.isActive(); }

signals:
    // "Reconnected: /dev/ttyUSB1"
    void reconnected(const QString& text);

private:
    void portChanged();
    void lost();
    void look();

    SelectorSession& m_session;
    PortIdentity m_identity;
    QString m_openName; // the port name the identity was taken for
    bool m_reopening = false;
    QTimer m_look;
};

} // namespace quarvel::session
