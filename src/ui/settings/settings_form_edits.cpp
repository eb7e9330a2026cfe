// The settings form's edits: whether the controls hold changes not yet written, loading them
// afresh, and leaving (Exit, Escape, the close box) without losing changes unasked.
#include "ui/settings/settings_form.h"

#include "ui/settings/ask.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quarvel {

QList<QString> SettingsForm::controlState() const
{
    QList<QString> state;
    for (const ScrollPair& pair : m_pairs)
        state << pair.text->text();
    for (const ListControl& c : m_lists)
        state << QString::number(c.list->currentIndex());
    return state;
}

bool SettingsForm::hasEdits() const
{
    return controlState() != m_loaded;
}

void SettingsForm::reload()
{
    for (const ListControl& c : m_lists)
        c.list->clear();
    for (const ScrollPair& pair : m_pairs)
        pair.text->setPalette(QPalette());
    m_message->clear();
    m_message->setPalette(m_messageRed);
    m_stale = false;
    load();
}

void SettingsForm::documentReplaced()
{
    m_stale = true;
    m_message->setPalette(m_messageRed);
    m_message->setText(QStringLiteral("While these edits were made, the selector's settings were replaced."));
}

void SettingsForm::setDeviceBusy(bool busy)
{
    m_command2->setEnabled(!busy);
}

void SettingsForm::showOutcome(bool succeeded, const QString& text)
{
    QPalette palette = m_message->palette();
    palette.setColor(QPalette::WindowText, succeeded ? QColor(0x00, 0x80, 0x00) : QColor(0xFF, 0x00, 0x00));
    m_message->setPalette(palette);
    m_message->setText(text);
}

void SettingsForm::exitClicked()
{
    if (!hasEdits()) {
        m_leaving = true;
        close();
        return;
    }
    ask(this, "ConfirmDiscard",
        QStringLiteral("The settings hold changes that were not taken back. Discard them?"),
        QStringLiteral("&Discard"), QStringLiteral("&Keep editing"), [this] {
            m_leaving = true;
            close();
        });
}

void SettingsForm::keyPressEvent(QKeyEvent* event)
{
    // Escape leaves as Exit does, also where Exit is not shown (calibration has only OK): a
    // window must have a way back.
    if (event->key() == Qt::Key_Escape) {
        exitClicked();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsForm::closeEvent(QCloseEvent* event)
{
    // The close box acts like Exit, question included.
    if (event->spontaneous() && !m_leaving && hasEdits()) {
        event->ignore();
        exitClicked();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace quarvel
