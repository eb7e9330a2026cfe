#include "ui/sampling/sampling_window.h"

#include "image/address_map.h"
#include "sampling/sampling_output.h"
#include "sampling/teach_quality.h"
#include "session/selector_session.h"
#include "ui/accessible_roles.h"
#include "ui/sampling/sampling_window_texts.h"
#include "ui/sampling/teach_quality_view.h"
#include "ui/settings/ask.h"
#include "ui/settings/fitting_scroll_area.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <variant>

namespace quarvel {

using namespace sampling_window;

QString SamplingWindow::teachCaption()
{
    return QString::fromLatin1(kTeachCaption);
}

QString SamplingWindow::calibrationCaption()
{
    return QString::fromLatin1(kCalibrationCaption);
}

SamplingWindow::SamplingWindow(session::SelectorSession& session, SamplingState& state, Hooks hooks,
                               QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session), m_state(state), m_hooks(std::move(hooks))
{
    setObjectName(QStringLiteral("sampling"));
    exposeAsWindow(this);
    setWindowTitle(teachCaption());
    setAttribute(Qt::WA_DeleteOnClose);
    build();

    connect(&m_session.document(), &session::Document::changed, this, &SamplingWindow::followDocument);
    connect(&m_session.device(), &session::Device::busyChanged, this, &SamplingWindow::setDeviceBusy);
    // A run ends without a text of its own when the port goes; the user looks here, not at the
    // main window.
    connect(&m_session.device(), &session::Device::portLost, this,
            [this](const QString& message) { showStatus(message, session::StatusColour::Red); });

    load();
    setDeviceBusy(m_session.device().isBusy());

    // Measured once the load step has put the captions in: the normal size fits them.
    const QSize content = m_content->sizeHint();
    m_normalWidth = content.width();
    setMinimumSize(m_content->minimumSizeHint());
    resize(content.boundedTo(availableSize(this)));
}

SamplingWindow::~SamplingWindow()
{
    // A run must not outlive its window: the selector gets its end frame. What the cancel
    // reports has no window left to show it in.
    m_session.disconnect(this);
    if (m_run) {
        m_run->disconnect(this);
        m_run->cancel();
    }
}

SamplingWindow* SamplingWindow::present(QPointer<SamplingWindow>& slot, session::SelectorSession& session,
                                        SamplingState& state, Hooks hooks, bool calibration, QWidget* parent)
{
    // The public values are stored first, so a window created now loads in that mode. An open
    // window loads again: its money boxes and mode must not outlive the document they came from
    // (a stale box would be written back by exit).
    const bool existing = !slot.isNull();
    if (existing && slot->isSampling()) {
        slot->raise();
        return slot;
    }
    state.operation = calibration ? SamplingState::Mode::Calibration : SamplingState::Mode::Teach;
    if (!existing)
        slot = new SamplingWindow(session, state, std::move(hooks), parent);
    else
        slot->reload();
    slot->setWindowTitle(calibration ? calibrationCaption() : teachCaption());
    slot->show();
    if (existing) {
        slot->raise();
        slot->activateWindow();
    }
    return slot;
}

void SamplingWindow::reload()
{
    if (isSampling()) return;
    // Coin values typed but not yet taken back with exit go only if the user says so.
    const bool typed = std::any_of(m_rows.begin(), m_rows.end(),
                                   [](const Row& row) { return row.money->text() != row.loadedMoney; });
    if (!typed) {
        load();
        return;
    }
    raise();
    ask(this, "ConfirmReload",
        QStringLiteral("The coin values typed here were not taken back with exit. Discard them and load "
                       "the coin values again?"),
        QStringLiteral("&Discard"), QStringLiteral("&Keep editing"), [this] {
            if (!isSampling()) load();
        });
}

void SamplingWindow::showOutcome(bool succeeded, const QString& text)
{
    showStatus(text, succeeded ? session::StatusColour::Green : session::StatusColour::Red);
}

void SamplingWindow::load()
{
    setRunVisible(false);
    m_stale = false;

    const std::array<std::string, kChannels> money = sampling::moneyTexts(m_session.document().image());
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        m_rows[i].loadedMoney = QString::fromStdString(money[i]);
        m_rows[i].money->setText(m_rows[i].loadedMoney);
        m_rows[i].label->setText(QString::fromLatin1(kRowSpecs[i].caption));
    }

    if (m_state.operation == SamplingState::Mode::Teach) {
        m_strch2->hide();
        showStatus(QString::fromLatin1(kTeachPrompt), std::nullopt);
    } else {
        // Nothing fills the main window's channel string, so the box stays empty.
        m_strch2->show();
        m_strch2->clear();
        setTextColour(m_strch2, statusColour(session::StatusColour::Blue));
        showStatus(QString::fromLatin1(kCalibrationPrompt), session::StatusColour::Red);
    }
    for (Row& row : m_rows)
        row.insert->setText(QString::fromLatin1(kInsert));
}

void SamplingWindow::setRunVisible(bool visible)
{
    // The counter's label and boxes go with it.
    m_counter->setVisible(visible);
    m_interrept->setVisible(visible);
}

void SamplingWindow::showStatus(const QString& text, std::optional<session::StatusColour> colour)
{
    m_labelStats->setText(text);
    if (colour)
        setTextColour(m_labelStats, statusColour(*colour));
    else
        m_labelStats->setPalette(QPalette());
}

bool SamplingWindow::refuseWhileRunning()
{
    // Two transfers would share the line and corrupt each other.
    if (!m_session.device().isBusy()) return false;
    showStatus(session::refusalText({session::Refusal::Kind::Busy, 0, {}}), session::StatusColour::Red);
    return true;
}

void SamplingWindow::insertClicked(int index)
{
    if (refuseWhileRunning()) return;
    Row& row = m_rows[static_cast<std::size_t>(index)];
    // Shown before the start: a port that is gone ends the run inside it.
    setRunVisible(true);
    row.bar->setRange(0, kCoinsPerRun);
    row.bar->setValue(0);
    m_text1->setText(QStringLiteral("0"));
    m_text2->setText(QString::number(kCoinsPerRun));

    const auto started = m_session.startSampling(index + 1);
    if (!started) {
        setRunVisible(false);
        showStatus(started.refusalText(), session::StatusColour::Red);
        return;
    }
    m_run = started.operation;
    connect(m_run, &session::Operation::reported, this, &SamplingWindow::onReported);
    connect(m_run, &session::SamplingOperation::finished, this, &SamplingWindow::onFinished);
}

void SamplingWindow::interreptClicked()
{
    m_interrept->hide();
    if (m_run) m_run->cancel();
}

void SamplingWindow::onReported(const session::Report& report)
{
    if (const auto* show = std::get_if<session::ShowText>(&report)) {
        showStatus(QString::fromStdString(show->text), show->colour);
    } else if (const auto* colour = std::get_if<session::SetColour>(&report)) {
        setTextColour(m_labelStats, statusColour(colour->colour));
    } else if (const auto* progress = std::get_if<session::SetProgress>(&report); progress && m_run) {
        // Coins accepted so far, in the row of the channel this run teaches.
        m_text1->setText(QString::number(progress->value));
        m_rows[static_cast<std::size_t>(m_run->channel() - 1)].bar->setValue(progress->value);
    }
}

void SamplingWindow::onFinished(const session::SamplingResult& result)
{
    setRunVisible(false);
    if (!result.succeeded() || !result.reference) return; // the run's own text stays shown
    Row& row = m_rows[static_cast<std::size_t>(result.channel - 1)];
    row.samples = result.samples;
    row.reference = result.reference;
    showStatus(result.successText, session::StatusColour::Green);
    refreshQuality();
}

void SamplingWindow::refreshQuality()
{
    // Closeness depends on every channel's references, so a new teach can warn on an old one.
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        Row& row = m_rows[i];
        if (!row.reference) continue;
        const sampling::TeachQuality q = sampling::assessTeach(static_cast<int>(i) + 1, row.samples,
                                                               *row.reference, m_session.document().image());
        QStringList lines;
        for (const std::string& text : q.warningTexts())
            lines << QString::fromStdString(text);
        row.warnings->setText(lines.join(QStringLiteral("; ")));
        row.quality->setQuality(q);
    }
}

void SamplingWindow::saveClicked()
{
    QPointer<SamplingWindow> self(this);
    if (m_hooks.saveAs)
        m_hooks.saveAs([self](bool saved, const QString& text) {
            if (self) self->showOutcome(saved, text);
        });
}

void SamplingWindow::programClicked()
{
    // Programming goes through the opener's flow, with its backup; there is no other way.
    if (refuseWhileRunning() || !m_hooks.program) return;
    QPointer<SamplingWindow> self(this);
    const auto program = [self, this] {
        m_hooks.program([self](bool programmed, const QString& text) {
            if (self) self->showOutcome(programmed, text);
        });
    };
    if (!m_stale) {
        program();
        return;
    }
    ask(this, "ConfirmOverwrite",
        QStringLiteral(
            "The selector's settings were replaced after this window was loaded. Program over them?"),
        QStringLiteral("&Program"), QStringLiteral("&Cancel"), program);
}

void SamplingWindow::followDocument(const session::DocumentChange& change)
{
    refreshQuality();
    // A run's own references, and what exit took back, are this window's doing.
    if (isSampling() || change.source == session::ChangeSource::Sampling ||
        change.source == session::ChangeSource::Edit || change.source == session::ChangeSource::Stamp)
        return;
    if (!hasTypedValues()) {
        load();
        return;
    }
    m_stale = true;
    showStatus(QStringLiteral("While coin values were typed here, the selector's settings were replaced."),
               session::StatusColour::Red);
}

void SamplingWindow::setDeviceBusy(bool busy)
{
    // A second start would hide the first: nothing that talks to the selector starts meanwhile.
    for (Row& row : m_rows)
        row.insert->setEnabled(!busy);
    for (QPushButton* button : m_deviceButtons)
        button->setEnabled(!busy);
}

void SamplingWindow::tsmrClicked()
{
    if (const auto refusal = m_session.device().sendTsmr())
        showStatus(session::refusalText(*refusal), session::StatusColour::Red);
}

bool SamplingWindow::hasTypedValues() const
{
    return std::any_of(m_rows.begin(), m_rows.end(),
                       [](const Row& row) { return row.money->text() != row.loadedMoney; });
}

void SamplingWindow::exitClicked()
{
    if (takeBackValues()) close();
}

bool SamplingWindow::takeBackValues()
{
    std::array<std::string, kChannels> money;
    std::array<bool, kChannels> taken{};
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        money[i] = m_rows[i].money->text().toStdString();
        // A box left as loaded goes back as nothing: its text is the coin value rounded for
        // show, and writing it would change a value the user never touched.
        taken[i] = m_rows[i].money->text() != m_rows[i].loadedMoney;
    }
    sampling::CoinValueTakeBack back;
    m_session.document().edit(session::ChangeSource::Edit, [&](ParameterImage& image) {
        back = sampling::takeBackCoinValues(image, money, taken);
    });
    if (back.outcome == sampling::CoinValueTakeBack::Outcome::Refused) {
        showStatus(QString::fromStdString(back.message), session::StatusColour::Red);
        m_rows[static_cast<std::size_t>(back.channel - 1)].money->setFocus();
        return false;
    }
    return true;
}

} // namespace quarvel
