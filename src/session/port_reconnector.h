#pragma once

#include "session/port_identity.h"

#include "image/parameter_image.h"

#include <QObject>
#include <QTimer>

#include <optional>

namespace quarvel::session {

class SelectorSession;

// Brings back a serial port whose adapter was pulled: while it is away the port list is looked
// at about once a second (a timer, nothing spins), and the same adapter is opened again as
// soon as it is there, whatever name it has now. It is trusted only once the selector on it
// has been identified: another device may have the name now, or the adapter another selector.
// Nothing that ran on it restarts; a port the user chooses meanwhile ends the wait.
class PortReconnector : public QObject
{
    Q_OBJECT

public:
    static constexpr int kLookMs = 1000;

    explicit PortReconnector(SelectorSession& session, QObject* parent = nullptr);

signals:
    // "Reconnected: /dev/ttyUSB1", or what was found instead of the selector seen before;
    // ok is false when something other than that selector answers, or nothing does.
    void reconnected(const QString& text, bool ok);

private:
    void portChanged();
    void lost();
    void look();
    void identify(const QString& where);

    SelectorSession& m_session;
    PortIdentity m_identity;
    QString m_openName;                     // the port name the identity was taken for
    std::optional<ParameterImage> m_before; // the selector seen on the port before it went
    bool m_reopening = false;
    QTimer m_look;
};

} // namespace quarvel::session
