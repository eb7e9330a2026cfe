#include "ui/main/status_presenter.h"

#include "session/selector_session.h"

#include <QString>

#include <type_traits>
#include <variant>

namespace quarvel {

StatusPresenter::StatusPresenter(QWidget* windowParent, QObject* parent)
    : QObject(parent), m_windowParent(windowParent)
{}

StatusPresenter::~StatusPresenter()
{
    delete m_window.data();
}

void StatusPresenter::follow(const session::SelectorSession& session)
{
    connect(&session.device(), &session::Device::operationStarted, this,
            [this](session::Operation* operation) { follow(operation); });
    // A pulled adapter is named in the window of the run it ended.
    connect(&session.device(), &session::Device::portLost, this, [this](const QString& message) {
        if (!m_window || !m_operation) return;
        m_window->setStatusText(message, session::StatusColour::Red);
        m_window->enableClose();
        m_window->setCancelVisible(false);
    });
}

void StatusPresenter::follow(session::Operation* operation)
{
    // A sampling run reports in the sampling window, where the user waits with the coins.
    if (operation->kind() == session::Operation::Kind::Sampling) return;
    m_operation = operation;
    connect(operation, &session::Operation::transferStarted, this, &StatusPresenter::transferStarted);
    connect(operation, &session::Operation::reported, this, &StatusPresenter::apply);
    connect(operation, &session::Operation::transferFinished, this, &StatusPresenter::transferFinished);
    if (operation->kind() == session::Operation::Kind::Program) {
        // A programming the user declined or stopped before its first write has nothing to show:
        // its half bar and "Try to communicate" would read as a run still going.
        connect(static_cast<session::ProgramOperation*>(operation), &session::ProgramOperation::finished,
                this, [this](const session::ProgramResult& result) {
                    if (result.reason == session::EndReason::Cancelled && result.cellsWritten() == 0 &&
                        m_window)
                        m_window->close();
                });
    }
}

void StatusPresenter::transferStarted()
{
    ensureWindow()->setCancelVisible(m_operation && !m_operation->hasEnded());
}

void StatusPresenter::apply(const session::Report& report)
{
    StatusWindow* w = ensureWindow();
    std::visit(
        [w](const auto& r) {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<T, session::ShowText>)
                w->setStatusText(QString::fromStdString(r.text), r.colour);
            else if constexpr (std::is_same_v<T, session::SetColour>)
                w->setStatusColour(r.colour);
            else
                w->setProgress(r.value, r.maximum);
        },
        report);
}

void StatusPresenter::transferFinished(session::Outcome outcome)
{
    switch (outcome) {
    case session::Outcome::Succeeded:
        if (m_window) m_window->close();
        break;
    case session::Outcome::Failed:
        // The failure stays on screen until the user closes it.
        ensureWindow()->enableClose();
        m_window->setCancelVisible(false);
        break;
    case session::Outcome::Running:
        break;
    }
}

void StatusPresenter::cancelClicked()
{
    session::Operation* running = m_operation;
    if (!running || running->hasEnded()) return;
    QPointer<session::Operation> op(running);
    const auto stop = [op] {
        if (op) op->cancel();
    };
    if (running->kind() == session::Operation::Kind::Program && m_stopGuard)
        m_stopGuard(stop);
    else
        stop();
}

StatusWindow* StatusPresenter::ensureWindow()
{
    if (!m_window) {
        m_window = new StatusWindow(m_windowParent);
        connect(m_window, &StatusWindow::cancelRequested, this, &StatusPresenter::cancelClicked);
    }
    // Modeless: the other windows stay usable while a transfer runs.
    if (!m_window->isVisible()) m_window->show();
    return m_window;
}

} // namespace quarvel
