#include "ui/main/window_geometry.h"

#include <algorithm>
#include <cmath>

namespace quarvel {

namespace {
// Enough of the top edge to grab the window by its title bar.
constexpr int kGrabWidth = 100;
constexpr int kGrabHeight = 20;
} // namespace

int twipsToPixels(int twips, double dotsPerInch)
{
    return static_cast<int>(std::lround(twips * dotsPerInch / kTwipsPerInch));
}

int pixelsToTwips(int pixels, double dotsPerInch)
{
    return dotsPerInch > 0 ? static_cast<int>(std::lround(pixels * kTwipsPerInch / dotsPerInch)) : 0;
}

QRect keepOnScreen(const QRect& window, const QList<QRect>& screens)
{
    if (screens.isEmpty()) return window;
    const QRect grab(window.left(), window.top(), std::min(kGrabWidth, window.width()), kGrabHeight);
    for (const QRect& screen : screens) {
        const QRect shared = screen.intersected(grab);
        if (shared.width() * 2 >= grab.width() && shared.height() * 2 >= grab.height()) return window;
    }
    const QRect& target = screens.first();
    QRect moved(QPoint(0, 0), window.size().boundedTo(target.size()));
    moved.moveCenter(target.center());
    return moved;
}

} // namespace quarvel
