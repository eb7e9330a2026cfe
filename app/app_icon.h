#pragma once

#include <QIcon>

namespace quarvel {

// The program's icon, a gold coin with the letter Q, drawn at the usual sizes.
QIcon appIcon();

} // namespace quarvel
