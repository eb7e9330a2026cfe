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

namespace {

constexpr char kBackupSetting[] = "Settings/BackupBeforeProgramming";

} // namespace

void MainWindow::buildSafetyMenu(QMenu* file)
{
    file->addSeparator();
    m_backupAction = file->addAction(QStringLiteral("&Back up before programming"));
    m_backupAction->setObjectName(QStringLiteral("mnuBackup"));
    m_backupAction->setCheckable(true);
    m_backupAction->setChecked(QSettings().value(QLatin1String(kBackupSetting), true).toBool());
    connect(m_backupAction, &QAction::toggled, this,
            [](bool on) { QSettings().setValue(QLatin1String(kBackupSetting), on); });
    QAction* restore =
        file->addAction(QStringLiteral("&Restore Selector\u2026"), this, &MainWindow::mnuRestore_Click);
    restore->setObjectName(QStringLiteral("mnuRestore"));
}

bool MainWindow::backUpBeforeProgramming() const
{
    return m_backupAction->isChecked();
}

void MainWindow::programToSelector(Done done)
{
    programWithBackup(std::nullopt, std::move(done));
}

void MainWindow::programWithBackup(const std::optional<ParameterImage>& image, Done done)
{
    // The main status line and the window where the user acted hear the same outcome.
    Done report = [this, done](bool succeeded, const QString& text) {
        showStatus(text, succeeded ? link::StatusColour::Green : link::StatusColour::Red);
        if (done) done(succeeded, text);
    };
    if (!backUpBeforeProgramming()) {
        startProgramming(image, QString(), report);
        return;
    }
    // Before a restore nothing is pruned: the backup being restored may be the oldest.
    const auto started = session::backUpSelector(
        m_session, m_backupFolder + QLatin1Char('/'),
        [this, image, report](const session::BackupResult& backup) {
            if (backup.saved) {
                startProgramming(image, backup.path, report);
                return;
            }
            report(false, backup.error);
            ask(this, "ConfirmNoBackup",
                QStringLiteral("Could not read the selector's memory to back it up. Program anyway?"),
                QStringLiteral("&Yes"), QStringLiteral("&No"),
                [this, image, report] { startProgramming(image, QString(), report); });
        },
        image ? session::KeepBackups::All : session::KeepBackups::Newest);
    if (!started) report(false, started.refusalText());
}

void MainWindow::startProgramming(const std::optional<ParameterImage>& image, const QString& backupPath,
                                  Done done)
{
    const auto started = image ? m_session.programImage(*image) : m_session.programSelector();
    if (!started) {
        done(false, started.refusalText());
        return;
    }
    connect(started.operation, &session::ProgramOperation::finished, this,
            [backupPath, done](const session::ProgramResult& result) {
                done(result.succeeded(), session::programmingSummary(result, backupPath));
            });
}

void MainWindow::confirmStopProgramming(std::function<void()> stop)
{
    const QString question = session::stopProgrammingQuestion(m_session);
    if (question.isEmpty()) {
        stop();
        return;
    }
    ask(this, "ConfirmStop", question, QStringLiteral("&Stop"), QStringLiteral("&Keep programming"),
        [this, stop = std::move(stop)] {
            m_session.cancel();
            stop();
        });
}

void MainWindow::mnuRestore_Click()
{
    auto* dialog = new RestoreDialog(m_backupFolder, m_session.image(), this);
    if (!m_session.isOpen()) dialog->refuseRestore(link::SerialLink::noPortText());
    connect(dialog, &RestoreDialog::chosen, this, [this](const QString& path) {
        const session::CoinDataCheck check = session::checkCoinDataFile(path, true);
        if (!check) {
            showStatus(session::refusalText(*check.refusal), link::StatusColour::Red);
            return;
        }
        const ParameterImage image = check.file->image;
        ask(this, "ConfirmRestore",
            QStringLiteral("Program the selector with the backup %1?").arg(QDir::toNativeSeparators(path)),
            QStringLiteral("&Program"), QStringLiteral("&Cancel"), [this, image, path] {
                // The line names what was restored, not only the backup taken before it.
                programWithBackup(image, [this, path](bool succeeded, const QString& text) {
                    showStatus(QStringLiteral("Restore of %1: %2").arg(QDir::toNativeSeparators(path), text),
                               succeeded ? link::StatusColour::Green : link::StatusColour::Red);
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
