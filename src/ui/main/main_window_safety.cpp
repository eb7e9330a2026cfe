// What keeps a selector's memory safe from the desktop program: a backup before every
// programming, Restore Selector…, and no programming left half-done without asking.
#include "ui/main/main_window.h"

#include "session/backup.h"
#include "ui/main/restore_dialog.h"
#include "ui/settings/ask.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QSerialPortInfo>
#include <QSettings>

namespace quarvel {

void MainWindow::buildSafetyMenu(QMenu* file)
{
    file->addSeparator();
    m_backupAction = file->addAction(QStringLiteral("&Back up before programming"));
    m_backupAction->setObjectName(QStringLiteral("mnuBackup"));
    m_backupAction->setCheckable(true);
    m_backupAction->setChecked(m_safety.backUp());
    connect(m_backupAction, &QAction::toggled, this, [this](bool on) { m_safety.setBackUp(on); });
    m_restoreAction =
        file->addAction(QStringLiteral("&Restore Selector\u2026"), this, &MainWindow::mnuRestore_Click);
    m_restoreAction->setObjectName(QStringLiteral("mnuRestore"));
}

void MainWindow::programToSelector(Done done)
{
    session::ProgramRequest request;
    // Channels neither taught nor edited here are not replaced unasked.
    request.guardChannels = true;
    runProgramming(request, std::move(done));
}

void MainWindow::runProgramming(const session::ProgramRequest& request, Done done)
{
    // The main status line and the window where the user acted hear the same outcome.
    m_safety.program(request, [this, done](bool succeeded, const QString& text) {
        showStatus(text, succeeded ? session::StatusColour::Green : session::StatusColour::Red);
        if (done) done(succeeded, text);
    });
}

void MainWindow::mnuRestore_Click()
{
    auto* dialog = new RestoreDialog(m_safety.backupFolder(), m_session.image(), this);
    if (!m_session.isOpen())
        dialog->refuseRestore(session::refusalText(session::Refusal{session::Refusal::Kind::NoPort, 0, {}}));
    connect(dialog, &RestoreDialog::chosen, this, [this](const QString& path) {
        const session::CoinDataCheck check = session::checkCoinDataFile(path, true);
        if (!check) {
            showStatus(session::refusalText(*check.refusal), session::StatusColour::Red);
            return;
        }
        session::ProgramRequest request;
        request.image = check.file->image;
        request.exact = true;
        request.verify = true; // "restored exactly", or the cells that differ
        request.sourceFile = path;
        ask(this, "ConfirmRestore",
            QStringLiteral("Program the selector with the backup %1?").arg(QDir::toNativeSeparators(path)),
            QStringLiteral("&Program"), QStringLiteral("&Cancel"), [this, request, path] {
                // The line names what was restored, not only the backup taken before it.
                runProgramming(request, [this, path](bool succeeded, const QString& text) {
                    showStatus(QStringLiteral("Restore of %1: %2").arg(QDir::toNativeSeparators(path), text),
                               succeeded ? session::StatusColour::Green : session::StatusColour::Red);
                });
            });
    });
    dialog->open();
}

QString MainWindow::connectionText() const
{
    if (!m_session.isOpen()) return QStringLiteral("No port open");
    if (m_session.isVirtual()) return QStringLiteral("Virtual selector");
    const QString name = m_session.portName();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != name && info.portName() != name) continue;
        QStringList about;
        if (!info.description().isEmpty()) about << info.description();
        if (!info.serialNumber().isEmpty()) about << info.serialNumber();
        if (!about.isEmpty()) return QStringLiteral("Port: %1 (%2)").arg(name, about.join(QLatin1Char(' ')));
    }
    return QStringLiteral("Port: %1").arg(name);
}

void MainWindow::showConnection()
{
    m_portLabel->setText(connectionText());
}

} // namespace quarvel
