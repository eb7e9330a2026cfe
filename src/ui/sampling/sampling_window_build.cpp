// The sampling window's widgets: two banks of six channel rows, the run's counter and Cancel,
// the status line and the command buttons.
#include "ui/sampling/sampling_window.h"

#include "ui/sampling/sampling_window_texts.h"
#include "ui/sampling/teach_quality_view.h"
#include "ui/settings/fitting_scroll_area.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QVBoxLayout>

namespace quarvel {

using namespace sampling_window;

void SamplingWindow::build()
{
    m_content = new QWidget(this);
    auto* outer = new QVBoxLayout(m_content);
    // The channel rows scroll on a small screen; the run's controls, the status line and the
    // buttons stay in view.
    auto* banks = new QWidget(m_content);
    auto* banksLayout = new QVBoxLayout(banks);
    banksLayout->setContentsMargins(0, 0, 0, 0);

    for (int bank = 0; bank < 2; ++bank) {
        auto* frame = new QGroupBox(QString::fromLatin1(kFrameCaption), banks);
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
            row.insert->setAutoDefault(true);
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
                                          20);
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
        banksLayout->addWidget(frame);
    }
    outer->addWidget(new FittingScrollArea(banks, m_content), 1);

    auto* runRow = new QHBoxLayout;
    m_counter = buildCounter();
    runRow->addWidget(m_counter);
    m_interrept = new QPushButton(QString::fromLatin1(kCancel), m_content);
    m_interrept->setObjectName(QStringLiteral("interrept"));
    m_interrept->setAutoDefault(true);
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
        b->setAutoDefault(true); // Enter presses the button that has the focus
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
        return b;
    };
    button("Command1", kSaveCdt, &SamplingWindow::saveClicked);
    m_deviceButtons << button("Command2", kProgram, &SamplingWindow::programClicked);
    buttons->addStretch();
    button("Command3", kExit, &SamplingWindow::exitClicked);
    outer->addLayout(buttons);

    // The small service button sits to the right of everything, past the window's normal
    // width: it comes into view only when the window is widened or maximised.
    m_command4 = new QPushButton(QString::fromLatin1(kTsmr), this);
    m_command4->setObjectName(QStringLiteral("Command4"));
    m_deviceButtons << m_command4;
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

void SamplingWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_sized) return;
    m_sized = true;
    // The scroll area does not tell the layout that its rows grew while they were polished.
    m_content->findChild<QScrollArea*>()->updateGeometry();
    m_content->layout()->invalidate();
    const QSize content = m_content->sizeHint();
    m_normalWidth = content.width();
    resize(content.boundedTo(availableSize(this)));
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
