#include "ui/main/safe_programming.h"

#include "session/backup.h"
#include "session/reports.h"
#include "session/selector_session.h"
#include "ui/settings/ask.h"

#include <QPushButton>
#include <QSettings>

#include <memory>

namespace quarvel {

namespace {

constexpr char kBackupSetting[] = "Settings/BackupBeforeProgramming";
constexpr char kVerifySetting[] = "Settings/VerifyAfterProgramming";

QString withoutFullStop(QString text)
{
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

} // namespace

SafeProgramming::SafeProgramming(session::SelectorSession& session, QWidget* window)
    : QObject(window), m_session(session), m_window(window),
      m_backUp(QSettings().value(QLatin1String(kBackupSetting), true).toBool()),
      m_verify(QSettings().value(QLatin1String(kVerifySetting), true).toBool()),
      m_folder(session::BackupFolder::standardPath())
{}

void SafeProgramming::setBackUp(bool on)
{
    m_backUp = on;
    QSettings().setValue(QLatin1String(kBackupSetting), on);
}

void SafeProgramming::setVerify(bool on)
{
    m_verify = on;
    QSettings().setValue(QLatin1String(kVerifySetting), on);
}

void SafeProgramming::program(session::ProgramRequest request, Done done)
{
    if (m_backUp) request.backup = {session::BackupPolicy::Kind::Folder, m_folder, false};
    request.verify = request.verify || m_verify;
    start(std::move(request), std::move(done));
}

void SafeProgramming::start(session::ProgramRequest request, Done done)
{
    const auto started = m_session.program(request);
    if (!started) {
        const QString refusal = started.refusalText();
        if (started.refusal->kind != session::Refusal::Kind::BackupTarget) {
            done(false, refusal);
            return;
        }
        done(false, QStringLiteral("%1; nothing was programmed").arg(withoutFullStop(refusal)));
        askWithoutBackup(QStringLiteral("The backup could not be saved (%1). Program anyway?")
                             .arg(withoutFullStop(refusal)),
                         std::move(request), std::move(done));
        return;
    }
    QPointer<session::ProgramOperation> operation = started.operation;
    connect(operation, &session::ProgramOperation::question, this, [this, operation](const QString& text) {
        QMessageBox* box = ask(
            m_window, "ConfirmProgram", text, QStringLiteral("&Continue"), QStringLiteral("&No"),
            [operation] {
                if (operation) operation->proceed();
            },
            [operation] {
                if (operation) operation->cancel();
            });
        // A run that ends meanwhile (a pulled port, Cancel in the status window) takes its question along.
        connect(operation, &session::Operation::ended, box, &QMessageBox::close);
    });
    connect(operation, &session::ProgramOperation::finished, this,
            [this, request, done](const session::ProgramResult& result) { finished(request, result, done); });
}

void SafeProgramming::finished(const session::ProgramRequest& request, const session::ProgramResult& result,
                               const Done& done)
{
    using State = session::BackupOutcome::State;
    done(result.succeeded(), result.summary());
    if (result.exact && result.verified && result.succeeded()) {
        // Cells past the selector's memory are the backup's own; the rest is what was read back.
        ParameterImage selector = *request.image;
        for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
            selector.setText(a, result.readBack.text(a));
        emit restored(selector);
    }
    // A backup that failed on a marginal line, or could not be written, may be done without;
    // a cancel, a lost port or an echoing line is no reason to ask.
    const bool readFailed =
        result.backup.state == State::ReadFailed && result.reason == session::EndReason::RetriesUsedUp;
    if (readFailed)
        askWithoutBackup(
            QStringLiteral("Could not read the selector's memory to back it up. Program anyway?"), request,
            done);
    else if (result.backup.state == State::SaveFailed)
        askWithoutBackup(QStringLiteral("%1. Program anyway?").arg(withoutFullStop(result.backup.error)),
                         request, done);
}

void SafeProgramming::askWithoutBackup(const QString& question, session::ProgramRequest request, Done done)
{
    request.backup = {};
    ask(m_window, "ConfirmNoBackup", question, QStringLiteral("&Yes"), QStringLiteral("&No"),
        [this, request = std::move(request), done = std::move(done)] { start(request, done); });
}

void SafeProgramming::confirmStop(std::function<void()> stop)
{
    askToStop(session::stopProgrammingQuestion(m_session.device().current()), std::move(stop));
}

void SafeProgramming::confirmClose(std::function<void()> close)
{
    askToStop(session::stopToCloseQuestion(m_session.device().current()), std::move(close));
}

void SafeProgramming::askToStop(const QString& question, std::function<void()> stop)
{
    if (question.isEmpty()) {
        stop();
        return;
    }
    if (m_stopQuestion) {
        m_stopQuestion->raise();
        return;
    }
    session::Operation* running = m_session.device().current();
    const bool writing = question == session::stopProgrammingQuestion(running);
    QMessageBox* box = ask(m_window, "ConfirmStop", question, QStringLiteral("&Stop"),
                           writing ? QStringLiteral("&Keep programming") : QStringLiteral("&Keep it running"),
                           [this, stop = std::move(stop)] {
                               if (auto* current = m_session.device().current()) current->cancel();
                               stop();
                           });
    m_stopQuestion = box;
    // When the run ends first the answer is moot. Closing the question under the pointer would
    // let a click meant for it land on the window below (Exit): it stays, says how the run
    // ended, and takes one OK, which stops nothing and closes nothing.
    auto outcome = std::make_shared<QString>();
    if (auto* program = qobject_cast<session::ProgramOperation*>(running))
        connect(program, &session::ProgramOperation::finished, box,
                [outcome](const session::ProgramResult& result) { *outcome = result.summary(); });
    connect(running, &session::Operation::ended, box, [box, outcome] {
        for (QAbstractButton* button : box->buttons()) {
            box->removeButton(button);
            button->deleteLater();
        }
        QPushButton* ok = box->addButton(QMessageBox::Ok);
        ok->setObjectName(QStringLiteral("ok"));
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
        box->setText(outcome->isEmpty() ? QStringLiteral("It ended before your answer; nothing was stopped.")
                                        : QStringLiteral("It ended before your answer: %1").arg(*outcome));
    });
}

} // namespace quarvel
