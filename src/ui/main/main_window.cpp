#include "ui/main/main_window.h"

#include "image/default_image.h"
#include "session/backup.h"
#include "session/document_files.h"
#include "ui/alt_letter.h"
#include "ui/main/coin_picture.h"
#include "ui/main/main_texts.h"
#include "ui/main/status_window.h"
#include "ui/main/traffic_log_window.h"
#include "ui/main/window_geometry.h"
#include "ui/sampling/sampling_window.h"
#include "ui/status_colour.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>

namespace quarvel {

namespace t = main_texts;
using main_texts::q;

namespace {

constexpr char kSection[] = "Settings";

// Stored position and size in twips, with the defaults a first run gets.
struct StoredGeometry
{
    const char* key;
    int fallback;
};
constexpr StoredGeometry kLeft{"MainLeft", 1000};
constexpr StoredGeometry kTop{"MainTop", 1000};
constexpr StoredGeometry kWidth{"MainWidth", 6500};
constexpr StoredGeometry kHeight{"MainHeight", 6500};

// Button size in twips, as the window was drawn.
constexpr int kButtonWidth = 3495;
constexpr int kButtonHeight = 615;

double screenDpi(const QWidget* widget)
{
    const QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() : 96.0;
}

} // namespace

MainWindow::MainWindow(session::SelectorSession& session, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_safety(session, this), m_presenter(this),
      m_files(session, statusLine(), this)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(q(t::kCaption));

    m_portMenu = new PortMenu(m_session, m_files.state(), statusLine(), this);
    m_trafficLog = new TrafficLogWindow(this);
    buildWidgets();
    buildMenus();

    m_presenter.follow(m_session);
    connect(&m_session.device(), &session::Device::busyChanged, this, &MainWindow::setBusy);
    connect(&m_session.device(), &session::Device::traffic, m_trafficLog, &TrafficLogWindow::append);
    connect(&m_session.document(), &session::Document::changed, this, &MainWindow::followDocument);
    // Whatever the line said before belongs to what ran before.
    connect(&m_session.device(), &session::Device::operationStarted, this,
            [this] { showStatus(QString(), session::StatusColour::Blue); });
    m_presenter.setStopGuard([this](std::function<void()> stop) { m_safety.confirmStop(std::move(stop)); });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildWidgets()
{
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    grid->addWidget(new CoinPicture(central), 0, 0, 5, 1);

    const int buttonWidth = twipsToPixels(kButtonWidth, screenDpi(this));
    const int buttonHeight = twipsToPixels(kButtonHeight, screenDpi(this));
    const auto button = [&](const char* name, const char* caption, const char* tip, int row, char alt) {
        auto* b = new QPushButton(withAltLetter(q(caption), QLatin1Char(alt)), central);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(q(tip));
        b->setMinimumSize(buttonWidth, buttonHeight);
        grid->addWidget(b, row, 1);
        return b;
    };
    m_comTeach = button("ComTeach", t::kTeach, t::kTeachTip, 0, 'T');
    m_comEdit = button("ComEdit", t::kEdit, t::kEditTip, 1, 'E');
    m_comCal = button("ComCal", t::kCal, t::kCalTip, 2, 'C');
    m_comExit = button("ComExit", t::kExit, t::kExitTip, 3, 'x');
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(0, 1);

    auto* label1 = new QLabel(q(t::kStatus), central);
    label1->setObjectName(QStringLiteral("Label1"));
    m_labelStats = new QLabel(QStringLiteral("standby"), central);
    m_labelStats->setObjectName(QStringLiteral("labelStats"));
    // No accessible name: a screen reader reads the label's own text, which a name would hide;
    // "Status:" comes from its buddy label, once.
    m_labelStats->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_labelStats->setWordWrap(true);
    label1->setBuddy(m_labelStats);
    auto* status = new QHBoxLayout;
    status->addWidget(label1);
    status->addWidget(m_labelStats, 1);
    status->addWidget(m_portMenu->indicator());
    grid->addLayout(status, 5, 0, 1, 2);
    setCentralWidget(central);

    connect(m_comTeach, &QPushButton::clicked, this, &MainWindow::ComTeach_Click);
    connect(m_comEdit, &QPushButton::clicked, this, &MainWindow::ComEdit_Click);
    connect(m_comCal, &QPushButton::clicked, this, &MainWindow::ComCal_Click);
    connect(m_comExit, &QPushButton::clicked, this, &MainWindow::mnuFileExit_Click);
    for (QPushButton* b : {m_comTeach, m_comEdit, m_comCal})
        b->setAutoDefault(true); // Enter presses the button that has the focus
    // Enter never ends the program: focus that lands on Exit unnoticed must not close it.
    // Space and Alt+X still press it.
    m_comExit->setAutoDefault(false);
    setTabOrder(m_comTeach, m_comEdit);
    setTabOrder(m_comEdit, m_comCal);
    setTabOrder(m_comCal, m_comExit);
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(q(t::kFileMenu));
    file->setObjectName(QStringLiteral("mnuFile"));
    // The caption's own & stays a plain &; P is the Alt letter.
    m_openProgram = file->addAction(withAltLetter(q(t::kOpenProgram), QLatin1Char('P')), this,
                                    &MainWindow::mnuOpen_Program_Click);
    m_openProgram->setObjectName(QStringLiteral("mnuOpen_Program"));
    buildSafetyMenu(file);

    QMenu* system = m_portMenu->menu();
    menuBar()->addMenu(system);
    system->addSeparator();
    m_virtualWindowAction =
        system->addAction(q(t::kVirtualSelectorWindow), this, &MainWindow::openVirtualSelectorWindow);
    m_virtualWindowAction->setObjectName(QStringLiteral("mnuVirtualSelectorWindow"));
    m_virtualWindowAction->setEnabled(false);
    QAction* traffic = system->addAction(q(t::kTrafficLog), this, [this] {
        m_trafficLog->show();
        m_trafficLog->raise();
        m_trafficLog->activateWindow();
    });
    traffic->setObjectName(QStringLiteral("mnuTrafficLog"));
    connect(m_portMenu, &PortMenu::marksUpdated, this,
            [this] { m_virtualWindowAction->setEnabled(m_session.bench().isOpen()); });
}

// ----- start-up and exit -----

void MainWindow::startUp(const StartPort& port)
{
    // The status line is emptied first, so that a file or port failure below stays readable.
    m_labelStats->clear();
    ParameterImage image = m_session.document().image();
    loadMainDefault(image);
    m_session.document().replace(image, session::ChangeSource::Default);
    restoreGeometryFromSettings();
    m_files.loadState();
    mnuName1_Click();
    m_portMenu->openStartPort(port);
    m_portMenu->updateMarks();
}

void MainWindow::mnuFileExit_Click()
{
    if (!m_closeConfirmed && !session::stopToCloseQuestion(m_session.device().current()).isEmpty()) {
        m_safety.confirmClose([this] {
            m_closeConfirmed = true;
            mnuFileExit_Click();
        });
        return;
    }
    m_closeConfirmed = true;
    if (!askBeforeLosingWork([this] { mnuFileExit_Click(); })) return;
    const FileSaveResult saved = m_files.saveState();
    if (!saved.saved) {
        // The choices of this run would be lost without a word: say so before closing.
        showStatus(saved.error, session::StatusColour::Red);
        auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), saved.error, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, this, [this] {
            m_session.device().closePort();
            close();
        });
        box->open();
        return;
    }
    m_session.device().closePort();
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A half-programmed selector is worse than a running program, and a read cut short is work
    // lost: ask before stopping whatever runs.
    if (!m_closeConfirmed && !session::stopToCloseQuestion(m_session.device().current()).isEmpty()) {
        event->ignore();
        m_safety.confirmClose([this] {
            m_closeConfirmed = true;
            close();
        });
        return;
    }
    if (!askBeforeLosingWork([this] { close(); })) {
        event->ignore();
        return;
    }
    // A transfer still running ends here, cleanly, before its windows go.
    if (auto* running = m_session.device().current()) running->cancel();
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
        if (*it) (*it)->close();
    m_windows.clear();
    if (m_settings) m_settings->close();
    if (StatusWindow* status = m_presenter.window()) status->close();
    m_trafficLog->close();
    if (!isMinimized()) saveGeometryToSettings();
    event->accept();
}

void MainWindow::restoreGeometryFromSettings()
{
    QSettings settings;
    settings.beginGroup(QLatin1String(kSection));
    const auto twips = [&](const StoredGeometry& g) {
        bool ok = false;
        const int value = settings.value(QLatin1String(g.key), g.fallback).toInt(&ok);
        return ok ? value : g.fallback;
    };
    const double dpi = screenDpi(this);
    QRect wanted(twipsToPixels(twips(kLeft), dpi), twipsToPixels(twips(kTop), dpi),
                 twipsToPixels(twips(kWidth), dpi), twipsToPixels(twips(kHeight), dpi));
    // The stored default width would hide the task buttons: never smaller than the layout.
    wanted.setSize(wanted.size().expandedTo(sizeHint()));
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    const QRect placed = keepOnScreen(wanted, screens);
    resize(placed.size());
    move(placed.topLeft());
}

void MainWindow::saveGeometryToSettings()
{
    const double dpi = screenDpi(this);
    const QRect r = isMaximized() || isFullScreen() ? normalGeometry() : QRect(pos(), size());
    QSettings settings;
    settings.beginGroup(QLatin1String(kSection));
    settings.setValue(QLatin1String(kLeft.key), pixelsToTwips(r.x(), dpi));
    settings.setValue(QLatin1String(kTop.key), pixelsToTwips(r.y(), dpi));
    settings.setValue(QLatin1String(kWidth.key), pixelsToTwips(r.width(), dpi));
    settings.setValue(QLatin1String(kHeight.key), pixelsToTwips(r.height(), dpi));
}

// ----- the status line -----

void MainWindow::showStatus(const QString& text, session::StatusColour colour)
{
    QPalette palette = m_labelStats->palette();
    palette.setColor(QPalette::WindowText, statusColour(colour));
    m_labelStats->setPalette(palette);
    m_labelStats->setText(text);
}

QString MainWindow::statusText() const
{
    return m_labelStats->text();
}

StatusLine MainWindow::statusLine()
{
    return {[this](const QString& text, session::StatusColour colour) { showStatus(text, colour); },
            [this] { return statusText(); }};
}

// ----- tasks -----

void MainWindow::setBusy(bool busy)
{
    // Two interleaved transfers would corrupt each other: nothing new starts while one runs.
    // Disabling the focused task button would hand the focus on to Exit, where the user's next
    // Enter or the window's return from a child would find it: it waits for the button instead.
    const std::initializer_list<QWidget*> tasks{m_comTeach, m_comEdit, m_comCal};
    QWidget* focused = focusWidget();
    if (busy && std::find(tasks.begin(), tasks.end(), focused) != tasks.end()) m_focusAfterBusy = focused;
    for (QWidget* w : tasks)
        w->setEnabled(!busy);
    if (busy && m_focusAfterBusy && focusWidget() == m_comExit) m_comExit->clearFocus();
    if (!busy && m_focusAfterBusy) {
        if (!focusWidget() || focusWidget() == m_comExit) m_focusAfterBusy->setFocus();
        m_focusAfterBusy = nullptr;
    }
    m_openProgram->setEnabled(!busy);
    m_restoreAction->setEnabled(!busy);
    if (m_settings) m_settings->setDeviceBusy(busy);
}

void MainWindow::registerWindow(QWidget* window)
{
    m_windows.removeAll(nullptr);
    m_windows.append(window);
}

void MainWindow::setFileChooser(FileChooser chooser)
{
    m_files.setFileChooser(chooser);
    m_trafficLog->setFileChooser(std::move(chooser));
}

// ----- the file procedures and port entries other windows and scripts call -----

void MainWindow::mnuName1_Click()
{
    m_files.loadMostRecent();
}

bool MainWindow::mnuFileSave_Click()
{
    return m_files.save();
}

void MainWindow::mnuSaveAs_Click(const Done& done)
{
    m_files.saveAs(done);
}

void MainWindow::mnuFileOpen_Click(const std::function<void(bool)>& done)
{
    m_files.chooseToOpen([this, done](const QString& path) {
        const auto notOpened = [done] {
            if (done) done(false);
        };
        if (path.isEmpty()) return notOpened();
        beforeReplacing(
            Losing::File,
            [this, path, done] {
                const bool opened = static_cast<bool>(m_files.loadChecked(path, false));
                if (done) done(opened);
            },
            notOpened);
    });
}

} // namespace quarvel
