#include "ui/main/history_menu.h"

#include "history/history_setup.h"
#include "session/device.h"
#include "session/programming.h"
#include "ui/main/history_window.h"

#include <QAction>
#include <QInputDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>

#include <cstdio>

namespace quarvel {

namespace {

constexpr char kMenu[] = "History(&Y)";
constexpr char kShow[] = "&Selector history...";
constexpr char kKeep[] = "&Keep a history";
constexpr char kServer[] = "History &server...";
constexpr char kServerLabel[] =
    "A line's PostgreSQL server (postgresql://host/database), used from the next start; empty for this "
    "computer's own file. The password comes from ~/.pgpass or PGPASSWORD, never from here.";
constexpr char kKeepKey[] = "history/keep";
constexpr char kServerKey[] = "history/server";

} // namespace

std::unique_ptr<history::HistoryRecorder> desktopHistory()
{
    QSettings settings;
    if (!settings.value(QLatin1String(kKeepKey), true).toBool()) return nullptr;
    std::optional<history::HistoryTarget> server;
    const QString url = settings.value(QLatin1String(kServerKey)).toString();
    if (!url.isEmpty()) {
        const auto parsed = history::parseHistoryUrl(url);
        if (!parsed.target)
            std::fprintf(stderr, "quarvel: %s\n", qPrintable(parsed.error));
        else if (const QString refused = history::refusedLogin(*parsed.target); !refused.isEmpty())
            std::fprintf(stderr, "quarvel: %s; recording on this computer alone\n", qPrintable(refused));
        else
            server = parsed.target;
    }
    return std::make_unique<history::HistoryRecorder>(history::recorderConfig(server));
}

namespace {

void warn(QWidget& window, const QString& text, const char* objectName)
{
    auto* box =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("QUARVEL"), text, QMessageBox::Ok, &window);
    if (objectName) box->setObjectName(QLatin1String(objectName));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// A line's server for the history, from the next start: a URL without its password, or none.
void askForServer(QWidget& window)
{
    auto* ask = new QInputDialog(&window);
    ask->setObjectName(QStringLiteral("frmHistoryServer"));
    ask->setAttribute(Qt::WA_DeleteOnClose);
    ask->setWindowTitle(QStringLiteral("QUARVEL"));
    ask->setLabelText(QLatin1String(kServerLabel));
    ask->setTextValue(QSettings().value(QLatin1String(kServerKey)).toString());
    QObject::connect(ask, &QInputDialog::textValueSelected, &window, [&window](const QString& text) {
        const QString url = text.trimmed();
        if (!url.isEmpty()) {
            const auto parsed = history::parseHistoryUrl(url);
            if (!parsed.target) {
                warn(window, parsed.error, nullptr);
                return;
            }
        }
        QSettings().setValue(QLatin1String(kServerKey), url);
    });
    ask->open();
}

} // namespace

void addHistoryMenu(QMainWindow& window, session::Device& device, history::HistoryRecorder* recorder)
{
    QMenu* menu = window.menuBar()->addMenu(QLatin1String(kMenu));
    menu->setObjectName(QStringLiteral("mnuHistory"));
    // The history's own file holds every record of this computer, a server's sent ones too.
    history::HistoryTarget target = recorder ? recorder->config().local : history::recorderConfig({}).local;
    QAction* show = menu->addAction(QLatin1String(kShow), &window, [&window, &device, target, recorder] {
        if (recorder) recorder->waitForWrites();
        const auto& seen = device.selectorSeen();
        auto* dialog = new HistoryWindow(target, seen ? session::serialNumberOf(*seen) : -1, &window);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
    show->setObjectName(QStringLiteral("mnuSelectorHistory"));
    show->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));

    QAction* keep = menu->addAction(QLatin1String(kKeep));
    keep->setObjectName(QStringLiteral("mnuKeepHistory"));
    keep->setCheckable(true);
    keep->setChecked(recorder != nullptr);
    QObject::connect(keep, &QAction::toggled, &window, [&device, recorder](bool on) {
        QSettings().setValue(QLatin1String(kKeepKey), on);
        // Switched on again after a start without it: from the next start.
        if (recorder) device.setHistory(on ? recorder : nullptr);
    });

    QAction* server = menu->addAction(QLatin1String(kServer), &window, [&window] { askForServer(window); });
    server->setObjectName(QStringLiteral("mnuHistoryServer"));

    if (!recorder) return;
    device.setHistory(recorder);
    QObject::connect(recorder, &history::HistoryRecorder::problem, &window,
                     [&window](const QString& text) { warn(window, text, "msgHistoryProblem"); });
}

} // namespace quarvel
