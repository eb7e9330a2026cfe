#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class QMainWindow;

namespace quarvel {

// Hands a URL to the desktop (a browser for the manual, a file manager for a folder); false when
// nothing took it. QDesktopServices::openUrl unless a test says otherwise.
using UrlOpener = std::function<bool(const QUrl&)>;

// The manual's index.html for a program in programFolder: beside it (Windows, the zip), in
// ../share/doc/quarvel (Linux, installed), or ../manual (the build tree); empty when none holds it.
QString findManual(const QString& programFolder);

// "Help" beside File and System: "Manual" (F1) opens the installed manual offline in the
// system's browser; "About QUARVEL" shows versions and where the program keeps its files.
void addHelpMenu(QMainWindow& window, UrlOpener open = {});

} // namespace quarvel
