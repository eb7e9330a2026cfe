#pragma once

#include "session/reports.h"

#include <QColor>

namespace quarvel {

// The colours every status line uses: blue progress, red warning or failure, green success.
// The green is a dark one: pure green on a light window reads at about 1.2:1, this one at 6.5:1.
inline QColor statusColour(session::StatusColour colour)
{
    switch (colour) {
    case session::StatusColour::Blue:
        return QColor(0x00, 0x00, 0xFF);
    case session::StatusColour::Red:
        return QColor(0xFF, 0x00, 0x00);
    case session::StatusColour::Green:
        return QColor(0x00, 0x64, 0x00);
    }
    return QColor(0x00, 0x00, 0xFF);
}

} // namespace quarvel
