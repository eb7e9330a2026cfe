// The main window's file procedures, which other windows call too: the most recent file, Save,
// Save As, Open, and Open & Program. Files are read, checked and written through the session.
#include "ui/main/main_window.h"

#include "image/coin_data_file.h"
#include "session/document_files.h"
#include "ui/main/main_texts.h"
#include "ui/settings/ask.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

namespace quarvel {

namespace t = main_texts;
using main_texts::q;

void MainWindow::mnuName1_Click()
{
    const QString path = QString::fromStdString(m_state.recentName1);
    // A most recent file that is gone is normal (first run, another machine's path).
    if (!QFileInfo::exists(path)) return;
    const session::CoinDataCheck check = session::checkCoinDataFile(path, false);
    if (!check) {
        showStatus(session::refusalText(*check.refusal), session::StatusColour::Red);
        return;
    }
    ParameterImage image = m_session.image();
    storeCoinData(check.file->values, image);
    m_session.replaceDocument(image, session::ChangeSource::File);
}

bool MainWindow::mnuFileSave_Click()
{
    const QString path = QString::fromStdString(m_state.recentName1);
    const FileSaveResult saved = session::saveCoinData(path, m_session.image());
    if (!saved.saved)
        showStatus(saved.error, session::StatusColour::Red);
    else
        showStatus(QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path)),
                   session::StatusColour::Green);
    if (saved.saved) m_session.markDocumentSaved();
    return saved.saved;
}

void MainWindow::mnuSaveAs_Click(Done done)
{
    m_chooser(this, FileChoice::Save, q(t::kSaveTitle), q(t::kCdtFilter), [this, done](const QString& path) {
        if (path.isEmpty()) return;
        m_state.setMostRecent(path.toStdString());
        const bool saved = mnuFileSave_Click();
        // The status line now holds the outcome, worded for whoever asked.
        if (done) done(saved, statusText());
    });
}

void MainWindow::mnuFileOpen_Click(std::function<void(bool)> done)
{
    m_chooser(this, FileChoice::Open, q(t::kOpenTitle), q(t::kCdtFilter), [this, done](const QString& path) {
        if (path.isEmpty()) {
            if (done) done(false);
            return;
        }
        const bool opened = static_cast<bool>(loadCheckedFile(path, false));
        if (done) done(opened);
    });
}

// A file that is not a coin data file, or for programming does not reach every selector cell,
// is neither loaded nor made the most recent: a later save would otherwise write the image
// over it.
session::CoinDataCheck MainWindow::loadCheckedFile(const QString& path, bool forProgramming)
{
    session::CoinDataCheck check = session::checkCoinDataFile(path, forProgramming);
    if (!check) {
        showStatus(session::refusalText(*check.refusal), session::StatusColour::Red);
        return check;
    }
    m_state.setMostRecent(path.toStdString());
    ParameterImage image = m_session.image();
    storeCoinData(check.file->values, image);
    m_session.replaceDocument(image, session::ChangeSource::File);
    return check;
}

void MainWindow::mnuOpen_Program_Click()
{
    m_session.setCdt(sampling::ReferenceStore::Calibrated);
    m_chooser(this, FileChoice::Open, q(t::kOpenTitle), q(t::kCdtFilter), [this](const QString& path) {
        if (path.isEmpty()) return;
        const session::CoinDataCheck check = loadCheckedFile(path, true);
        if (!check) return;
        programAfterConfirmation(path, check.unprogrammable, [this, path] {
            session::ProgramRequest request;
            request.sourceFile = path;
            // A failure stays in view with its ranges; calibrating a half-programmed selector
            // would hide it. Open & Program again retries.
            runProgramming(request, [this](bool programmed, const QString&) {
                if (programmed) openSampling(true);
            });
        });
    });
}

// Open & Program asks once before writing, naming the file and the port; cells the selector
// cannot hold as written are listed in the same question.
void MainWindow::programAfterConfirmation(const QString& path, const std::vector<UnprogrammableCell>& cells,
                                          std::function<void()> program)
{
    const QString question = QStringLiteral("Program the selector on %1 with %2?")
                                 .arg(m_session.portName(), QDir::toNativeSeparators(path));
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
