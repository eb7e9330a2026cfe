#include "session/port_names.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

// A remembered COM12 must be tried at start although no file of that name exists.
TEST(PortNames, WindowsPortNamesAreDevicesNotPaths)
{
    const struct
    {
        const char* name;
        bool windows;
    } cases[] = {{"COM12", true},       {"com3", true},  {"\\\\.\\COM12", true}, {"//./com7", true},
                 {"COM", false},        {"COMX", false}, {"COM1a", false},       {"C:\\COM12", false},
                 {"/dev/ttyS0", false}, {"", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(isDeviceName(c.name, Platform::Windows), c.windows) << c.name;
        EXPECT_FALSE(isDeviceName(c.name, Platform::Linux)) << c.name;
    }
}

} // namespace
} // namespace quarvel
