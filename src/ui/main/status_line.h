#pragma once

#include "session/reports.h"

#include <QString>

#include <functional>

namespace quarvel {

// The main window's status line as its collaborators use it: show a text in a colour, and read
// back what it says.
struct StatusLine
{
    std::function<void(const QString& text, session::StatusColour colour)> show;
    std::function<QString()> text;
};

} // namespace quarvel
