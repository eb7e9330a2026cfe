#include "ui/main/link_check_dialog.h"

#include "session/selector_session.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace quarvel {

namespace {
constexpr int kExchanges = 50;
const char kActionName[] = "mnuCheckLink";
} // namespace

LinkCheckDialog::LinkCheckDialog(session::SelectorSession& session, QWidget* parent)
    : QDialog(parent), m_session(session), m_text(new QLabel(this))
{
    setObjectName(QStringLiteral("frmCheckLink"));
    setWindowTitle(QStringLiteral("Check Link"));
    m_text->setObjectName(QStringLiteral("labelCheck"));
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setWordWrap(true);
    // Wide enough for the figures' lines, narrow enough for 1024x768 at 1.5x (683 points).
    m_text->setMinimumWidth(480);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Close"));
    m_again = buttons->addButton(QStringLiteral("Check &again"), QDialogButtonBox::ActionRole);
    m_again->setObjectName(QStringLiteral("cmdCheckAgain"));
    connect(m_again, &QPushButton::clicked, this, &LinkCheckDialog::runCheck);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text, 1);
    layout->addWidget(buttons);
}

void LinkCheckDialog::setText(const QString& text)
{
    m_text->setText(text);
    // The result has more lines than "Checking ...": the dialog grows with them (never past
    // the screen), so the diagnosis below the figures is never cut off.
    const QSize wanted = sizeHint().expandedTo(size());
    const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    resize(wanted.boundedTo(screen.size()));
}

void LinkCheckDialog::runCheck()
{
    auto started = m_session.device().checkLink(kExchanges);
    if (!started) {
        setText(started.refusalText());
        return;
    }
    m_again->setEnabled(false);
    setText(QStringLiteral("Checking %1 ...").arg(m_session.device().portName()));
    connect(started.operation, &session::CheckOperation::finished, this, &LinkCheckDialog::showResult);
}

void LinkCheckDialog::showResult(const session::CheckResult& result)
{
    m_again->setEnabled(true);
    setText(m_session.device().portName() + QLatin1Char('\n') + result.lines().join(QLatin1Char('\n')));
}

void ensureCheckLinkAction(QMenu& menu, session::SelectorSession& session, QWidget* parent)
{
    auto* action = menu.findChild<QAction*>(QLatin1String(kActionName));
    if (!action) {
        action = menu.addAction(QStringLiteral("Check &Link..."));
        QObject::connect(action, &QAction::triggered, action, [&session, parent] {
            auto* dialog = new LinkCheckDialog(session, parent);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->open();
            dialog->runCheck();
        });
        action->setObjectName(QLatin1String(kActionName));
    }
    action->setEnabled(session.device().isOpen() && !session.device().isBusy());
}

} // namespace quarvel
