#pragma once

#include "session/programming.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QMessageBox;
class QWidget;

namespace quarvel {

namespace session {
class SelectorSession;
}

// What keeps a selector's memory safe when the desktop program writes it: the backup before
// every programming (when on), the questions the operation asks before its first write, what
// to do when no backup could be taken, and no programming left half-done without asking.
// The operation itself is the session's; this is the user's side of it.
class SafeProgramming : public QObject
{
    Q_OBJECT

public:
    // How a programming ended, worded for the window where the user acted.
    using Done = std::function<void(bool succeeded, const QString& text)>;

    SafeProgramming(session::SelectorSession& session, QWidget* window);

    bool backUp() const { return m_backUp; }
    void setBackUp(bool on);
    // Read the selector back after every programming and compare (on unless turned off).
    bool verify() const { return m_verify; }
    void setVerify(bool on);
    QString backupFolder() const { return m_folder; }
    void setBackupFolder(const QString& folder) { m_folder = folder; }

    // Runs the request, with a backup into the folder when backUp() is on and a read-back when
    // verify() is (a request that asks for one keeps it). Questions are asked
    // in the window; done hears the outcome (a refusal at once).
    void program(session::ProgramRequest request, Done done);
    // Runs stop after the user agreed to leave a programming unfinished; at once when none
    // runs. When the run ends first the question turns into its outcome with one OK.
    void confirmStop(std::function<void()> stop);
    // Runs close once nothing runs or the user agreed to stop what does (any operation).
    void confirmClose(std::function<void()> close);

signals:
    // A restore that was verified: what the selector now holds.
    void restored(const quarvel::ParameterImage& selector);

private:
    void start(session::ProgramRequest request, Done done);
    void finished(const session::ProgramRequest& request, const session::ProgramResult& result,
                  const Done& done);
    void askWithoutBackup(const QString& question, session::ProgramRequest request, Done done);
    // The stop question; once the run ends first, its outcome and one OK instead.
    void askToStop(const QString& question, std::function<void()> stop);

    session::SelectorSession& m_session;
    QWidget* m_window;
    bool m_backUp = true;
    bool m_verify = true;
    QString m_folder;
    QPointer<QMessageBox> m_stopQuestion;
};

} // namespace quarvel
