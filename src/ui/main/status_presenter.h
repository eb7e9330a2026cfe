#pragma once

#include "session/reports.h"
#include "ui/main/status_window.h"

namespace quarvel::session {
class Operation;
class SelectorSession;
} // namespace quarvel::session

#include "session/operation.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace quarvel {

// Drives the status window from a transfer's events. The window is created (and loaded) on
// first use, destroyed when it is closed, and created afresh by the next transfer. A window
// left open after a failure is reused: new texts overwrite the old, and its close button
// stays enabled, since only loading disables it.
class StatusPresenter : public QObject
{
    Q_OBJECT

public:
    // windowParent, when given, owns every status window this presenter creates.
    explicit StatusPresenter(QWidget* windowParent = nullptr, QObject* parent = nullptr);
    ~StatusPresenter() override;

    // Shows every operation the session runs from now on.
    void follow(const session::SelectorSession& session);
    // Shows the transfers of this one operation. A sampling run has a window of its own and
    // is not shown here.
    void follow(session::Operation* operation);
    // Asked before Cancel stops a programming run: it calls stop once the user agrees.
    using StopGuard = std::function<void(std::function<void()> stop)>;
    void setStopGuard(StopGuard guard) { m_stopGuard = std::move(guard); }

    // The open status window, or null.
    StatusWindow* window() const { return m_window; }

public slots:
    void transferStarted();
    void apply(const session::Report& report);
    void transferFinished(session::Outcome outcome);

private:
    // The open window, created and shown when there is none, so that no report goes unseen.
    StatusWindow* ensureWindow();

    void cancelClicked();

    QPointer<QWidget> m_windowParent;
    QPointer<StatusWindow> m_window;
    QPointer<session::Operation> m_operation; // the one being shown, while it runs
    StopGuard m_stopGuard;
};

} // namespace quarvel
