#include "ui/sampling/sampling_window.h"

#include "image/address_map.h"
#include "link/qt/serial_link.h"
#include "sampling/sampling_output.h"
#include "sampling/teach_quality.h"
#include "ui/sampling/teach_quality_view.h"
#include "session/selector_session.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <variant>

namespace quarvel {

namespace {

// The window's own texts.
constexpr char kTeachCaption[] = "Sampling";
constexpr char kCalibrationCaption[] = "Calibration";
constexpr char kInsert[] = "Insert";
constexpr char kMoneyDesign[] = "255";
constexpr char kFrameCaption[] = "COIN";
constexpr char kStandby[] = "standby";
constexpr char kCounterFrame[] = "Insert:      xx    of       80";
constexpr char kCounterBeforeFirst[] = "Insert:      ";
constexpr char kCounterBeforeSecond[] = "Insert:      xx    of       ";
constexpr char kCancel[] = "Cancel";
constexpr char kSaveCdt[] = "Save as a CDT file";
constexpr char kProgram[] = "Program to Coin Selector";
constexpr char kExit[] = "exit";
constexpr char kTsmr[] = "TSMR";
constexpr char kTeachPrompt[] = "press  \"Insert\"  !!";
constexpr char kCalibrationPrompt[] = "Press \"Insert\" for channels:";

// One row per channel, index = channel - 1. The labels of bank B run backwards.
struct RowSpec
{
    const char* labelName;
    const char* caption;
};
constexpr std::array<RowSpec, SamplingWindow::kChannels> kRowSpecs{{
    {"Label1", "Coin 1: $ "},
    {"Label2", "Coin 2: $ "},
    {"Label3", "Coin 3: $ "},
    {"Label4", "Coin 4: $ "},
    {"Label5", "Coin 5: $ "},
    {"Label6", "Coin 6: $ "},
    {"Label12", "Coin 7: $ "},
    {"Label11", "Coin 8: $ "},
    {"Label10", "Coin 9: $ "},
    {"Label9", "Coin10: $ "},
    {"Label8", "Coin11: $ "},
    {"Label7", "Coin12: $ "},
}};

constexpr int kCalibrationCal = 16;
constexpr int kServiceButtonGap = 24;
const QColor kAmber(0xB0, 0x60, 0x00);

QColor colourOf(link::StatusColour colour)
{
    switch (colour) {
    case link::StatusColour::Blue:
        return QColor(0x00, 0x00, 0xFF);
    case link::StatusColour::Red:
        return QColor(0xFF, 0x00, 0x00);
    case link::StatusColour::Green:
        return QColor(0x00, 0xFF, 0x00);
    }
    return {};
}

void setTextColour(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    w->setPalette(p);
}

template <typename W> W* arrayMember(QWidget* parent, const char* name, int index)
{
    auto* w = new W(parent);
    w->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index));
    w->setProperty("index", index);
    return w;
}

} // namespace

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
    setWindowTitle(teachCaption());
    setAttribute(Qt::WA_DeleteOnClose);
    build();

    connect(&m_session.link(), &link::SerialLink::reported, this, &SamplingWindow::onReported);
    connect(&m_session, &session::SelectorSession::samplingProgress, this, &SamplingWindow::onProgress);
    connect(&m_session, &session::SelectorSession::samplingFinished, this, &SamplingWindow::onFinished);
    connect(&m_session, &session::SelectorSession::imageChanged, this, &SamplingWindow::refreshQuality);
    // A run ends without a text of its own when the port goes; the user looks here, not at the
    // main window.
    connect(&m_session, &session::SelectorSession::portLost, this,
            [this](const QString& message) { showStatus(message, link::StatusColour::Red); });

    load();

    // Measured once the load step has put the captions in: the normal size fits them.
    const QSize content = m_content->sizeHint();
    m_normalWidth = content.width();
    setMinimumSize(m_content->minimumSizeHint());
    resize(content);
}

SamplingWindow::~SamplingWindow()
{
    // A run must not outlive its window: the selector gets its end frame. What the cancel
    // reports has no window left to show it in.
    m_session.disconnect(this);
    m_session.link().disconnect(this);
    if (runningChannel() != 0) m_session.cancel();
}

int SamplingWindow::runningChannel() const
{
    return m_session.samplingChannel();
}

SamplingWindow* SamplingWindow::present(QPointer<SamplingWindow>& slot, session::SelectorSession& session,
                                        SamplingState& state, Hooks hooks, bool calibration, QWidget* parent)
{
    // The public values are stored first, so a window created now loads in that mode; an open
    // window keeps the mode its load step saw.
    if (calibration) {
        state.cal = kCalibrationCal;
        state.operation = -1;
    } else {
        state.operation = 0;
    }
    const bool existing = !slot.isNull();
    if (!existing) slot = new SamplingWindow(session, state, std::move(hooks), parent);
    if (calibration) slot->setWindowTitle(calibrationCaption());
    slot->show();
    if (existing) {
        slot->raise();
        slot->activateWindow();
    }
    return slot;
}

void SamplingWindow::build()
{
    m_content = new QWidget(this);
    auto* outer = new QVBoxLayout(m_content);

    for (int bank = 0; bank < 2; ++bank) {
        auto* frame = new QGroupBox(QString::fromLatin1(kFrameCaption), m_content);
        frame->setObjectName(bank == 0 ? QStringLiteral("Frame1") : QStringLiteral("Frame2"));
        auto* grid = new QGridLayout(frame);
        grid->setVerticalSpacing(2);
        for (int r = 0; r < 6; ++r) {
            const int index = bank * 6 + r;
            const QString coin = tr("Coin %1").arg(index + 1);
            Row& row = m_rows[static_cast<std::size_t>(index)];
            row.label = new QLabel(frame);
            row.label->setObjectName(
                QString::fromLatin1(kRowSpecs[static_cast<std::size_t>(index)].labelName));
            // Both banks' columns line up whatever the captions' widths.
            row.label->setMinimumWidth(
                row.label->fontMetrics().horizontalAdvance(QStringLiteral("Coin12: $ ")) + 4);
            row.money = arrayMember<QLineEdit>(frame, "money", index);
            row.money->setFixedWidth(row.money->fontMetrics().horizontalAdvance(QStringLiteral("0000.00")) +
                                     12);
            row.money->setAccessibleName(tr("%1 value").arg(coin));
            row.label->setBuddy(row.money);
            row.insert = arrayMember<QPushButton>(frame, "insert", index);
            row.insert->setAccessibleName(tr("Insert %1").arg(coin));
            row.bar = arrayMember<QProgressBar>(frame, "bar", index);
            row.bar->setRange(0, kCoinsPerRun);
            row.bar->setValue(0);
            row.bar->setTextVisible(false);
            row.bar->setFixedWidth(110);
            row.bar->setAccessibleName(tr("%1 progress").arg(coin));
            row.quality = new TeachQualityView(frame);
            row.quality->setObjectName(QStringLiteral("quality_%1").arg(index));
            row.quality->setAccessibleName(tr("%1 teach quality").arg(coin));
            row.warnings = new QLabel(frame);
            row.warnings->setObjectName(QStringLiteral("warnings_%1").arg(index));
            // Notes wrap inside the room the row has; they never widen the window.
            row.warnings->setWordWrap(true);
            row.warnings->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            row.warnings->setMinimumWidth(row.warnings->fontMetrics().horizontalAdvance(QLatin1Char('x')) *
                                          34);
            setTextColour(row.warnings, kAmber);

            connect(row.insert, &QPushButton::clicked, this, [this, index] { insertClicked(index); });

            grid->addWidget(row.label, r, 0);
            grid->addWidget(row.money, r, 1);
            grid->addWidget(row.insert, r, 2);
            grid->addWidget(row.bar, r, 3);
            grid->addWidget(row.quality, r, 4);
            grid->addWidget(row.warnings, r, 5);
        }
        grid->setColumnStretch(5, 1);
        outer->addWidget(frame);
    }

    auto* runRow = new QHBoxLayout;
    m_counter = buildCounter();
    runRow->addWidget(m_counter);
    m_interrept = new QPushButton(QString::fromLatin1(kCancel), m_content);
    m_interrept->setObjectName(QStringLiteral("interrept"));
    connect(m_interrept, &QPushButton::clicked, this, &SamplingWindow::interreptClicked);
    runRow->addWidget(m_interrept);
    runRow->addStretch();
    outer->addLayout(runRow);

    auto* statusRow = new QVBoxLayout;
    m_strch2 = new QLineEdit(m_content);
    m_strch2->setObjectName(QStringLiteral("STRCH2"));
    m_strch2->setReadOnly(true);
    m_strch2->setAccessibleName(tr("Channels"));
    m_strch2->setMaximumWidth(160);
    m_labelStats = new QLabel(QString::fromLatin1(kStandby), m_content);
    m_labelStats->setObjectName(QStringLiteral("labelStats"));
    m_labelStats->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusRow->addWidget(m_labelStats);
    statusRow->addWidget(m_strch2);
    outer->addLayout(statusRow);

    auto* buttons = new QHBoxLayout;
    const auto button = [&](const char* name, const char* caption, void (SamplingWindow::*slot)()) {
        auto* b = new QPushButton(QString::fromLatin1(caption), m_content);
        b->setObjectName(QString::fromLatin1(name));
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
        return b;
    };
    button("Command1", kSaveCdt, &SamplingWindow::saveClicked);
    button("Command2", kProgram, &SamplingWindow::programClicked);
    buttons->addStretch();
    button("Command3", kExit, &SamplingWindow::exitClicked);
    outer->addLayout(buttons);

    // The small service button sits to the right of everything, past the window's normal
    // width: it comes into view only when the window is widened or maximised.
    m_command4 = new QPushButton(QString::fromLatin1(kTsmr), this);
    m_command4->setObjectName(QStringLiteral("Command4"));
    m_command4->setAccessibleName(tr("Send TSMR"));
    m_command4->setFixedSize(m_command4->sizeHint().width(), m_command4->sizeHint().height() - 4);
    connect(m_command4, &QPushButton::clicked, this, &SamplingWindow::tsmrClicked);
}

QWidget* SamplingWindow::buildCounter()
{
    // The counter boxes sit over the two numbers of the label's text.
    auto* counter = new QWidget(m_content);
    m_label13 = new QLabel(QString::fromLatin1(kCounterFrame), counter);
    m_label13->setObjectName(QStringLiteral("Label13"));
    m_text1 = new QLineEdit(QStringLiteral("22"), counter);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text2 = new QLineEdit(QStringLiteral("80"), counter);
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_text1->setAccessibleName(tr("Coins accepted"));
    m_text2->setAccessibleName(tr("Coins per run"));

    const QFontMetrics fm(m_label13->font());
    const int boxWidth = fm.horizontalAdvance(QStringLiteral("000")) + 10;
    const int boxHeight = fm.height() + 6;
    const int labelTop = (boxHeight - fm.height()) / 2;
    m_label13->move(0, labelTop);
    m_label13->resize(fm.horizontalAdvance(QString::fromLatin1(kCounterFrame)) + boxWidth, fm.height());
    for (auto [box, before] :
         {std::pair{m_text1, kCounterBeforeFirst}, std::pair{m_text2, kCounterBeforeSecond}}) {
        box->setReadOnly(true);
        box->setAlignment(Qt::AlignCenter);
        box->setGeometry(fm.horizontalAdvance(QString::fromLatin1(before)) - 5, 0, boxWidth, boxHeight);
        box->setFocusPolicy(Qt::NoFocus);
    }
    counter->setFixedSize(m_label13->width(), boxHeight);
    return counter;
}

void SamplingWindow::load()
{
    setRunVisible(false);

    const std::array<std::string, kChannels> money = sampling::moneyTexts(m_session.image());
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        m_rows[i].money->setText(QString::fromStdString(money[i]));
        m_rows[i].label->setText(QString::fromLatin1(kRowSpecs[i].caption));
    }

    if (m_state.operation == 0) {
        m_strch2->hide();
        showStatus(QString::fromLatin1(kTeachPrompt), std::nullopt);
    } else {
        // Nothing fills the main window's channel string, so the box stays empty.
        m_strch2->show();
        m_strch2->clear();
        setTextColour(m_strch2, colourOf(link::StatusColour::Blue));
        showStatus(QString::fromLatin1(kCalibrationPrompt), link::StatusColour::Red);
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

void SamplingWindow::showStatus(const QString& text, std::optional<link::StatusColour> colour)
{
    m_labelStats->setText(text);
    if (colour)
        setTextColour(m_labelStats, colourOf(*colour));
    else
        m_labelStats->setPalette(QPalette());
}

bool SamplingWindow::refuseWhileRunning()
{
    // Two transfers would share the line and corrupt each other.
    if (!m_session.isBusy()) return false;
    showStatus(link::SerialLink::busyText(), link::StatusColour::Red);
    return true;
}

void SamplingWindow::insertClicked(int index)
{
    if (refuseWhileRunning()) return;
    Row& row = m_rows[static_cast<std::size_t>(index)];
    m_state.cal = kCoinsPerRun;
    // Shown before the start: a port that is gone ends the run inside it.
    setRunVisible(true);
    row.bar->setRange(0, kCoinsPerRun);
    row.bar->setValue(0);
    m_text1->setText(QStringLiteral("0"));
    m_text2->setText(QString::number(kCoinsPerRun));

    QString refusal;
    if (!m_session.startSampling(index + 1, &refusal)) {
        setRunVisible(false);
        showStatus(refusal, link::StatusColour::Red);
    }
}

void SamplingWindow::interreptClicked()
{
    m_interrept->hide();
    if (runningChannel() != 0) m_session.cancel();
}

void SamplingWindow::onReported(const link::Report& report)
{
    if (runningChannel() == 0) return; // another window's transfer
    if (const auto* show = std::get_if<link::ShowText>(&report))
        showStatus(QString::fromStdString(show->text), show->colour);
    else if (const auto* colour = std::get_if<link::SetColour>(&report))
        setTextColour(m_labelStats, colourOf(colour->colour));
}

void SamplingWindow::onProgress(int channel, int coins)
{
    if (channel < 1 || channel > kChannels) return; // no sampling run: no row to move
    m_text1->setText(QString::number(coins));
    m_rows[static_cast<std::size_t>(channel - 1)].bar->setValue(coins);
}

void SamplingWindow::onFinished(const session::SamplingResult& result)
{
    setRunVisible(false);
    if (!result.succeeded() || !result.reference) return; // the run's own text stays shown
    Row& row = m_rows[static_cast<std::size_t>(result.channel - 1)];
    row.samples = result.samples;
    row.reference = result.reference;
    showStatus(result.successText, link::StatusColour::Green);
    refreshQuality();
}

void SamplingWindow::refreshQuality()
{
    // Closeness depends on every channel's references, so a new teach can warn on an old one.
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        Row& row = m_rows[i];
        if (!row.reference) continue;
        const sampling::TeachQuality q =
            sampling::assessTeach(static_cast<int>(i) + 1, row.samples, *row.reference, m_session.image());
        QStringList lines;
        for (const std::string& text : q.warningTexts())
            lines << QString::fromStdString(text);
        row.warnings->setText(lines.join(QStringLiteral("; ")));
        row.quality->setQuality(q);
    }
}

void SamplingWindow::saveClicked()
{
    if (m_hooks.saveAs) m_hooks.saveAs();
}

void SamplingWindow::programClicked()
{
    if (refuseWhileRunning()) return;
    if (m_hooks.program) {
        m_hooks.program();
        return;
    }
    QString refusal;
    if (!m_session.programSelector(&refusal)) showStatus(refusal, link::StatusColour::Red);
}

void SamplingWindow::tsmrClicked()
{
    QString refusal;
    if (!m_session.sendTsmr(&refusal)) showStatus(refusal, link::StatusColour::Red);
}

void SamplingWindow::exitClicked()
{
    std::array<std::string, kChannels> money;
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        money[i] = m_rows[i].money->text().toStdString();
    const sampling::CoinValueTakeBack back = sampling::takeBackCoinValues(m_session.image(), money);
    if (back.outcome == sampling::CoinValueTakeBack::Outcome::Refused) {
        showStatus(QString::fromStdString(back.message), link::StatusColour::Red);
        m_rows[static_cast<std::size_t>(back.channel - 1)].money->setFocus();
        return;
    }
    close();
}

void SamplingWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeServiceButton();
}

void SamplingWindow::placeServiceButton()
{
    const int contentWidth = std::min(width(), m_normalWidth);
    m_content->setGeometry(0, 0, contentWidth, height());
    m_content->layout()->activate();
    // Vertically level with the second bank, as far right as the window allows.
    const int x = m_normalWidth + kServiceButtonGap;
    const int y = m_rows[6].label->mapTo(this, QPoint(0, 0)).y();
    m_command4->move(x, y);
    // Out of view it leaves the tab order too.
    m_command4->setVisible(x + m_command4->width() <= width());
}

} // namespace quarvel
