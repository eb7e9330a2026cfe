#include "event_wait.h"
#include "link/frame.h"
#include "sim/qt/virtual_port.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace quarvel;
using namespace quarvel::sim;

namespace {

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

qint64 writeFrame(QIODevice& port, const link::Frame& frame)
{
    return port.write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
}

// Reads until `count` bytes have come or the time is up.
QByteArray collect(QIODevice& port, int count, int timeoutMs = 2000)
{
    QByteArray got;
    // The caller judges what came; a short answer fails its comparison.
    (void)quarvel::testing::waitUntil(
        [&] {
            got += port.readAll();
            return got.size() >= count;
        },
        timeoutMs);
    return got;
}

TEST(VirtualPortTest, ReplyArrivesFromTheEventLoopNotInsideWrite)
{
    VirtualSelector model;
    VirtualPort port(model);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    EXPECT_TRUE(port.openMode().testFlag(QIODevice::Unbuffered));
    EXPECT_TRUE(port.isSequential());
    QSignalSpy ready(&port, &QIODevice::readyRead);
    QSignalSpy written(&port, &QIODevice::bytesWritten);

    EXPECT_EQ(writeFrame(port, link::readRequest(0)), 5);
    EXPECT_EQ(ready.count(), 0);
    EXPECT_EQ(written.count(), 0);
    EXPECT_EQ(port.bytesAvailable(), 0);

    ASSERT_TRUE(ready.wait(1000));
    EXPECT_EQ(port.bytesAvailable(), 5);
    EXPECT_EQ(port.readAll(), bytesOf({225, 0, 0, 48, 17}));
    EXPECT_EQ(written.count(), 1);
    EXPECT_EQ(model.counts().reads, 1);
}

TEST(VirtualPortTest, WireTimeDelaysTheReplyByAtLeastTheLineTime)
{
    VirtualSelector model;
    VirtualPort port(model);
    port.setWireTime(true);
    port.setTurnaroundUs(1000);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    QSignalSpy ready(&port, &QIODevice::readyRead);

    QElapsedTimer clock;
    clock.start();
    writeFrame(port, link::readRequest(0));
    ASSERT_TRUE(ready.wait(1000));
    // 5 bytes out, 1 ms turnaround, 5 bytes back: 6.2 ms at 19200 baud.
    EXPECT_GE(clock.nsecsElapsed(), 6'000'000);
    EXPECT_EQ(port.readAll(), bytesOf({225, 0, 0, 48, 17}));
}

TEST(VirtualPortTest, FaultsReachTheHostInOrder)
{
    VirtualSelector model;
    model.setFaultPlan(*FaultPlan::parse("split:1:3,late:2:30").plan);
    VirtualPort port(model);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    QSignalSpy ready(&port, &QIODevice::readyRead);

    writeFrame(port, link::readRequest(0));
    EXPECT_EQ(collect(port, 5), bytesOf({225, 0, 0, 48, 17}));
    EXPECT_GE(ready.count(), 2); // the parts came apart

    QElapsedTimer clock;
    clock.start();
    writeFrame(port, link::writeRequest(10, 100));
    EXPECT_EQ(collect(port, 5), bytesOf({226, 10, 85, 100, 165}));
    EXPECT_GE(clock.elapsed(), 30);
}

TEST(VirtualPortTest, InsertedCoinArrivesAsARecord)
{
    VirtualSelector model;
    VirtualPort port(model);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    EXPECT_FALSE(port.insertCoin(0));

    writeFrame(port, link::startSamplingFrame());
    EXPECT_EQ(collect(port, 5), bytesOf({227, 1, 2, 3, 233}));
    ASSERT_TRUE(port.insertCoin(3));
    const auto record = collect(port, 10);
    ASSERT_EQ(record.size(), 10);
    const auto b = [&record](int i) { return static_cast<std::uint8_t>(record[i]); };
    EXPECT_EQ(b(0), 0x00);
    EXPECT_EQ(b(4), link::checksum(b(0), b(1), b(2), b(3)));
    EXPECT_EQ(b(9), link::checksum(b(5), b(6), b(7), b(8)));
}

TEST(VirtualPortTest, GoneSelectorRaisesResourceErrorAndFallsSilent)
{
    VirtualSelector model;
    model.setFaultPlan(*FaultPlan::parse("gone:2").plan);
    VirtualPort port(model);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    QSignalSpy ready(&port, &QIODevice::readyRead);
    QSignalSpy errors(&port, &VirtualPort::errorOccurred);
    // Drivers connect to it by this exact signature, as they would to a QSerialPort.
    EXPECT_GE(port.metaObject()->indexOfSignal("errorOccurred(QSerialPort::SerialPortError)"), 0);

    writeFrame(port, link::readRequest(0));
    EXPECT_EQ(collect(port, 5).size(), 5);
    const int readsBefore = static_cast<int>(ready.count());

    writeFrame(port, link::readRequest(1));
    EXPECT_EQ(errors.count(), 0); // not from inside write either
    ASSERT_TRUE(errors.wait(1000));
    ASSERT_EQ(errors.count(), 1);
    EXPECT_EQ(errors[0][0].value<QSerialPort::SerialPortError>(), QSerialPort::ResourceError);
    EXPECT_TRUE(port.hasFailed());
    EXPECT_EQ(writeFrame(port, link::readRequest(2)), -1);
    QTest::qWait(20);
    EXPECT_EQ(ready.count(), readsBefore);
    EXPECT_EQ(errors.count(), 1);

    port.close();
    EXPECT_FALSE(port.open(QIODevice::ReadWrite));
}

TEST(VirtualPortTest, ClosingDropsWhatWasOnItsWay)
{
    VirtualSelector model;
    VirtualPort port(model);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    QSignalSpy ready(&port, &QIODevice::readyRead);
    writeFrame(port, link::readRequest(0));
    port.close();
    QTest::qWait(20);
    EXPECT_EQ(ready.count(), 0);

    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    EXPECT_EQ(port.bytesAvailable(), 0);
    writeFrame(port, link::readRequest(0));
    EXPECT_EQ(collect(port, 5), bytesOf({225, 0, 0, 48, 17}));
}

} // namespace
