#include "event_wait.h"
#include "link/frame.h"
#include "sim/qt/pty_bridge.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace quarvel;
using namespace quarvel::sim;

namespace {

QByteArray bytesOf(const link::Frame& frame)
{
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
}

bool openLikeTheHost(QSerialPort& port, const QString& path)
{
    port.setPortName(path);
    port.setBaudRate(QSerialPort::Baud19200);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) return false;
    // A pty refuses modem lines; a real host carries on without them.
    port.setDataTerminalReady(true);
    port.clearError();
    return true;
}

QByteArray exchange(QSerialPort& port, const link::Frame& request, int replyBytes)
{
    port.write(bytesOf(request));
    QByteArray got;
    // The caller judges what came; a short answer fails its comparison.
    (void)quarvel::testing::waitUntil(
        [&] {
            got += port.readAll();
            return got.size() >= replyBytes;
        },
        2000);
    return got;
}

struct PtyCase
{
    const char* name;
    bool wireTime;
};

class PtyBridgeTest : public ::testing::TestWithParam<PtyCase>
{
};

TEST_P(PtyBridgeTest, SerialPortTalksToTheModel)
{
    VirtualSelector model;
    PtyBridge bridge(model);
    bridge.setWireTime(GetParam().wireTime);
    QString error;
    ASSERT_TRUE(bridge.open(&error)) << error.toStdString();
    ASSERT_FALSE(bridge.slavePath().isEmpty());

    QSerialPort port;
    ASSERT_TRUE(openLikeTheHost(port, bridge.slavePath())) << port.errorString().toStdString();
    EXPECT_EQ(exchange(port, link::readRequest(0), 5), bytesOf({225, 0, 0, 48, 17}));
    EXPECT_EQ(exchange(port, link::writeRequest(10, 100), 5), bytesOf(link::writeRequest(10, 100)));
    EXPECT_EQ(model.cell(10), 100);

    // The bridge holds the slave open, so a client can close and come back.
    port.close();
    ASSERT_TRUE(openLikeTheHost(port, bridge.slavePath())) << port.errorString().toStdString();
    EXPECT_EQ(exchange(port, link::readRequest(10), 5), bytesOf(link::makeFrame(225, 10, 0, 100)));
    EXPECT_EQ(model.counts().reads, 2);
}

INSTANTIATE_TEST_SUITE_P(Lines, PtyBridgeTest,
                         ::testing::Values(PtyCase{"instant", false}, PtyCase{"paced", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PtyBridgeGoneTest, GoneModelSignalsAndStopsAnswering)
{
    VirtualSelector model;
    model.setFaultPlan(*FaultPlan::parse("gone:1").plan);
    PtyBridge bridge(model);
    ASSERT_TRUE(bridge.open());
    QSignalSpy gone(&bridge, &PtyBridge::gone);

    QSerialPort port;
    ASSERT_TRUE(openLikeTheHost(port, bridge.slavePath()));
    port.write(bytesOf(link::readRequest(0)));
    ASSERT_TRUE(gone.wait(2000));
    QTest::qWait(30);
    EXPECT_EQ(port.readAll(), QByteArray());
    EXPECT_TRUE(model.isGone());
}

} // namespace
