// A USB adapter pulled and plugged in again, played by a by-id style link re-pointed from one
// pseudo-terminal to a new one: the desktop program's session and a station both come back.
#include "link/qt/serial_link.h"
#include "session/gang_run.h"
#include "session/port_reconnector.h"
#include "session/selector_session.h"
#include "sim/qt/pty_bridge.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <array>

namespace quarvel::session {
namespace {

#ifdef Q_OS_UNIX

// One adapter at a time behind the link, each with a selector of its own.
struct Adapter
{
    QString link;
    sim::VirtualSelector model;
    std::unique_ptr<sim::PtyBridge> bridge;

    explicit Adapter(const QString& at) : link(at) {}
    void plugIn()
    {
        model.plugInNew();
        bridge = std::make_unique<sim::PtyBridge>(model);
        ASSERT_TRUE(bridge->open());
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(bridge->slavePath(), link));
    }
    void pull()
    {
        bridge->close();
        QFile::remove(link);
    }
};

TEST(PortRecovery, TheDesktopSessionReopensTheSameAdapter)
{
    QTemporaryDir dir;
    Adapter adapter(dir.filePath(QStringLiteral("usb-FTDI_A12345-if00-port0")));
    adapter.plugIn();
    SelectorSession session;
    PortReconnector reconnector(session);
    QSignalSpy lost(&session.device(), &Device::portLost);
    QSignalSpy back(&reconnector, &PortReconnector::reconnected);
    ASSERT_TRUE(session.device().openPort(adapter.link));
    adapter.pull();
    if (!lost.wait(3000)) GTEST_SKIP() << "this kernel reports a closed pty master as silence";
    // Something there that does not open yet (a device still settling): the looks go on.
    QFile(adapter.link).open(QIODevice::WriteOnly);
    QSignalSpy tried(&session.device(), &Device::portChanged);
    ASSERT_TRUE(tried.wait(3 * PortReconnector::kLookMs));
    EXPECT_FALSE(session.device().isOpen());
    EXPECT_TRUE(back.isEmpty());
    adapter.plugIn();
    ASSERT_TRUE(back.wait(3 * PortReconnector::kLookMs));
    EXPECT_EQ(back.at(0).at(0).toString(), QStringLiteral("Reconnected: %1").arg(adapter.link));
    EXPECT_TRUE(session.device().isOpen());
    EXPECT_FALSE(session.device().isBusy()); // nothing restarts by itself
}

// A port that comes back is trusted once the selector on it is identified: the one read
// before is welcomed back; another is named, and programming the document onto it asks first.
TEST(PortRecovery, AReturningPortIsIdentifiedBeforeItIsTrusted)
{
    for (const int serial : {37, 38}) {
        SCOPED_TRACE(serial);
        QTemporaryDir dir;
        Adapter adapter(dir.filePath(QStringLiteral("usb-FTDI_A12345-if00-port0")));
        adapter.plugIn();
        adapter.model.setCell(85, 37);
        SelectorSession session;
        PortReconnector reconnector(session);
        QSignalSpy lost(&session.device(), &Device::portLost);
        QSignalSpy back(&reconnector, &PortReconnector::reconnected);
        ASSERT_TRUE(session.device().openPort(adapter.link));
        QSignalSpy read(session.readSelector().operation, &ReadOperation::finished);
        ASSERT_TRUE(read.wait(10000));
        std::array<std::uint8_t, 4> calibration{}; // cells 124..127: a new unit has its own
        for (int i = 0; i < 4; ++i)
            calibration[static_cast<std::size_t>(i)] = adapter.model.cell(124 + i);
        adapter.pull();
        if (!lost.wait(3000)) GTEST_SKIP() << "this kernel reports a closed pty master as silence";
        adapter.plugIn();
        adapter.model.setCell(85, static_cast<std::uint8_t>(serial));
        if (serial == 37)
            for (int i = 0; i < 4; ++i)
                adapter.model.setCell(124 + i, calibration[static_cast<std::size_t>(i)]);
        ASSERT_TRUE(back.wait(10000));
        const QString said = back.at(0).at(0).toString();
        EXPECT_EQ(back.at(0).at(1).toBool(), serial == 37) << said.toStdString();
        if (serial == 37) {
            EXPECT_EQ(said, QStringLiteral("Reconnected: %1").arg(adapter.link));
            continue;
        }
        EXPECT_TRUE(
            said.contains("another selector is on " + adapter.link + " (serial no. 37, this one is 38)"))
            << said.toStdString();
        const auto started = session.program({});
        ASSERT_TRUE(started);
        QSignalSpy asked(started.operation, &ProgramOperation::question);
        ASSERT_TRUE(asked.wait(10000));
        EXPECT_TRUE(asked.at(0).at(0).toString().contains("serial no. 37, this one is 38"));
        started.operation->cancel();
    }
}

// Back under a new name, known by its by-id link: the old name leads nowhere now.
TEST(PortRecovery, AStationOpensItsAdapterWhereItIsNow)
{
    QTemporaryDir dir;
    Adapter before(dir.filePath(QStringLiteral("old")));
    before.plugIn();
    Adapter after(dir.filePath(QStringLiteral("usb-FTDI_C3-if00-port0")));
    after.plugIn(); // its pty exists before the old one goes, so the two names differ
    const PortIdentity identity{before.bridge->slavePath(), after.link, false, 0, 0, {}};
    before.pull();
    ASSERT_FALSE(QFile::exists(identity.path));
    SelectorSession session;
    QString error;
    EXPECT_TRUE(portOpener(identity)(session.device(), &error)) << error.toStdString();
    EXPECT_EQ(session.device().portName(), after.link);
}

TEST(PortRecovery, AStationReportsTheLostPortAndCarriesOn)
{
    QTemporaryDir dir;
    Adapter adapter(dir.filePath(QStringLiteral("usb-FTDI_B777-if00-port0")));
    adapter.plugIn();
    GangJob job;
    for (int a = 0; a < ParameterImage::kCellCount; ++a)
        job.image.setNumber(a, (a * 7 + 3) % 200);
    job.wait = true;
    job.pollMs = 30;
    job.absence = {3, 60};
    GangRun run({adapter.link}, job);
    driverOf(run.station(0).device()).setTiming({100, 5});
    QSignalSpy units(&run, &GangRun::unitFinished);
    QSignalSpy lost(&run, &GangRun::portLost);
    run.start();
    ASSERT_TRUE(units.wait(20000));
    adapter.pull();
    if (!lost.wait(3000)) GTEST_SKIP() << "this kernel reports a closed pty master as silence";
    adapter.plugIn();
    ASSERT_TRUE(units.wait(20000));
    QSignalSpy finished(&run, &GangRun::finished);
    run.interrupt();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(5000));
    EXPECT_EQ(run.passed(), 2);
    EXPECT_EQ(run.portsLost(), 1);
    EXPECT_EQ(lost.at(0).at(0).toString(), adapter.link);
}

#endif

} // namespace
} // namespace quarvel::session
