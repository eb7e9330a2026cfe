#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QWidget>

namespace quarvel {

// A scroll area that asks for its whole content when there is room, and scrolls only when the
// screen is too small for it (1024 x 768, or a large scale factor).
class FittingScrollArea : public QScrollArea
{
public:
    explicit FittingScrollArea(QWidget* content, QWidget* parent = nullptr) : QScrollArea(parent)
    {
        setWidget(content);
        setWidgetResizable(true);
        setFrameShape(QFrame::NoFrame);
    }

    QSize sizeHint() const override
    {
        // Room for the scroll bars as well: a hint that fits exactly can still bring them up,
        // as each one that shows takes space from the other direction.
        const int extra = 2 * frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        return widget()->sizeHint().expandedTo(widget()->minimumSizeHint()) + QSize(extra, extra);
    }
};

// The room a window has on its screen.
inline QSize availableSize(const QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().size() : QSize(1024, 768);
}

} // namespace quarvel
