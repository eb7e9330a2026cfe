// The main window's openers: Teach, Edit and Channel Calibration open the settings form (the
// last two after a read), OK and Open & Program the sampling window. An opener that finds one
// of them open loads it afresh from the document.
#include "ui/main/main_window.h"

#include "ui/sampling/sampling_window.h"
#include "ui/settings/ask.h"
#include "ui/sim/virtual_selector_window.h"

namespace quarvel {

void MainWindow::ComTeach_Click()
{
    m_session.document().setCdt(sampling::ReferenceStore::Taught);
    openSettings(SettingsOpener::Teach);
}

void MainWindow::ComEdit_Click()
{
    readThen(SettingsOpener::Edit);
}

void MainWindow::ComCal_Click()
{
    readThen(SettingsOpener::Calibration);
}

void MainWindow::readThen(SettingsOpener opener)
{
    // The read replaces the document: work in it is asked about before the first frame.
    beforeReplacing(Losing::Read, [this, opener] { startRead(opener); });
}

void MainWindow::startRead(SettingsOpener opener)
{
    const auto started = m_session.readSelector();
    if (!started) {
        showStatus(started.refusalText(), session::StatusColour::Red);
        return;
    }
    connect(started.operation, &session::ReadOperation::finished, this,
            [this, opener](const session::ReadResult& result) {
                // The editor opens only on what was really read.
                if (!result.succeeded()) {
                    showStatus(result.message, session::StatusColour::Red);
                    return;
                }
                showStatus(QStringLiteral("Read %1 cells").arg(ParameterImage::kSelectorCells),
                           session::StatusColour::Green);
                openSettings(opener);
            });
}

void MainWindow::openSettings(SettingsOpener opener)
{
    // An open form shows the document as it was when it loaded; the opener may have changed it
    // (a read) and Program would send the old values. Edits not taken back go only if the user
    // says so; kept, the form stays as it is.
    if (m_settings && m_settings->isVisible()) {
        if (m_settings->hasEdits()) {
            m_settings->raise();
            m_settings->activateWindow();
            ask(m_settings, "ConfirmReload",
                QStringLiteral("The settings form holds changes that were not taken back. Discard them and "
                               "load the settings again?"),
                QStringLiteral("&Discard"), QStringLiteral("&Keep editing"), [this, opener] {
                    if (m_settings) m_settings->reload();
                    openSettings(opener);
                });
            return;
        }
        m_settings->reload();
    }
    if (m_sampling) m_sampling->reload();
    // A form that was closed is on its way out: the opener makes a new one, loaded afresh.
    if (!m_settings || !m_settings->isVisible()) {
        m_settings = new SettingsForm(m_session.document(), this);
        m_session.document().holdPendingWork(
            m_settings, [form = m_settings.data()] { return form->isVisible() && form->hasEdits(); });
        m_settings->setDeviceBusy(m_session.device().isBusy());
        connect(m_settings, &SettingsForm::samplingRequested, this, [this] { openSampling(false); });
        connect(m_settings, &SettingsForm::programRequested, this, [this] {
            QPointer<SettingsForm> form = m_settings;
            programToSelector([form](bool programmed, const QString& text) {
                if (form) form->showOutcome(programmed, text);
            });
        });
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

void MainWindow::followDocument(const session::DocumentChange& change)
{
    // The form follows what others did to the document; what it wrote itself it already shows.
    SettingsForm* form = settingsForm();
    if (!form || change.source == session::ChangeSource::Edit) return;
    if (!form->hasEdits())
        form->reload();
    else if (change.source != session::ChangeSource::Stamp)
        form->documentReplaced();
}

SettingsForm* MainWindow::settingsForm() const
{
    return m_settings && m_settings->isVisible() ? m_settings.data() : nullptr;
}

void MainWindow::openSampling(bool calibration)
{
    const bool existed = m_sampling;
    SamplingWindow::Hooks hooks{[this](const SamplingWindow::Done& done) { mnuSaveAs_Click(done); },
                                [this](SamplingWindow::Done done) { programToSelector(std::move(done)); }};
    SamplingWindow::present(m_sampling, m_session, m_samplingState, std::move(hooks), calibration, this);
    if (!existed && m_sampling) {
        registerWindow(m_sampling);
        m_session.document().holdPendingWork(
            m_sampling, [window = m_sampling.data()] { return window->hasTypedValues(); });
    }
}

SamplingWindow* MainWindow::samplingWindow() const
{
    return m_sampling;
}

void MainWindow::openVirtualSelectorWindow()
{
    if (!m_session.bench().isOpen()) return;
    if (!m_virtualWindow) {
        auto* window = new VirtualSelectorWindow(m_session, this);
        m_virtualWindow = window;
        registerWindow(window);
    }
    m_virtualWindow->show();
    m_virtualWindow->raise();
}

} // namespace quarvel
