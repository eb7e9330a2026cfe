// The main window's System menu: the fixed ports, the ports found on the machine, a port by
// path and the virtual selector. The fall-back rules live in session::PortChoice.
#include "ui/main/main_window.h"

#include "session/port_names.h"
#include "ui/main/link_check_dialog.h"
#include "ui/main/main_texts.h"
#include "ui/sim/virtual_selector_window.h"

#include <QAction>
#include <QInputDialog>
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

} // namespace

void MainWindow::openStartPort(const StartPort& port)
{
    switch (port.kind) {
    case StartPort::Kind::Virtual:
        if (const auto result = m_ports.chooseVirtual(); !result.opened)
            showStatus(failedText(q(t::kVirtualPortName), result.error), session::StatusColour::Red);
        return;
    case StartPort::Kind::Path:
        if (const auto result = m_ports.choosePath(port.path); !result.opened)
            showStatus(failedText(port.path, result.error), session::StatusColour::Red);
        return;
    case StartPort::Kind::Remembered:
        break;
    }
    const QString remembered = QSettings().value(QLatin1String(kRememberedPort)).toString();
    const int marked = m_state.startupPort();
    if (const auto result = m_ports.start(remembered, marked); !result.opened)
        showStatus(failedText(fixedName(marked), result.error), session::StatusColour::Red);
}

QString MainWindow::fixedName(int port) const
{
    return m_fixedPortNames ? m_fixedPortNames(port)
                            : QString::fromStdString(fixedPortName(port, hostPlatform()));
}

void MainWindow::chooseFixedPort(int port)
{
    m_state.choosePort(port);
    QSettings().remove(QLatin1String(kRememberedPort));
    const auto result = m_ports.chooseFixed(port);
    if (result.opened) {
        showStatus(q(t::kPortInUse).arg(portWord(port, false)), session::StatusColour::Blue);
    } else {
        if (result.fellBackTo) m_state.choosePort(*result.fellBackTo);
        showStatus(failedText(portWord(port, true), result.error), session::StatusColour::Red);
    }
    updatePortMarks();
}

void MainWindow::chooseOtherPort(const QString& path)
{
    if (const auto result = m_ports.choosePath(path); result.opened) {
        QSettings().setValue(QLatin1String(kRememberedPort), path);
        showStatus(q(t::kPortInUse).arg(path), session::StatusColour::Blue);
    } else {
        // The connection in use stays, and the line says which it is.
        showStatus(failedText(path, result.error) + QStringLiteral("; still using %1").arg(connectionText()),
                   session::StatusColour::Red);
    }
    updatePortMarks();
}

void MainWindow::chooseVirtualSelector()
{
    if (const auto result = m_ports.chooseVirtual(); result.opened) {
        QSettings().setValue(QLatin1String(kRememberedPort),
                             QLatin1String(session::PortChoice::kVirtualMarker));
        showStatus(q(t::kPortInUse).arg(q(t::kVirtualPortName)), session::StatusColour::Blue);
    } else {
        showStatus(failedText(q(t::kVirtualPortName), result.error) +
                       QStringLiteral("; still using %1").arg(connectionText()),
                   session::StatusColour::Red);
    }
    updatePortMarks();
}

void MainWindow::askOtherPort()
{
    auto* dialog = new QInputDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(q(t::kOtherPort).remove(QLatin1Char('&')));
    dialog->setLabelText(QStringLiteral("Serial port name or device path:"));
    dialog->setTextValue(m_ports.fixedPort() ? QString() : m_session.portName());
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& path) {
        if (!path.trimmed().isEmpty()) chooseOtherPort(path.trimmed());
    });
    dialog->open();
}

void MainWindow::refreshSystemMenu()
{
    for (QAction* action : m_foundActions)
        delete action;
    m_foundActions.clear();
    QStringList fixedNames;
    for (const int port : kFixedPorts)
        fixedNames.append(fixedName(port));
    const bool busy = m_session.isBusy();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        if (fixedNames.contains(path) || fixedNames.contains(info.portName())) continue;
        QString text = info.portName();
        if (!info.description().isEmpty()) text += QStringLiteral(" \u2013 ") + info.description();
        if (!info.serialNumber().isEmpty()) text += QStringLiteral(" (%1)").arg(info.serialNumber());
        auto* action = new QAction(text, m_systemMenu);
        action->setCheckable(true);
        action->setChecked(!m_ports.fixedPort() && !m_session.isVirtual() && m_session.portName() == path);
        action->setEnabled(!busy);
        connect(action, &QAction::triggered, this, [this, path] { chooseOtherPort(path); });
        m_systemMenu->insertAction(m_otherPort, action);
        m_foundActions.append(action);
    }
    // "Other port…" marks a path in use that is not listed above.
    const bool listed = std::any_of(m_foundActions.begin(), m_foundActions.end(),
                                    [](const QAction* a) { return a->isChecked(); });
    m_otherPort->setChecked(m_otherPort->isChecked() && !listed);
    ensureCheckLinkAction(*m_systemMenu, m_session, this);
}

void MainWindow::updatePortMarks()
{
    for (std::size_t i = 0; i < kFixedPorts.size(); ++i)
        m_fixedActions[static_cast<qsizetype>(i)]->setChecked(m_ports.fixedPort() == kFixedPorts[i]);
    m_virtualPort->setChecked(m_session.isVirtual());
    // A path port in use is marked on the entry that chose it.
    m_otherPort->setCheckable(true);
    m_otherPort->setChecked(m_session.isOpen() && !m_session.isVirtual() && !m_ports.fixedPort());
    m_virtualWindowAction->setEnabled(m_session.isVirtual());
    showConnection();
}

void MainWindow::openVirtualSelectorWindow()
{
    if (!m_session.isVirtual()) return;
    if (!m_virtualWindow) {
        auto* window = new VirtualSelectorWindow(m_session, this);
        m_virtualWindow = window;
        registerWindow(window);
    }
    m_virtualWindow->show();
    m_virtualWindow->raise();
}

} // namespace quarvel
