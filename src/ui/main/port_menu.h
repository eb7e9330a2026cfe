#pragma once

#include "image/state_file.h"
#include "session/port_choice.h"
#include "ui/main/status_line.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QWidget;

namespace quarvel {

namespace session {
class SelectorSession;
}

// Which port the program starts on, when the command line says.
struct StartPort
{
    enum class Kind
    {
        Remembered, // the state file's marks, or the port chosen last by path
        Virtual,    // --simulator
        Path        // --port PATH
    };
    Kind kind = Kind::Remembered;
    QString path;
};

// The System menu's ports (the fixed entries, the ports found on the machine, a port by path
// and the virtual selector), the port indicator beside the status line, and what a lost port
// and its return say there. The fall-back rules live in session::PortChoice; the marks of the
// fixed entries are the state file's.
class PortMenu : public QObject
{
    Q_OBJECT

public:
    PortMenu(session::SelectorSession& session, StateFile& state, StatusLine status, QWidget* window);

    QMenu* menu() const { return m_menu; }
    QLabel* indicator() const { return m_indicator; }

    // What a fixed entry 1..4, 9 opens; the platform's name unless a test says otherwise.
    void setFixedPortNames(std::function<QString(int)> names) { m_fixedPortNames = std::move(names); }
    void openStartPort(const StartPort& port);
    // Fixed entries 1..4 and 9.
    void chooseFixedPort(int port);
    // A found port, a typed path, or the virtual selector (empty path).
    void chooseOtherPort(const QString& path);
    void chooseVirtualSelector();
    // Marks the entry of the port in use and names it in the indicator.
    void updateMarks();
    // "Port: /dev/ttyUSB0 (FT232R A12345)", "Virtual selector", or that none is open.
    QString connectionText() const;

signals:
    // After every change of the marks: entries that depend on the port follow.
    void marksUpdated();

private:
    QString fixedName(int port) const;
    void askOtherPort();
    void refresh();
    void setBusy(bool busy);

    session::SelectorSession& m_session;
    StateFile& m_state;
    StatusLine m_status;
    QWidget* m_window;
    std::function<QString(int)> m_fixedPortNames;
    session::PortChoice m_ports;
    QMenu* m_menu = nullptr;
    QLabel* m_indicator = nullptr;
    QList<QAction*> m_fixedActions; // in the order of kFixedPorts
    QList<QAction*> m_foundActions;
    QAction* m_otherPort = nullptr;
    QAction* m_virtualPort = nullptr;
};

} // namespace quarvel
