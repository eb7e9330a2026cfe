#pragma once

#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include <functional>

namespace quarvel {

// A question that does not block: the window stays live and yes runs only on the first answer;
// no, when given, on any other end (the no button, Escape, the box closed).
// The safe answer (no) is the default, so Enter keeps what is there; Escape answers no.
inline QMessageBox* ask(QWidget* parent, const char* objectName, const QString& question,
                        const QString& yesText, const QString& noText, std::function<void()> yes,
                        std::function<void()> no = {})
{
    auto* box = new QMessageBox(QMessageBox::Question, parent->window()->windowTitle(), question,
                                QMessageBox::NoButton, parent);
    box->setObjectName(QLatin1String(objectName));
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* yesButton = box->addButton(yesText, QMessageBox::YesRole);
    QPushButton* noButton = box->addButton(noText, QMessageBox::NoRole);
    // Named, so that a script (and a test) can answer as a user would.
    yesButton->setObjectName(QStringLiteral("yes"));
    noButton->setObjectName(QStringLiteral("no"));
    box->setDefaultButton(noButton);
    box->setEscapeButton(noButton);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, yesButton, yes = std::move(yes), no = std::move(no)] {
                         if (box->clickedButton() == yesButton)
                             yes();
                         else if (no)
                             no();
                     });
    box->open();
    return box;
}

} // namespace quarvel
