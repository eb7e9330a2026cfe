// The main window's programming: Program to Coin Selector, Open & Program and Restore Selector…,
// through SafeProgramming, which keeps a backup before every programming and no programming
// left half-done without asking; and the one question before unsaved work is replaced or closed.
#include "ui/main/main_window.h"

#include "session/backup.h"
#include "ui/main/restore_dialog.h"
#include "ui/sampling/sampling_window.h"
#include "ui/settings/ask.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QMessageBox>

namespace quarvel {

void MainWindow::buildSafetyMenu(QMenu* file)
{
    file->addSeparator();
    m_backupAction = file->addAction(QStringLiteral("&Back up before programming"));
    m_backupAction->setObjectName(QStringLiteral("mnuBackup"));
    m_backupAction->setCheckable(true);
    m_backupAction->setChecked(m_safety.backUp());
    connect(m_backupAction, &QAction::toggled, this, [this](bool on) { m_safety.setBackUp(on); });
    m_verifyAction = file->addAction(QStringLiteral("&Verify after programming"));
    m_verifyAction->setObjectName(QStringLiteral("mnuVerify"));
    m_verifyAction->setCheckable(true);
    m_verifyAction->setChecked(m_safety.verify());
    connect(m_verifyAction, &QAction::toggled, this, [this](bool on) { m_safety.setVerify(on); });
    m_restoreAction =
        file->addAction(QStringLiteral("&Restore Selector\u2026"), this, &MainWindow::mnuRestore_Click);
    m_restoreAction->setObjectName(QStringLiteral("mnuRestore"));
    connect(&m_safety, &SafeProgramming::restored, this, &MainWindow::takeRestored);
}

// ----- work not yet saved or programmed: one question before anything replaces it -----

bool MainWindow::askBeforeLosingWork(std::function<void()> proceed)
{
    if (!m_session.document().hasUnsavedWork() || m_workConfirmed) return true;
    askSaveDiscardCancel(
        Losing::Closing,
        [this, proceed = std::move(proceed)](bool) {
            m_workConfirmed = true;
            proceed();
        },
        [this] { m_closeConfirmed = false; });
    return false;
}

void MainWindow::beforeReplacing(Losing losing, std::function<void()> proceed,
                                 std::function<void()> cancelled)
{
    if (!m_session.document().hasUnsavedWork()) {
        proceed();
        return;
    }
    askSaveDiscardCancel(
        losing,
        [this, proceed = std::move(proceed)](bool discarded) {
            // Discarded edits left in a window would come back with its next OK or Program.
            if (discarded) {
                if (SettingsForm* form = settingsForm()) form->reload();
                if (m_sampling) m_sampling->reload();
            }
            proceed();
        },
        std::move(cancelled));
}

void MainWindow::askSaveDiscardCancel(Losing losing, std::function<void(bool)> answered,
                                      std::function<void()> cancelled)
{
    static const char* const kBefore[] = {"closing", "the settings read from the selector replace them",
                                          "the file's settings replace them",
                                          "the restored settings replace them"};
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("The settings have changes that were neither saved nor "
                                               "programmed. Save them before %1?")
                                    .arg(QLatin1String(kBefore[static_cast<int>(losing)])),
                                QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box->setObjectName(QStringLiteral("ConfirmSaveChanges"));
    box->setDefaultButton(QMessageBox::Cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this,
            [this, box, answered = std::move(answered), cancelled = std::move(cancelled)] {
                const auto answer = box->standardButton(box->clickedButton());
                if (answer == QMessageBox::Save) {
                    // Edits still in a window go into the document first; a refusal there stays in view.
                    if (SettingsForm* f = settingsForm(); f && f->hasEdits() && !f->tranback()) return;
                    if (m_sampling && !m_sampling->takeBackValues()) return;
                    if (!mnuFileSave_Click()) return;
                } else if (answer != QMessageBox::Discard) {
                    if (cancelled) cancelled();
                    return;
                }
                answered(answer == QMessageBox::Discard);
            });
    box->open();
}

void MainWindow::takeRestored(const ParameterImage& selector)
{
    // Left as it was, the document would be programmed back over the restore by the next Program.
    beforeReplacing(Losing::Restore, [this, selector] {
        m_session.document().replace(selector, session::ChangeSource::Read);
    });
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
    m_safety.program(request, [this, done = std::move(done)](bool succeeded, const QString& text) {
        showStatus(text, succeeded ? session::StatusColour::Green : session::StatusColour::Red);
        if (done) done(succeeded, text);
    });
}

void MainWindow::mnuRestore_Click()
{
    auto* dialog = new RestoreDialog(m_safety.backupFolder(), m_session.document().image(), this);
    if (!m_session.device().isOpen())
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
        request.sourceSha256 = check.sha256;
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

void MainWindow::mnuOpen_Program_Click()
{
    m_files.chooseToOpen([this](const QString& path) {
        if (path.isEmpty()) return;
        const session::CoinDataCheck check = session::checkCoinDataFile(path, true);
        if (!check) {
            m_files.showRefusal(check);
            return;
        }
        // Nothing changes before the user agrees: a declined question leaves the document, the
        // recent files and the selector as they were.
        askToProgram(path, check.unprogrammable, [this, path, check] {
            beforeReplacing(Losing::File, [this, path, check] { programFile(path, check); });
        });
    });
}

void MainWindow::programFile(const QString& path, const session::CoinDataCheck& check)
{
    m_session.document().setCdt(sampling::ReferenceStore::Calibrated);
    m_files.load(path, check);
    session::ProgramRequest request;
    request.sourceFile = path;
    request.sourceSha256 = check.sha256;
    // A failure stays in view with its ranges; calibrating a half-programmed selector would hide
    // it. Open & Program again retries.
    runProgramming(request, [this](bool programmed, const QString&) {
        if (programmed) openSampling(true);
    });
}

// Open & Program asks once before writing, naming the file and the port; cells the selector
// cannot hold as written are listed in the same question.
void MainWindow::askToProgram(const QString& path, const std::vector<UnprogrammableCell>& cells,
                              std::function<void()> program)
{
    const QString question = QStringLiteral("Program the selector on %1 with %2?")
                                 .arg(m_session.device().portName(), QDir::toNativeSeparators(path));
    if (cells.empty()) {
        ask(this, "ConfirmOpenProgram", question, QStringLiteral("&Program"), QStringLiteral("&Cancel"),
            std::move(program));
        return;
    }
    QStringList lines;
    for (const UnprogrammableCell& cell : cells)
        lines.append(QStringLiteral("cell %1 \"%2\" would be sent as %3")
                         .arg(cell.address)
                         .arg(QString::fromStdString(cell.text))
                         .arg(cell.sent));
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("These cells do not hold numbers the selector can take:"),
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("ConfirmCells"));
    box->setInformativeText(question);
    box->setDetailedText(lines.join(QLatin1Char('\n')));
    box->setDefaultButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [program](int answer) {
        if (answer == QMessageBox::Yes) program();
    });
    box->open();
}

} // namespace quarvel
