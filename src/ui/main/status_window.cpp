#include "ui/main/status_window.h"

#include "ui/accessible_roles.h"
#include "ui/status_colour.h"

#include "ui/main/window_geometry.h"

#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace quarvel {

namespace {

constexpr char kCaption[] = "status";
constexpr char kStandby[] = "standby";
constexpr char kClose[] = "close";
constexpr char kLabelFont[] = "Arial";

constexpr double kFallbackDotsPerInch = 96.0;

// Geometry in twips (1/1440 inch): left, top, width, height.
struct TwipRect
{
    int left, top, width, height;
};
constexpr int kClientWidth = 4680;
constexpr int kClientHeight = 3195;
constexpr int kOffsetFromScreen = 100;
constexpr TwipRect kBar{360, 900, 3975, 315};
constexpr TwipRect kLabelStats{60, 1620, 4455, 315};
constexpr TwipRect kComExit{1380, 2460, 1635, 495};
constexpr int kInitialMaximum = 100;

// A flat bar, drawn with two fills and a frame. The style's own bar (rounded, shaded, striped)
// cost more CPU per repaint than a whole exchange with the selector, and a read repaints it
// a hundred times.
class FlatProgressBar : public QProgressBar
{
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QRect frame = rect().adjusted(0, 0, -1, -1);
        p.fillRect(rect(), palette().color(QPalette::Base));
        const int span = maximum() - minimum();
        if (span > 0 && value() > minimum()) {
            const int width =
                static_cast<int>(static_cast<long long>(frame.width() - 1) * (value() - minimum()) / span);
            p.fillRect(QRect(frame.left() + 1, frame.top() + 1, width, frame.height() - 1),
                       palette().color(QPalette::Highlight));
        }
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(frame);
    }
};

} // namespace

StatusWindow::StatusWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool), m_bar(new FlatProgressBar(this)), m_labelStats(new QLabel(this)),
      m_comExit(new QPushButton(this)), m_comCancel(new QPushButton(QStringLiteral("&Cancel"), this))
{
    setObjectName(QStringLiteral("ff"));
    exposeAsWindow(this, QAccessible::Dialog);
    setWindowTitle(QString::fromLatin1(kCaption));
    setAttribute(Qt::WA_DeleteOnClose);

    m_bar->setObjectName(QStringLiteral("bar"));
    m_bar->setAccessibleName(QStringLiteral("Progress"));
    m_bar->setRange(0, kInitialMaximum);
    m_bar->setValue(0);

    m_labelStats->setObjectName(QStringLiteral("labelStats"));
    m_labelStats->setText(QString::fromLatin1(kStandby));
    m_labelStats->setWordWrap(false);
    QFont font = m_labelStats->font();
    font.setFamily(QString::fromLatin1(kLabelFont));
    m_labelStats->setFont(font);

    m_comExit->setObjectName(QStringLiteral("ComExit"));
    connect(m_comExit, &QPushButton::clicked, this, &QWidget::close);
    m_comCancel->setObjectName(QStringLiteral("ComCancel"));
    m_comCancel->hide();
    connect(m_comCancel, &QPushButton::clicked, this, &StatusWindow::cancelRequested);
    for (QPushButton* b : {m_comExit, m_comCancel})
        b->setAutoDefault(true); // Enter presses the button that has the focus

    const auto place = [this](QWidget* w, const TwipRect& r) {
        w->setGeometry(px(r.left), px(r.top), px(r.width), px(r.height));
    };
    setFixedSize(px(kClientWidth), px(kClientHeight));
    place(m_bar, kBar);
    place(m_labelStats, kLabelStats);
    place(m_comExit, kComExit);
    // Cancel takes the close button's place while the run can still be stopped.
    place(m_comCancel, kComExit);

    load();
}

void StatusWindow::setStatusText(const QString& text, session::StatusColour colour)
{
    m_labelStats->setText(text);
    setStatusColour(colour);
}

void StatusWindow::setStatusColour(session::StatusColour colour)
{
    QPalette palette = m_labelStats->palette();
    palette.setColor(QPalette::WindowText, statusColour(colour));
    m_labelStats->setPalette(palette);
}

void StatusWindow::setProgress(int value, std::optional<int> maximum)
{
    if (maximum) m_bar->setMaximum(std::max(*maximum, m_bar->minimum()));
    // QProgressBar silently ignores a value outside its range; show the nearest end instead.
    m_bar->setValue(std::clamp(value, m_bar->minimum(), m_bar->maximum()));
}

void StatusWindow::enableClose()
{
    m_comExit->setEnabled(true);
}

void StatusWindow::setCancelVisible(bool visible)
{
    const bool hadFocus = isAncestorOf(focusWidget());
    m_comCancel->setVisible(visible);
    m_comExit->setVisible(!visible);
    if (hadFocus || !focusWidget()) (visible ? m_comCancel : m_comExit)->setFocus();
}

void StatusWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The keyboard follows the run: Escape and Enter reach this window's buttons.
    activateWindow();
    (m_comCancel->isVisible() ? m_comCancel : m_comExit)->setFocus();
}

void StatusWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && m_comCancel->isVisible()) {
        m_comCancel->click();
        return;
    }
    if (event->key() == Qt::Key_Escape && m_comExit->isEnabled()) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void StatusWindow::load()
{
    if (QScreen* screen = currentScreen())
        move(screen->availableGeometry().topLeft() + QPoint(px(kOffsetFromScreen), px(kOffsetFromScreen)));
    m_comExit->setText(QString::fromLatin1(kClose));
    m_comExit->setEnabled(false);
}

QScreen* StatusWindow::currentScreen() const
{
    QScreen* s = screen();
    return s ? s : QGuiApplication::primaryScreen();
}

int StatusWindow::px(int twips) const
{
    const QScreen* s = currentScreen();
    return twipsToPixels(twips, s ? s->logicalDotsPerInch() : kFallbackDotsPerInch);
}

} // namespace quarvel
