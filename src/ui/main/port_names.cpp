#include "ui/main/port_names.h"

#include <algorithm>

namespace quarvel {

std::string fixedPortName(int port, Platform platform)
{
    if (std::find(kFixedPorts.begin(), kFixedPorts.end(), port) == kFixedPorts.end()) return {};
    return platform == Platform::Windows ? "COM" + std::to_string(port)
                                         : "/dev/ttyS" + std::to_string(port - 1);
}

Platform hostPlatform()
{
#ifdef _WIN32
    return Platform::Windows;
#else
    return Platform::Linux;
#endif
}

} // namespace quarvel
