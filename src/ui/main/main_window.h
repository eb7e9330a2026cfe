#pragma once

#include "image/settings_model.h"
#include "session/document_files.h"
#include "session/reports.h"
#include "session/selector_session.h"
#include "ui/main/file_chooser.h"
#include "ui/main/port_menu.h"
#include "ui/main/recent_files.h"
#include "ui/main/safe_programming.h"
#include "ui/main/status_presenter.h"
#include "ui/sampling/sampling_state.h"
#include "ui/settings/settings_form.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QPushButton;

namespace quarvel {

class SamplingWindow;
class TrafficLogWindow;

// The main window frmMain: the session's user flow and the other windows, over its collaborators
// for the ports (PortMenu), the files (RecentFiles) and safe programming (SafeProgramming). It
// builds no frames and parses no files; the session and the image layer do.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // How a programming or a save ended, worded for the window where the user acted.
    using Done = std::function<void(bool succeeded, const QString& text)>;

    explicit MainWindow(session::SelectorSession& session, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up, in order: main default image, geometry, state file, most recent file, port,
    // status line. Call once before show().
    void startUp(const StartPort& port = {});

    session::SelectorSession& session() { return m_session; }

    // program_to_selector: the document through the session's programming, after a backup of
    // the selector's memory when "Back up before programming" is on, and read back when "Verify
    // after programming" is. The status line says how it ended ("Programmed 184 cells; verified;
    // backup in …", or which cells were not, or which differ), and so does done.
    // A refusal (busy, no port) ends it at once. The settings form's and the sampling window's
    // Program lead here.
    void programToSelector(Done done = {});
    // Where backups go; the data folder's "backups" unless a test says otherwise.
    void setBackupFolder(const QString& folder) { m_safety.setBackupFolder(folder); }

    SamplingWindow* samplingWindow() const;
    const SamplingState& samplingState() const { return m_samplingState; }

    void setFileChooser(FileChooser chooser);
    // What a fixed entry 1..4, 9 opens; the platform's name unless a test says otherwise.
    void setFixedPortNames(std::function<QString(int)> names)
    {
        m_portMenu->setFixedPortNames(std::move(names));
    }

    // The recent names and port marks the next Exit writes.
    const StateFile& state() const { return m_files.state(); }
    SettingsForm* settingsForm() const;
    TrafficLogWindow* trafficLog() const { return m_trafficLog; }
    StatusPresenter& statusPresenter() { return m_presenter; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The status line: blue progress, red warning or failure, green success.
    void showStatus(const QString& text, session::StatusColour colour);
    QString statusText() const;
    // The status line as the window's collaborators write to it.
    StatusLine statusLine();

    void ComTeach_Click();
    void ComEdit_Click();
    void ComCal_Click();
    // Writes the state file, closes the port and the window.
    void mnuFileExit_Click();

    // ----- file procedures -----
    // Loads the most recent file into the image; a missing file is silently passed over.
    void mnuName1_Click();
    // Saves the image to the most recent file; a failure is shown in red. Returns success.
    bool mnuFileSave_Click();
    // Asks for a name ("save file"), makes it the most recent, saves. done follows a save
    // (with the file or the failure), not a cancelled dialog.
    void mnuSaveAs_Click(const Done& done = {});
    // Asks for a file ("open"), makes it the most recent, loads it. done(opened) follows.
    void mnuFileOpen_Click(const std::function<void(bool opened)>& done = {});
    // "Open & Program": a chosen coin data file, checked, programmed, then sampling.
    void mnuOpen_Program_Click();
    // "Restore Selector…": a backup chosen from the list, programmed exactly after a confirmation.
    void mnuRestore_Click();

    // ----- the other windows -----
    // The sampling window in teach mode, or in calibration mode after Open & Program.
    void openSampling(bool calibration);
    // The virtual selector's bench window; only while the port is the virtual selector.
    void openVirtualSelectorWindow();
    // A window closed with the main window, the most recently opened first.
    void registerWindow(QWidget* window);

    void buildWidgets();
    void buildMenus();
    void restoreGeometryFromSettings();
    void saveGeometryToSettings();
    void setBusy(bool busy);
    void openSettings(SettingsOpener opener);
    // A full read; then opens the form the read was for when it succeeded.
    void readThen(SettingsOpener opener);
    void startRead(SettingsOpener opener);
    // Open & Program once the user agreed: the file becomes the document and is programmed.
    void programFile(const QString& path, const session::CoinDataCheck& check);
    void askToProgram(const QString& path, const std::vector<UnprogrammableCell>& cells,
                      std::function<void()> program);
    // Programming from here, its outcome on the status line and told to done.
    void runProgramming(const session::ProgramRequest& request, Done done);
    void buildSafetyMenu(QMenu* file);
    // The document becomes what a restore put on the selector; pending edits are asked about first.
    void takeRestored(const ParameterImage& selector);
    // What would take the document's place: the question names it.
    enum class Losing
    {
        Closing,
        Read,
        File,
        Restore
    };
    // Asks Save / Discard / Cancel when closing would lose edits or a document not saved or
    // programmed; true when nothing is at stake (or the user already answered), else proceed
    // runs once the user let it close.
    bool askBeforeLosingWork(std::function<void()> proceed);
    // The same question before anything replaces the document: proceed runs at once when
    // nothing is at stake, else after Save or Discard (Discard drops the windows' edits too);
    // Cancel runs cancelled and leaves everything as it was.
    void beforeReplacing(Losing losing, std::function<void()> proceed, std::function<void()> cancelled = {});
    // The question itself; answered runs with Save or Discard after a Save that succeeded.
    void askSaveDiscardCancel(Losing losing, std::function<void(bool discarded)> answered,
                              std::function<void()> cancelled);
    // Open windows follow the document: refreshed, or told when it was replaced under edits.
    void followDocument(const session::DocumentChange& change);

    session::SelectorSession& m_session;
    SafeProgramming m_safety;
    StatusPresenter m_presenter;
    RecentFiles m_files;
    PortMenu* m_portMenu = nullptr;
    SamplingState m_samplingState;
    QPointer<SamplingWindow> m_sampling;
    QPointer<QWidget> m_virtualWindow;
    bool m_closeConfirmed = false;
    bool m_workConfirmed = false;
    QPointer<QWidget> m_focusAfterBusy; // the task button that had the focus when a run began
    QAction* m_backupAction = nullptr;
    QAction* m_verifyAction = nullptr;
    QAction* m_restoreAction = nullptr;

    QPushButton* m_comTeach = nullptr;
    QPushButton* m_comEdit = nullptr;
    QPushButton* m_comCal = nullptr;
    QPushButton* m_comExit = nullptr;
    QLabel* m_labelStats = nullptr;
    QAction* m_openProgram = nullptr;
    QAction* m_virtualWindowAction = nullptr;
    TrafficLogWindow* m_trafficLog = nullptr;
    QPointer<SettingsForm> m_settings;
    QList<QPointer<QWidget>> m_windows;
};

} // namespace quarvel
