#pragma once

#include "image/parameter_image.h"

#include <QDialog>
#include <QString>

class QTreeWidget;

namespace quarvel {

// "Restore Selector…": the backups of a folder, newest first, each with its date, time, port
// and the settings in which it differs from the document. chosen() names the one picked.
class RestoreDialog : public QDialog
{
    Q_OBJECT

public:
    RestoreDialog(const QString& folder, const ParameterImage& document, QWidget* parent = nullptr);
    int count() const;

signals:
    void chosen(const QString& path);

private:
    void accepted();

    QTreeWidget* m_list;
};

} // namespace quarvel
