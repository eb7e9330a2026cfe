// Where a known adapter is now, from a list of ports and the files there are.
#include "session/port_identity.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quarvel::session {
namespace {

TEST(PortIdentity, LocateFindsTheSameAdapterWhateverItsName)
{
    QTemporaryDir dir;
    const QString byId = dir.filePath("usb-FTDI_B2-if00-port0");
    const QString plain = dir.filePath("ttyS9");
    QFile(plain).open(QIODevice::WriteOnly);
    const auto usb = [](const QString& path, const QString& serial, const QString& link = {}) {
        return PortIdentity{path, link, true, 0x0403, 0x6001, serial};
    };
    const auto named = [](const QString& path) { return PortIdentity{path, {}, false, 0, 0, {}}; };
    const QList<ListedPort> twins{{"/dev/ttyUSB4", 0x0403, 0x6001, "A1"},
                                  {"/dev/ttyUSB5", 0x0403, 0x6001, "B2"}};
    const struct
    {
        const char* name;
        PortIdentity id;
        QList<ListedPort> ports;
        QString expected;
    } cases[] = {
        {"back under another name",
         usb("/dev/ttyUSB0", "B2"),
         {{"/dev/ttyUSB7", 0x0403, 0x6001, "B2"}},
         "/dev/ttyUSB7"},
        {"the second of two alike", usb("/dev/ttyUSB1", "B2"), twins, "/dev/ttyUSB5"},
        {"another maker's adapter with that number",
         usb("/dev/ttyUSB1", "B2"),
         {{"/dev/ttyUSB5", 0x067b, 0x6001, "B2"}},
         ""},
        {"away", usb("/dev/ttyUSB1", "C3"), twins, ""},
        {"only its by-id link there", usb("/dev/ttyUSB1", "C3", byId), {}, ""},
        {"a port without identity, by its name", named(plain), {}, plain},
        {"a port without identity, gone", named(dir.filePath("ttyS8")), {}, ""},
        {"a name that is no file", named("COM3"), {}, "COM3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.id.locate(c.ports), c.expected) << c.name;
    ASSERT_TRUE(QFile::link(plain, byId));
    EXPECT_EQ(usb("/dev/ttyUSB1", "C3", byId).locate({}), byId);
}

} // namespace
} // namespace quarvel::session
