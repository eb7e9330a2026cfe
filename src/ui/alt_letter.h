#pragma once

#include <QString>

namespace quarvel {

// A given caption with an Alt letter: the same visible text, its first `letter` underlined.
// An & of the caption itself stays a plain &.
inline QString withAltLetter(QString caption, QChar letter)
{
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    const auto at = caption.indexOf(letter);
    if (at >= 0) caption.insert(at, QLatin1Char('&'));
    return caption;
}

} // namespace quarvel
