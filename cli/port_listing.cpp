#include "port_listing.h"

#include "json_text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace quarvel::cli {

namespace {

// Device strings come from the adapter's firmware; keep control bytes off the terminal.
std::string printable(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return text;
}

} // namespace

std::string usbId(const PortEntry& port)
{
    if (!port.vendorId || !port.productId) return {};
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", static_cast<unsigned>(*port.vendorId),
                  static_cast<unsigned>(*port.productId));
    return text;
}

std::string portsText(const std::vector<PortEntry>& ports)
{
    if (ports.empty()) return "No serial ports found.\n";
    using Row = std::array<std::string, 5>;
    std::vector<Row> rows{{"Name", "Description", "Manufacturer", "USB", "Serial number"}};
    for (const auto& p : ports) {
        rows.push_back({printable(p.name), printable(p.description), printable(p.manufacturer), usbId(p),
                        printable(p.serialNumber)});
    }
    std::array<std::size_t, 5> widths{};
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + "\n";
    }
    return out;
}

std::string portsJson(const std::vector<PortEntry>& ports)
{
    const auto optionalId = [](const std::optional<std::uint16_t>& id) {
        return id ? std::to_string(*id) : std::string("null");
    };
    std::string out = "[";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const auto& p = ports[i];
        if (i > 0) out += ",";
        out += "{\"name\":" + jsonQuote(p.name) + ",\"path\":" + jsonQuote(p.path) +
               ",\"description\":" + jsonQuote(p.description) +
               ",\"manufacturer\":" + jsonQuote(p.manufacturer) + ",\"vendorId\":" + optionalId(p.vendorId) +
               ",\"productId\":" + optionalId(p.productId) + ",\"usb\":" + jsonQuote(usbId(p)) +
               ",\"serialNumber\":" + jsonQuote(p.serialNumber) + "}";
    }
    out += "]\n";
    return out;
}

} // namespace quarvel::cli
