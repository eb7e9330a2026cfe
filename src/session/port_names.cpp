#include "session/port_names.h"

#include <algorithm>
#include <cctype>

namespace quarvel {

std::string fixedPortName(int port, Platform platform)
{
    if (std::find(kFixedPorts.begin(), kFixedPorts.end(), port) == kFixedPorts.end()) return {};
    return platform == Platform::Windows ? "COM" + std::to_string(port)
                                         : "/dev/ttyS" + std::to_string(port - 1);
}

bool isDeviceName(std::string_view name, Platform platform)
{
    if (platform != Platform::Windows) return false;
    for (const std::string_view prefix : {"\\\\.\\", "//./"})
        if (name.substr(0, prefix.size()) == prefix) name.remove_prefix(prefix.size());
    const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    if (name.size() < 4 || lower(name[0]) != 'c' || lower(name[1]) != 'o' || lower(name[2]) != 'm')
        return false;
    return std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
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
