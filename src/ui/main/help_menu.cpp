#include "ui/main/help_menu.h"

#include "ui/main/about_dialog.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

namespace quarvel {

namespace {

constexpr char kHelpMenu[] = "Help(&H)";
constexpr char kManual[] = "&Manual";
constexpr char kAbout[] = "&About QUARVEL";
constexpr char kNoManual[] = "The manual is not installed with this copy of QUARVEL (looked in %1).";
constexpr char kNoBrowser[] = "No web browser opened the manual. Open %1 in one.";

// Relative to the program's folder, in the order a copy is most likely laid out.
constexpr const char* kManualPlaces[] = {"manual", "../share/doc/quarvel/manual", "../manual"};

void openManual(QMainWindow& window, const UrlOpener& open)
{
    const QString folder = QCoreApplication::applicationDirPath();
    const QString index = findManual(folder);
    if (index.isEmpty()) {
        QStringList places;
        for (const char* place : kManualPlaces)
            places << QDir::toNativeSeparators(
                QDir::cleanPath(folder + QLatin1Char('/') + QLatin1String(place)));
        QMessageBox::warning(&window, QLatin1String("QUARVEL"),
                             QLatin1String(kNoManual).arg(places.join(QStringLiteral(", "))));
        return;
    }
    if (!open(QUrl::fromLocalFile(index)))
        QMessageBox::warning(&window, QLatin1String("QUARVEL"),
                             QLatin1String(kNoBrowser).arg(QDir::toNativeSeparators(index)));
}

} // namespace

QString findManual(const QString& programFolder)
{
    for (const char* place : kManualPlaces) {
        QString index = QDir::cleanPath(programFolder + QLatin1Char('/') + QLatin1String(place) +
                                        QStringLiteral("/index.html"));
        if (QFileInfo(index).isFile()) return index;
    }
    return {};
}

void addHelpMenu(QMainWindow& window, UrlOpener open)
{
    if (!open) open = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    QMenu* help = window.menuBar()->addMenu(QLatin1String(kHelpMenu));
    help->setObjectName(QStringLiteral("mnuHelp"));
    QAction* manual =
        help->addAction(QLatin1String(kManual), &window, [&window, open] { openManual(window, open); });
    manual->setObjectName(QStringLiteral("mnuManual"));
    manual->setShortcut(QKeySequence::HelpContents);
    manual->setShortcutContext(Qt::ApplicationShortcut); // F1 from the settings form or sampling window too
    QAction* about = help->addAction(QLatin1String(kAbout), &window, [&window, open] {
        auto* dialog = new AboutDialog(AboutPaths::current(), open, &window);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
    about->setObjectName(QStringLiteral("mnuAbout"));
}

} // namespace quarvel
