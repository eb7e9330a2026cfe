#include "ui/main/main_window.h"

#include "image/coin_data_file.h"
#include "image/qt/coin_data_io.h"
#include "image/default_image.h"
#include "image/qt/image_file.h"
#include "image/settings_model.h"
#include "image/qt/state_file_io.h"
#include "ui/main/coin_picture.h"
#include "ui/main/main_texts.h"
#include "ui/main/port_names.h"
#include "ui/main/status_window.h"
#include "ui/main/traffic_log_window.h"
#include "ui/sim/virtual_selector_window.h"
#include "ui/main/window_geometry.h"
#include "ui/sampling/sampling_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSerialPortInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>

namespace quarvel {

namespace t = main_texts;

namespace {

constexpr char kSection[] = "Settings";
constexpr char kRememberedPort[] = "Settings/Port";
constexpr char kVirtualMarker[] = ":virtual";

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

QString q(const char* text)
{
    return QString::fromUtf8(text);
}

// "com2" in the port texts, but the ninth port warns as "COM9".
QString portWord(int port, bool warning)
{
    return (warning && port == 9 ? QStringLiteral("COM%1") : QStringLiteral("com%1")).arg(port);
}

double screenDpi(const QWidget* widget)
{
    const QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() : 96.0;
}

} // namespace

MainWindow::MainWindow(session::SelectorSession& session, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_presenter(this), m_chooser(dialogFileChooser())
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(q(t::kCaption));
    if (hostPlatform() != Platform::Windows) {
        // There is no c:\ here: the same names in the program's data folder.
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        m_state.recentName1 = QDir(data).filePath(QStringLiteral("coin.syn")).toStdString();
        m_state.recentName2 = QDir(data).filePath(QStringLiteral("aaa.syn")).toStdString();
    }

    m_trafficLog = new TrafficLogWindow(this);
    buildWidgets();
    buildMenus();

    m_presenter.follow(m_session.link());
    connect(&m_session, &session::SelectorSession::busyChanged, this, &MainWindow::setBusy);
    connect(&m_session, &session::SelectorSession::readFinished, this, &MainWindow::readFinished);
    connect(&m_session, &session::SelectorSession::programFinished, this, &MainWindow::programFinished);
    connect(&m_session, &session::SelectorSession::traffic, m_trafficLog, &TrafficLogWindow::append);
    connect(&m_session, &session::SelectorSession::portChanged, this, &MainWindow::updatePortMarks);
    connect(&m_session, &session::SelectorSession::portLost, this,
            [this](const QString& message) { showStatus(message, link::StatusColour::Red); });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildWidgets()
{
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    grid->addWidget(new CoinPicture(central), 0, 0, 5, 1);

    const int buttonWidth = twipsToPixels(kButtonWidth, screenDpi(this));
    const int buttonHeight = twipsToPixels(kButtonHeight, screenDpi(this));
    const auto button = [&](const char* name, const char* caption, const char* tip, int row) {
        auto* b = new QPushButton(q(caption), central);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(q(tip));
        b->setMinimumSize(buttonWidth, buttonHeight);
        grid->addWidget(b, row, 1);
        return b;
    };
    m_comTeach = button("ComTeach", t::kTeach, t::kTeachTip, 0);
    m_comEdit = button("ComEdit", t::kEdit, t::kEditTip, 1);
    m_comCal = button("ComCal", t::kCal, t::kCalTip, 2);
    m_comExit = button("ComExit", t::kExit, t::kExitTip, 3);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(0, 1);

    auto* label1 = new QLabel(q(t::kStatus), central);
    label1->setObjectName(QStringLiteral("Label1"));
    m_labelStats = new QLabel(QStringLiteral("standby"), central);
    m_labelStats->setObjectName(QStringLiteral("labelStats"));
    m_labelStats->setAccessibleName(QStringLiteral("Status"));
    m_labelStats->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_labelStats->setWordWrap(true);
    auto* status = new QHBoxLayout;
    status->addWidget(label1);
    status->addWidget(m_labelStats, 1);
    grid->addLayout(status, 5, 0, 1, 2);
    setCentralWidget(central);

    connect(m_comTeach, &QPushButton::clicked, this, &MainWindow::ComTeach_Click);
    connect(m_comEdit, &QPushButton::clicked, this, &MainWindow::ComEdit_Click);
    connect(m_comCal, &QPushButton::clicked, this, &MainWindow::ComCal_Click);
    connect(m_comExit, &QPushButton::clicked, this, &MainWindow::mnuFileExit_Click);
    setTabOrder(m_comTeach, m_comEdit);
    setTabOrder(m_comEdit, m_comCal);
    setTabOrder(m_comCal, m_comExit);
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(q(t::kFileMenu));
    file->setObjectName(QStringLiteral("mnuFile"));
    // A single & would make the blank a mnemonic and drop the & from the caption.
    m_openProgram = file->addAction(q(t::kOpenProgram).replace(QLatin1Char('&'), QStringLiteral("&&")), this,
                                    &MainWindow::mnuOpen_Program_Click);
    m_openProgram->setObjectName(QStringLiteral("mnuOpen_Program"));

    m_systemMenu = menuBar()->addMenu(q(t::kSystemMenu));
    m_systemMenu->setObjectName(QStringLiteral("mnuSystem"));
    static constexpr const char* kNames[] = {"mnuCom1", "mnuCom2", "mnuCom3", "MnuCom4", "MnuCom9"};
    for (std::size_t i = 0; i < kFixedPorts.size(); ++i) {
        const int port = kFixedPorts[i];
        QAction* action = m_systemMenu->addAction(QStringLiteral("Com%1(&%1)").arg(port));
        action->setObjectName(QLatin1String(kNames[i]));
        action->setCheckable(true);
        action->setChecked(port == 1);
        connect(action, &QAction::triggered, this, [this, port] { chooseFixedPort(port); });
        m_fixedActions.append(action);
    }
    m_systemMenu->addSeparator();
    m_otherPort = m_systemMenu->addAction(q(t::kOtherPort), this, &MainWindow::askOtherPort);
    m_otherPort->setObjectName(QStringLiteral("mnuOtherPort"));
    m_virtualPort = m_systemMenu->addAction(q(t::kVirtualSelector), this, &MainWindow::chooseVirtualSelector);
    m_virtualPort->setObjectName(QStringLiteral("mnuVirtualSelector"));
    m_virtualPort->setCheckable(true);
    m_systemMenu->addSeparator();
    m_virtualWindowAction =
        m_systemMenu->addAction(q(t::kVirtualSelectorWindow), this, &MainWindow::openVirtualSelectorWindow);
    m_virtualWindowAction->setObjectName(QStringLiteral("mnuVirtualSelectorWindow"));
    m_virtualWindowAction->setEnabled(false);
    QAction* traffic = m_systemMenu->addAction(q(t::kTrafficLog), this, [this] {
        m_trafficLog->show();
        m_trafficLog->raise();
        m_trafficLog->activateWindow();
    });
    traffic->setObjectName(QStringLiteral("mnuTrafficLog"));
    // Adapters come and go: list what is plugged in each time the menu opens.
    connect(m_systemMenu, &QMenu::aboutToShow, this, &MainWindow::refreshSystemMenu);
}

// ----- start-up and exit -----

void MainWindow::startUp(const StartPort& port)
{
    // The status line is emptied first, so that a file or port failure below stays readable.
    m_labelStats->clear();
    loadMainDefault(m_session.image());
    restoreGeometryFromSettings();
    loadStateFile();
    mnuName1_Click();
    openStartPort(port);
    updatePortMarks();
}

void MainWindow::loadStateFile()
{
    const StateFileLoad loaded = quarvel::loadStateFile(stateFilePath());
    if (!loaded.found) return;
    const StateFile windowsDefaults;
    const std::string name1 = m_state.recentName1;
    const std::string name2 = m_state.recentName2;
    m_state = loaded.state;
    // Entries the file did not give keep this platform's defaults.
    if (m_state.recentName1 == windowsDefaults.recentName1) m_state.recentName1 = name1;
    if (m_state.recentName2 == windowsDefaults.recentName2) m_state.recentName2 = name2;
}

bool MainWindow::openStartPort(const StartPort& port)
{
    QString error;
    switch (port.kind) {
    case StartPort::Kind::Virtual:
        m_fixedPort.reset();
        if (m_session.openVirtualSelector(&error)) return true;
        showStatus(q(t::kPortFailed).arg(q(t::kVirtualPortName)), link::StatusColour::Red);
        return false;
    case StartPort::Kind::Path:
        m_fixedPort.reset();
        return openPortByName(port.path);
    case StartPort::Kind::Remembered:
        break;
    }
    const QString remembered = QSettings().value(QLatin1String(kRememberedPort)).toString();
    if (remembered == QLatin1String(kVirtualMarker)) {
        m_fixedPort.reset();
        if (m_session.openVirtualSelector(&error)) return true;
    } else if (!remembered.isEmpty() &&
               (isDeviceName(remembered.toStdString(), hostPlatform()) || QFileInfo::exists(remembered))) {
        m_fixedPort.reset();
        if (m_session.openPort(remembered)) return true;
    }
    m_fixedPort = m_state.startupPort();
    return openPortByName(fixedName(*m_fixedPort));
}

QString MainWindow::fixedName(int port) const
{
    return m_fixedPortNames ? m_fixedPortNames(port)
                            : QString::fromStdString(fixedPortName(port, hostPlatform()));
}

// Opens a port; a failure is said in red and the program goes on with the port closed.
bool MainWindow::openPortByName(const QString& nameOrPath)
{
    if (m_session.openPort(nameOrPath)) return true;
    showStatus(q(t::kPortFailed).arg(nameOrPath), link::StatusColour::Red);
    return false;
}

void MainWindow::mnuFileExit_Click()
{
    const FileSaveResult saved = saveStateFile(stateFilePath(), m_state);
    if (!saved.saved) {
        // The choices of this run would be lost without a word: say so before closing.
        showStatus(saved.error, link::StatusColour::Red);
        auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), saved.error, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, this, [this] {
            m_session.closePort();
            close();
        });
        box->open();
        return;
    }
    m_session.closePort();
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A transfer still running ends here, cleanly, before its windows go.
    if (m_session.isBusy()) m_session.cancel();
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

// ----- ports -----

void MainWindow::chooseFixedPort(int port)
{
    m_fixedPort = port;
    m_state.choosePort(port);
    QSettings().remove(QLatin1String(kRememberedPort));
    m_session.closePort();
    const QString name = fixedName(port);
    if (m_session.openPort(name)) {
        showStatus(q(t::kPortInUse).arg(portWord(port, false)), link::StatusColour::Blue);
    } else if (port == 1) {
        showStatus(q(t::kPortFailed).arg(portWord(port, true)), link::StatusColour::Red);
    } else {
        fallBackToPort1(q(t::kPortFailed).arg(portWord(port, true)));
    }
    updatePortMarks();
}

void MainWindow::fallBackToPort1(const QString& failureText)
{
    m_fixedPort = 1;
    m_state.choosePort(1);
    m_session.openPort(fixedName(1));
    showStatus(failureText, link::StatusColour::Red);
}

void MainWindow::chooseOtherPort(const QString& path)
{
    m_session.closePort();
    if (m_session.openPort(path)) {
        m_fixedPort.reset();
        QSettings().setValue(QLatin1String(kRememberedPort), path);
        showStatus(q(t::kPortInUse).arg(path), link::StatusColour::Blue);
    } else {
        // Back to the port the marks name; they stay as they were.
        const QString failure = q(t::kPortFailed).arg(path);
        m_fixedPort = m_state.startupPort();
        m_session.openPort(fixedName(*m_fixedPort));
        showStatus(failure, link::StatusColour::Red);
    }
    updatePortMarks();
}

void MainWindow::chooseVirtualSelector()
{
    QString error;
    if (m_session.openVirtualSelector(&error)) {
        m_fixedPort.reset();
        QSettings().setValue(QLatin1String(kRememberedPort), QLatin1String(kVirtualMarker));
        showStatus(q(t::kPortInUse).arg(q(t::kVirtualPortName)), link::StatusColour::Blue);
    } else {
        showStatus(q(t::kPortFailed).arg(q(t::kVirtualPortName)), link::StatusColour::Red);
    }
    updatePortMarks();
}

void MainWindow::askOtherPort()
{
    auto* dialog = new QInputDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(q(t::kOtherPort));
    dialog->setLabelText(QStringLiteral("Serial port name or device path:"));
    dialog->setTextValue(m_fixedPort ? QString() : m_session.portName());
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& path) {
        if (!path.trimmed().isEmpty()) chooseOtherPort(path.trimmed());
    });
    dialog->open();
}

void MainWindow::refreshSystemMenu()
{
    for (QAction* action : m_foundActions)
        delete action;
    m_foundActions.clear();
    QStringList fixedNames;
    for (const int port : kFixedPorts)
        fixedNames.append(fixedName(port));
    const bool busy = m_session.isBusy();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        if (fixedNames.contains(path) || fixedNames.contains(info.portName())) continue;
        QString text = info.portName();
        if (!info.description().isEmpty()) text += QStringLiteral(" \u2013 ") + info.description();
        if (!info.serialNumber().isEmpty()) text += QStringLiteral(" (%1)").arg(info.serialNumber());
        auto* action = new QAction(text, m_systemMenu);
        action->setCheckable(true);
        action->setChecked(!m_fixedPort && !m_session.isVirtual() && m_session.portName() == path);
        action->setEnabled(!busy);
        connect(action, &QAction::triggered, this, [this, path] { chooseOtherPort(path); });
        m_systemMenu->insertAction(m_otherPort, action);
        m_foundActions.append(action);
    }
}

void MainWindow::updatePortMarks()
{
    for (std::size_t i = 0; i < kFixedPorts.size(); ++i)
        m_fixedActions[static_cast<qsizetype>(i)]->setChecked(m_fixedPort == kFixedPorts[i]);
    m_virtualPort->setChecked(m_session.isVirtual());
    m_virtualWindowAction->setEnabled(m_session.isVirtual());
}

void MainWindow::openVirtualSelectorWindow()
{
    if (!m_session.isVirtual()) return;
    if (!m_virtualWindow) {
        auto* window = new VirtualSelectorWindow(m_session, this);
        m_virtualWindow = window;
        registerWindow(window);
    }
    m_virtualWindow->show();
    m_virtualWindow->raise();
}

// ----- the status line -----

void MainWindow::showStatus(const QString& text, link::StatusColour colour)
{
    QPalette palette = m_labelStats->palette();
    palette.setColor(QPalette::WindowText, StatusWindow::colourOf(colour));
    m_labelStats->setPalette(palette);
    m_labelStats->setText(text);
}

QString MainWindow::statusText() const
{
    return m_labelStats->text();
}

// ----- tasks -----

void MainWindow::setBusy(bool busy)
{
    // Two interleaved transfers would corrupt each other: nothing new starts while one runs.
    for (QWidget* w : std::initializer_list<QWidget*>{m_comTeach, m_comEdit, m_comCal})
        w->setEnabled(!busy);
    m_openProgram->setEnabled(!busy);
    for (QAction* action : m_fixedActions)
        action->setEnabled(!busy);
    for (QAction* action : m_foundActions)
        action->setEnabled(!busy);
    m_otherPort->setEnabled(!busy);
    m_virtualPort->setEnabled(!busy);
}

void MainWindow::ComTeach_Click()
{
    m_session.setCdt(0);
    m_samplingState.cal = 20;
    openSettings(SettingsOpener::Teach);
}

void MainWindow::ComEdit_Click()
{
    readThen(AfterRead::Edit);
}

void MainWindow::ComCal_Click()
{
    readThen(AfterRead::Calibration);
}

void MainWindow::readThen(AfterRead next)
{
    QString refusal;
    m_afterRead = next;
    if (!m_session.readSelector(&refusal)) {
        m_afterRead = AfterRead::Nothing;
        showStatus(refusal, link::StatusColour::Red);
    }
}

void MainWindow::readFinished(const session::ReadResult& result)
{
    const AfterRead next = std::exchange(m_afterRead, AfterRead::Nothing);
    m_opened = result.succeeded();
    // The editor opens only on what was really read; the status window tells a failure.
    if (!result.succeeded()) return;
    if (next == AfterRead::Edit) {
        openSettings(SettingsOpener::Edit);
    } else if (next == AfterRead::Calibration) {
        m_samplingState.cal = 20;
        openSettings(SettingsOpener::Calibration);
    }
}

void MainWindow::openSettings(SettingsOpener opener)
{
    // A form that was closed is on its way out: the opener makes a new one, loaded afresh.
    if (!m_settings || !m_settings->isVisible()) {
        m_settings = new SettingsForm(m_session.image(), this);
        connect(m_settings, &SettingsForm::samplingRequested, this, [this] { openSampling(false); });
        connect(m_settings, &SettingsForm::programRequested, this, [this] { programToSelector(); });
        connect(m_settings, &SettingsForm::defaultLoaded, this, [this] {
            m_settings = nullptr;
            openSettings(SettingsOpener::LoadDefault);
        });
    }
    m_settings->applyOpener(opener);
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

SettingsForm* MainWindow::settingsForm() const
{
    return m_settings && m_settings->isVisible() ? m_settings.data() : nullptr;
}

bool MainWindow::programToSelector(std::function<void(const session::ProgramResult&)> then)
{
    QString refusal;
    if (!m_session.programSelector(&refusal)) {
        showStatus(refusal, link::StatusColour::Red);
        return false;
    }
    m_afterProgram = std::move(then);
    return true;
}

void MainWindow::programFinished(const session::ProgramResult& result)
{
    // The status window of a later range that succeeded closes and would hide an earlier
    // failure: the main window keeps it.
    if (!result.succeeded()) showStatus(result.failureSummary(), link::StatusColour::Red);
    if (auto then = std::exchange(m_afterProgram, nullptr)) then(result);
}

void MainWindow::openSampling(bool calibration)
{
    const bool existed = m_sampling;
    SamplingWindow::Hooks hooks{[this] { mnuSaveAs_Click(); }, [this] { programToSelector(); }};
    SamplingWindow::present(m_sampling, m_session, m_samplingState, std::move(hooks), calibration, this);
    if (!existed && m_sampling) registerWindow(m_sampling);
}

SamplingWindow* MainWindow::samplingWindow() const
{
    return m_sampling;
}

void MainWindow::registerWindow(QWidget* window)
{
    m_windows.removeAll(nullptr);
    m_windows.append(window);
}

void MainWindow::setFileChooser(FileChooser chooser)
{
    m_chooser = chooser;
    m_trafficLog->setFileChooser(std::move(chooser));
}

// ----- files -----

void MainWindow::mnuName1_Click()
{
    const QString path = QString::fromStdString(m_state.recentName1);
    // A most recent file that is gone is normal (first run, another machine's path).
    if (!QFileInfo::exists(path)) return;
    const ImageFileRead read = readImageFile(path);
    if (!read.file) {
        showStatus(read.error, link::StatusColour::Red);
        return;
    }
    storeCoinData(read.file->values, m_session.image());
}

bool MainWindow::mnuFileSave_Click()
{
    const FileSaveResult saved =
        saveCoinDataFile(QString::fromStdString(m_state.recentName1), m_session.image());
    if (!saved.saved) showStatus(saved.error, link::StatusColour::Red);
    return saved.saved;
}

void MainWindow::mnuSaveAs_Click(std::function<void(bool)> done)
{
    m_chooser(this, FileChoice::Save, q(t::kSaveTitle), q(t::kCdtFilter), [this, done](const QString& path) {
        bool saved = false;
        if (!path.isEmpty()) {
            m_state.setMostRecent(path.toStdString());
            saved = mnuFileSave_Click();
        }
        if (done) done(saved);
    });
}

void MainWindow::mnuFileOpen_Click(std::function<void(bool)> done)
{
    m_opened = false;
    m_chooser(this, FileChoice::Open, q(t::kOpenTitle), q(t::kCdtFilter), [this, done](const QString& path) {
        if (path.isEmpty()) {
            if (done) done(false);
            return;
        }
        loadCheckedFile(path, false, done);
    });
}

// A file that is not a coin data file, or for programming does not reach every selector cell,
// is neither loaded nor made the most recent: a later save would otherwise write the image
// over it.
void MainWindow::loadCheckedFile(const QString& path, bool forProgramming, std::function<void(bool)> done)
{
    const ImageFileRead read = readImageFile(path);
    QString refusal = read.error;
    if (read.file && forProgramming) refusal = tooShortToProgram(path, *read.file);
    if (!read.file || !refusal.isEmpty()) {
        showStatus(refusal, link::StatusColour::Red);
        if (done) done(false);
        return;
    }
    m_state.setMostRecent(path.toStdString());
    storeCoinData(read.file->values, m_session.image());
    m_opened = true;
    if (done) done(true);
}

void MainWindow::mnuOpen_Program_Click()
{
    m_session.setCdt(1);
    m_opened = false;
    m_chooser(this, FileChoice::Open, q(t::kOpenTitle), q(t::kCdtFilter), [this](const QString& path) {
        if (path.isEmpty()) return;
        loadCheckedFile(path, true, [this](bool opened) {
            if (!opened) return;
            programAfterConfirmation(
                [this] { programToSelector([this](const session::ProgramResult&) { openSampling(true); }); });
        });
    });
}

// Cells the selector cannot hold as written are listed before anything is sent.
void MainWindow::programAfterConfirmation(std::function<void()> program)
{
    const std::vector<UnprogrammableCell> cells = unprogrammableCells(m_session.image());
    if (cells.empty()) {
        program();
        return;
    }
    QStringList lines;
    for (const UnprogrammableCell& cell : cells)
        lines.append(QStringLiteral("cell %1 \"%2\" would be sent as %3")
                         .arg(cell.address)
                         .arg(QString::fromStdString(cell.text))
                         .arg(cell.sent));
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("These cells do not hold numbers the selector can take:"),
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("ConfirmCells"));
    box->setInformativeText(QStringLiteral("Program the selector anyway?"));
    box->setDetailedText(lines.join(QLatin1Char('\n')));
    box->setDefaultButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [program](int answer) {
        if (answer == QMessageBox::Yes) program();
    });
    box->open();
}

} // namespace quarvel
