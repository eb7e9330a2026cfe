#include "ui/main/port_menu.h"

#include "session/port_names.h"
#include "session/port_reconnector.h"
#include "session/selector_session.h"
#include "ui/main/link_check_dialog.h"
#include "ui/main/main_texts.h"

#include <QAction>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QSerialPortInfo>
#include <QSettings>

#include <algorithm>

namespace quarvel {

namespace t = main_texts;
using main_texts::q;

namespace {

constexpr char kRememberedPort[] = "Settings/Port";

// "com2" in the port texts, but the ninth port warns as "COM9".
QString portWord(int port, bool warning)
{
    return (warning && port == 9 ? QStringLiteral("COM%1") : QStringLiteral("com%1")).arg(port);
}

// The program's own warning, then the reason the system gave.
QString failedText(const QString& port, const QString& reason)
{
    const QString warning = q(t::kPortFailed).arg(port);
    return reason.isEmpty() ? warning : warning + QStringLiteral(": ") + reason;
}

// The failure, then the connection that stays, as one sentence.
QString stillUsingText(QString failed, const QString& connection)
{
    if (failed.endsWith(QLatin1Char('.'))) failed.chop(1);
    return failed + QStringLiteral("; still using %1").arg(connection);
}

} // namespace

PortMenu::PortMenu(session::SelectorSession& session, StateFile& state, StatusLine status, QWidget* window)
    : QObject(window), m_session(session), m_state(state), m_status(std::move(status)), m_window(window),
      m_ports(session, [this](int port) { return fixedName(port); })
{
    m_menu = new QMenu(q(t::kSystemMenu), window);
    m_menu->setObjectName(QStringLiteral("mnuSystem"));
    static constexpr const char* kNames[] = {"mnuCom1", "mnuCom2", "mnuCom3", "MnuCom4", "MnuCom9"};
    for (std::size_t i = 0; i < kFixedPorts.size(); ++i) {
        const int port = kFixedPorts[i];
        QAction* action = m_menu->addAction(QStringLiteral("Com%1(&%1)").arg(port));
        action->setObjectName(QLatin1String(kNames[i]));
        action->setCheckable(true);
        action->setChecked(port == 1);
        connect(action, &QAction::triggered, this, [this, port] { chooseFixedPort(port); });
        m_fixedActions.append(action);
    }
    m_menu->addSeparator();
    m_otherPort = m_menu->addAction(q(t::kOtherPort), this, &PortMenu::askOtherPort);
    m_otherPort->setObjectName(QStringLiteral("mnuOtherPort"));
    m_virtualPort = m_menu->addAction(q(t::kVirtualSelector), this, &PortMenu::chooseVirtualSelector);
    m_virtualPort->setObjectName(QStringLiteral("mnuVirtualSelector"));
    m_virtualPort->setCheckable(true);
    // Adapters come and go: list what is plugged in each time the menu opens.
    connect(m_menu, &QMenu::aboutToShow, this, &PortMenu::refresh);

    m_indicator = new QLabel(window);
    m_indicator->setObjectName(QStringLiteral("LabelPort"));

    connect(&m_session.device(), &session::Device::busyChanged, this, &PortMenu::setBusy);
    connect(&m_session.device(), &session::Device::portChanged, this, &PortMenu::updateMarks);
    connect(&m_session.device(), &session::Device::portLost, this,
            [this](const QString& message) { m_status.show(message, session::StatusColour::Red); });
    // What the loss cut short stays said; the line only adds that the port is back.
    auto* reconnector = new session::PortReconnector(m_session, this);
    connect(reconnector, &session::PortReconnector::reconnected, this, [this](const QString& text, bool ok) {
        const QString before = m_status.text();
        m_status.show(before.isEmpty() ? text : before + QLatin1Char('\n') + text,
                      ok ? session::StatusColour::Blue : session::StatusColour::Red);
    });
}

void PortMenu::openStartPort(const StartPort& port)
{
    switch (port.kind) {
    case StartPort::Kind::Virtual:
        if (const auto result = m_ports.chooseVirtual(); !result.opened)
            m_status.show(failedText(q(t::kVirtualPortName), result.error), session::StatusColour::Red);
        return;
    case StartPort::Kind::Path:
        if (const auto result = m_ports.choosePath(port.path); !result.opened)
            m_status.show(failedText(port.path, result.error), session::StatusColour::Red);
        return;
    case StartPort::Kind::Remembered:
        break;
    }
    const QString remembered = QSettings().value(QLatin1String(kRememberedPort)).toString();
    const int marked = m_state.startupPort();
    if (const auto result = m_ports.start(remembered, marked); !result.opened)
        m_status.show(failedText(fixedName(marked), result.error), session::StatusColour::Red);
}

QString PortMenu::fixedName(int port) const
{
    return m_fixedPortNames ? m_fixedPortNames(port)
                            : QString::fromStdString(fixedPortName(port, hostPlatform()));
}

void PortMenu::chooseFixedPort(int port)
{
    m_state.choosePort(port);
    QSettings().remove(QLatin1String(kRememberedPort));
    const auto result = m_ports.chooseFixed(port);
    if (result.opened) {
        m_status.show(q(t::kPortInUse).arg(portWord(port, false)), session::StatusColour::Blue);
    } else {
        if (result.fellBackTo) m_state.choosePort(*result.fellBackTo);
        m_status.show(failedText(portWord(port, true), result.error), session::StatusColour::Red);
    }
    updateMarks();
}

void PortMenu::chooseOtherPort(const QString& path)
{
    if (const auto result = m_ports.choosePath(path); result.opened) {
        QSettings().setValue(QLatin1String(kRememberedPort), path);
        m_status.show(q(t::kPortInUse).arg(path), session::StatusColour::Blue);
    } else {
        // The connection in use stays, and the line says which it is.
        m_status.show(stillUsingText(failedText(path, result.error), connectionText()),
                      session::StatusColour::Red);
    }
    updateMarks();
}

void PortMenu::chooseVirtualSelector()
{
    if (const auto result = m_ports.chooseVirtual(); result.opened) {
        QSettings().setValue(QLatin1String(kRememberedPort),
                             QLatin1String(session::PortChoice::kVirtualMarker));
        m_status.show(q(t::kPortInUse).arg(q(t::kVirtualPortName)), session::StatusColour::Blue);
    } else {
        m_status.show(stillUsingText(failedText(q(t::kVirtualPortName), result.error), connectionText()),
                      session::StatusColour::Red);
    }
    updateMarks();
}

void PortMenu::askOtherPort()
{
    auto* dialog = new QInputDialog(m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(q(t::kOtherPort).remove(QLatin1Char('&')));
    dialog->setLabelText(QStringLiteral("Serial port name or device path:"));
    dialog->setTextValue(m_ports.fixedPort() ? QString() : m_session.device().portName());
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& path) {
        if (!path.trimmed().isEmpty()) chooseOtherPort(path.trimmed());
    });
    dialog->open();
}

void PortMenu::refresh()
{
    for (QAction* action : m_foundActions)
        delete action;
    m_foundActions.clear();
    QStringList fixedNames;
    for (const int port : kFixedPorts)
        fixedNames.append(fixedName(port));
    const bool busy = m_session.device().isBusy();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        if (fixedNames.contains(path) || fixedNames.contains(info.portName())) continue;
        QString text = info.portName();
        if (!info.description().isEmpty()) text += QStringLiteral(" \u2013 ") + info.description();
        if (!info.serialNumber().isEmpty()) text += QStringLiteral(" (%1)").arg(info.serialNumber());
        auto* action = new QAction(text, m_menu);
        action->setCheckable(true);
        action->setChecked(!m_ports.fixedPort() && !m_session.bench().isOpen() &&
                           m_session.device().portName() == path);
        action->setEnabled(!busy);
        connect(action, &QAction::triggered, this, [this, path] { chooseOtherPort(path); });
        m_menu->insertAction(m_otherPort, action);
        m_foundActions.append(action);
    }
    // "Other port…" marks a path in use that is not listed above.
    const bool listed = std::any_of(m_foundActions.begin(), m_foundActions.end(),
                                    [](const QAction* a) { return a->isChecked(); });
    m_otherPort->setChecked(m_otherPort->isChecked() && !listed);
    ensureCheckLinkAction(*m_menu, m_session, m_window);
}

void PortMenu::updateMarks()
{
    for (std::size_t i = 0; i < kFixedPorts.size(); ++i)
        m_fixedActions[static_cast<qsizetype>(i)]->setChecked(m_ports.fixedPort() == kFixedPorts[i]);
    m_virtualPort->setChecked(m_session.bench().isOpen());
    // A path port in use is marked on the entry that chose it.
    m_otherPort->setCheckable(true);
    m_otherPort->setChecked(m_session.device().isOpen() && !m_session.bench().isOpen() &&
                            !m_ports.fixedPort());
    m_indicator->setText(connectionText());
    emit marksUpdated();
}

void PortMenu::setBusy(bool busy)
{
    // Two interleaved transfers would corrupt each other: no port changes while one runs.
    for (QAction* action : m_fixedActions)
        action->setEnabled(!busy);
    for (QAction* action : m_foundActions)
        action->setEnabled(!busy);
    m_otherPort->setEnabled(!busy);
    m_virtualPort->setEnabled(!busy);
}

QString PortMenu::connectionText() const
{
    if (!m_session.device().isOpen()) return QStringLiteral("No port open");
    if (m_session.bench().isOpen()) return QStringLiteral("Virtual selector");
    const QString name = m_session.device().portName();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != name && info.portName() != name) continue;
        QStringList about;
        if (!info.description().isEmpty()) about << info.description();
        if (!info.serialNumber().isEmpty()) about << info.serialNumber();
        if (!about.isEmpty()) return QStringLiteral("Port: %1 (%2)").arg(name, about.join(QLatin1Char(' ')));
    }
    return QStringLiteral("Port: %1").arg(name);
}

} // namespace quarvel
