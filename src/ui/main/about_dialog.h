#pragma once

#include "ui/main/help_menu.h"

#include <QDialog>

class QLabel;

namespace quarvel {

// Where this program keeps its files, from the functions that decide it.
struct AboutPaths
{
    QString stateFile;
    QString settings;
    QString backups;
    static AboutPaths current();
};

// "About QUARVEL": the version, the Qt version and the real paths, selectable so a technician
// can read them to support; a button opens the backups folder.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    AboutDialog(const AboutPaths& paths, UrlOpener open, QWidget* parent = nullptr);

private:
    void openBackups();

    AboutPaths m_paths;
    UrlOpener m_open;
    QLabel* m_result = nullptr;
};

} // namespace quarvel
