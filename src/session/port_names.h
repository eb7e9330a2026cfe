#pragma once

#include <array>
#include <string>
#include <string_view>

namespace quarvel {

enum class Platform
{
    Windows,
    Linux
};

// The fixed entries of the port menu: Com1..Com4 and Com9.
inline constexpr std::array<int, 5> kFixedPorts{1, 2, 3, 4, 9};

// The platform's name for fixed port n: COMn on Windows, /dev/ttyS(n-1) elsewhere. Empty for a
// number that is not a fixed entry.
std::string fixedPortName(int port, Platform platform);

Platform hostPlatform();

// A name the system resolves to a port rather than a path to a file: COMn or \\.\COMn (any case)
// on Windows. Such a port cannot be looked for on disk before it is opened; a path can, and a
// remembered pty of an earlier run is gone.
bool isDeviceName(std::string_view name, Platform platform);

} // namespace quarvel
