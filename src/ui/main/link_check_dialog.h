#pragma once

#include <QDialog>

class QLabel;
class QMenu;
class QPushButton;

namespace quarvel {

namespace session {
class SelectorSession;
struct CheckResult;
} // namespace session

// "Check Link...": the link check on the current port, with the same figures and diagnosis
// quarvelctl check prints.
class LinkCheckDialog : public QDialog
{
    Q_OBJECT

public:
    LinkCheckDialog(session::SelectorSession& session, QWidget* parent = nullptr);

    // Runs the check; the figures replace the text when it ends.
    void runCheck();

private:
    void showResult(const session::CheckResult& result);
    void setText(const QString& text);

    session::SelectorSession& m_session;
    QLabel* m_text;
    QPushButton* m_again;
};

// Adds "Check Link..." to the System menu once and keeps it enabled only while a port is
// open and idle; call when the menu is about to show.
void ensureCheckLinkAction(QMenu& menu, session::SelectorSession& session, QWidget* parent);

} // namespace quarvel
