// The port entries on their own: a port chosen by path is remembered for the next start, and one
// that cannot be opened leaves the port in use open, marked and named.
#include "session/selector_session.h"
#include "sim/qt/pty_bridge.h"
#include "sim/virtual_selector.h"
#include "ui/main/port_menu.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(PortMenu, APathPortIsRememberedAndOneThatFailsKeepsThePortInUse)
{
    // QSettings fixes its folder at first use: a private home, whichever test comes first.
    static QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));
    QCoreApplication::setOrganizationName("quarvel");
    QCoreApplication::setApplicationName("quarvel");
    QSettings().clear();

    sim::VirtualSelector model;
    sim::PtyBridge bridge{model};
    ASSERT_TRUE(bridge.open());
    session::SelectorSession session;
    StateFile state;
    QWidget window;
    QString line;
    const StatusLine status{[&](const QString& text, session::StatusColour) { line = text; },
                            [&] { return line; }};
    const auto missing = [](int port) { return QStringLiteral("/nonexistent/port%1").arg(port); };
    const QString path = bridge.slavePath();
    {
        PortMenu menu(session, state, status, &window);
        menu.setFixedPortNames(missing);
        menu.chooseOtherPort(path);
        EXPECT_EQ(line, "commucation port use " + path + ":");
        menu.chooseOtherPort("/nonexistent/x");
        EXPECT_TRUE(line.endsWith("; still using Port: " + path)) << line.toStdString();
        {
            // Held by another program: one sentence, not "program.; still using".
            session::SelectorSession other;
            PortMenu second(other, state, status, &window);
            ASSERT_TRUE(other.bench().open());
            second.chooseOtherPort(path);
            EXPECT_TRUE(line.contains("in use by another program; still using")) << line.toStdString();
        }
        EXPECT_EQ(session.device().portName(), path);
        EXPECT_TRUE(menu.menu()->findChild<QAction*>("mnuOtherPort")->isChecked());
        EXPECT_EQ(menu.indicator()->text(), "Port: " + path);
        session.device().closePort();
    }
    // The next start opens the path, not the marked fixed port that is not there.
    PortMenu next(session, state, status, &window);
    next.setFixedPortNames(missing);
    next.openStartPort({});
    EXPECT_EQ(session.device().portName(), path);
    session.device().closePort();
}

} // namespace
} // namespace quarvel
