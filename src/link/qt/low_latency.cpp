#include "link/qt/low_latency.h"

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace quarvel::link {

std::optional<int> requestLowLatency([[maybe_unused]] QSerialPort& port)
{
#ifdef __linux__
    const int fd = static_cast<int>(port.handle());
    serial_struct serial{};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &serial) != 0) return std::nullopt;
    const int before = serial.flags;
    if (before & ASYNC_LOW_LATENCY) return before;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0) return std::nullopt;
    return before;
#else
    return std::nullopt;
#endif
}

void restoreSerialFlags([[maybe_unused]] QSerialPort& port, [[maybe_unused]] int flags)
{
#ifdef __linux__
    const int fd = static_cast<int>(port.handle());
    serial_struct serial{};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &serial) != 0 || serial.flags == flags) return;
    serial.flags = flags;
    ::ioctl(fd, TIOCSSERIAL, &serial);
#endif
}

} // namespace quarvel::link
