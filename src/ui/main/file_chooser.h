#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace quarvel {

enum class FileChoice
{
    Open,
    Save
};

// Asks the user for a file without blocking the event loop; done gets the chosen path, or an
// empty one when the user cancelled. Tests put their own in place of the dialog.
using FileChooser = std::function<void(QWidget* parent, FileChoice choice, const QString& title,
                                       const QString& filter, std::function<void(const QString&)> done)>;

// The platform's file dialog, window-modal, deleted when it closes.
FileChooser dialogFileChooser();

} // namespace quarvel
