#pragma once

#include <QSerialPort>

#include <optional>

namespace quarvel::link {

// A USB serial adapter holds received bytes for its latency timer before passing them on; the
// Linux driver's low-latency flag asks it to pass them on at once. Returns the driver's flags
// from before, to be given back on close, or nothing when the driver has no such flag (a pty,
// other systems). A driver that refuses is no error: the line only gets slower.
std::optional<int> requestLowLatency(QSerialPort& port);
void restoreSerialFlags(QSerialPort& port, int flags);

} // namespace quarvel::link
