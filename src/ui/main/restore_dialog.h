#pragma once

#include "image/parameter_image.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace quarvel {

// "Restore Selector…": the backups of a folder, newest first, each with its date, time, port
// and the settings in which it differs from the document. chosen() names the one picked.
class RestoreDialog : public QDialog
{
    Q_OBJECT

public:
    RestoreDialog(const QString& folder, const ParameterImage& document, QWidget* parent = nullptr);
    // Said above the list, and Restore… is off: nothing could be programmed (no port open).
    void refuseRestore(const QString& why);

signals:
    void chosen(const QString& path);

private:
    void accepted();

    QTreeWidget* m_list;
    QLabel* m_notice;
    QPushButton* m_restore = nullptr;
};

} // namespace quarvel
