#include "port_listing.h"

#include <gtest/gtest.h>

namespace quarvel::cli {
namespace {

const PortEntry kAdapter{"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A50285BI", 0x0403, 0x6001};
const PortEntry kBuiltIn{"ttyS0", "/dev/ttyS0", "", "", "", std::nullopt, std::nullopt};

TEST(PortListing, TextTableAlignsColumns)
{
    EXPECT_EQ(portsText({}), "No serial ports found.\n");
    EXPECT_EQ(portsText({kAdapter, kBuiltIn}),
              "Name     Description      Manufacturer  USB        Serial number\n"
              "ttyUSB0  FT232R USB UART  FTDI          0403:6001  A50285BI\n"
              "ttyS0\n");
}

TEST(PortListing, DeviceStringsCannotDriveTheTerminal)
{
    PortEntry odd = kBuiltIn;
    odd.description = "evil\033[2Jname";
    EXPECT_EQ(portsText({odd}).find('\033'), std::string::npos);
}

TEST(PortListing, JsonNamesEveryField)
{
    EXPECT_EQ(portsJson({}), "[]\n");
    EXPECT_EQ(portsJson({kAdapter, kBuiltIn}),
              "[{\"name\":\"ttyUSB0\",\"path\":\"/dev/ttyUSB0\",\"description\":\"FT232R USB UART\","
              "\"manufacturer\":\"FTDI\",\"vendorId\":1027,\"productId\":24577,\"usb\":\"0403:6001\","
              "\"serialNumber\":\"A50285BI\"},"
              "{\"name\":\"ttyS0\",\"path\":\"/dev/ttyS0\",\"description\":\"\",\"manufacturer\":\"\","
              "\"vendorId\":null,\"productId\":null,\"usb\":\"\",\"serialNumber\":\"\"}]\n");
}

} // namespace
} // namespace quarvel::cli
