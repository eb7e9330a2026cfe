#pragma once

#include <QList>
#include <QRect>

namespace quarvel {

constexpr int kTwipsPerInch = 1440;

int twipsToPixels(int twips, double dotsPerInch);
int pixelsToTwips(int pixels, double dotsPerInch);

// Where to put a window so that the user can reach it: unchanged when its title area lies on
// one of the screens, otherwise moved (and shrunk when needed) onto the first screen. Screens
// are their available areas; none leaves the window as it is.
QRect keepOnScreen(const QRect& window, const QList<QRect>& screens);

} // namespace quarvel
