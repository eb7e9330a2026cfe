#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The serial ports found on this machine, as the ports command prints them.
namespace quarvel::cli {

struct PortEntry
{
    std::string name; // what --port takes: COM3, ttyUSB0
    std::string path; // the system location: \\.\COM3, /dev/ttyUSB0
    std::string description;
    std::string manufacturer;
    std::string serialNumber;
    std::optional<std::uint16_t> vendorId; // USB adapters only
    std::optional<std::uint16_t> productId;
    bool operator==(const PortEntry&) const = default;
};

// "0403:6001" for a USB adapter, empty otherwise.
std::string usbId(const PortEntry& port);

// A table with a heading, or a line saying that no port was found.
std::string portsText(const std::vector<PortEntry>& ports);
// A JSON array of objects, ending with a line feed.
std::string portsJson(const std::vector<PortEntry>& ports);

} // namespace quarvel::cli
