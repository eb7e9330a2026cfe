#include "event_wait.h"
#include "image/cell_byte.h"
#include "link/program_transfer.h"
#include "link/qt/serial_link.h"
#include "link/read_transfer.h"
#include "link/sampling_transfer.h"
#include "link/transfer_texts.h"
#include "sim/fault_plan.h"
#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"
#ifdef Q_OS_UNIX
#include "sim/qt/pty_bridge.h"
#endif

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

using namespace quarvel;
using namespace quarvel::link;

namespace {

using Jobs = std::vector<std::unique_ptr<Transfer>>;

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 20000)
{
    return quarvel::testing::waitUntil(condition, timeoutMs);
}

// A read whose cells land in image when it ends, on the link's thread, as an owner takes them.
Jobs readJob(SerialLink& link, ParameterImage& image)
{
    QObject::connect(
        &link, &SerialLink::transferEnded, &link,
        [&image](const TransferSummary& summary) {
            if (const auto* cells = std::get_if<ReadCells>(&summary.output)) store(*cells, image);
        },
        Qt::SingleShotConnection);
    Jobs jobs;
    jobs.push_back(std::make_unique<ReadTransfer>());
    return jobs;
}

int countText(const QSignalSpy& reports, const char* text)
{
    int n = 0;
    for (const auto& args : reports) {
        const auto report = args.at(0).value<Report>();
        const auto* shown = std::get_if<ShowText>(&report);
        n += shown && shown->text == text;
    }
    return n;
}

void expectSelectorCells(const ParameterImage& image, const sim::VirtualSelector& model)
{
    for (int a = 0; a < sim::VirtualSelector::kCellCount; ++a)
        ASSERT_EQ(image.text(a), std::to_string(model.cell(a))) << "cell " << a;
}

// Takes every byte and never answers: a selector that is not there.
class SilentDevice : public QIODevice
{
public:
    SilentDevice() { open(ReadWrite | Unbuffered); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return 0; }
    qint64 writeData(const char*, qint64 size) override { return size; }
};

struct Spies
{
    explicit Spies(SerialLink& link)
        : reports(&link, &SerialLink::reported), finished(&link, &SerialLink::transferFinished),
          runs(&link, &SerialLink::runFinished), lost(&link, &SerialLink::portLost)
    {}
    bool finish()
    {
        EXPECT_TRUE(waitFor([&] { return !runs.isEmpty(); })) << "run never finished";
        return !runs.isEmpty() && runs.first().at(0).toBool();
    }
    QSignalSpy reports, finished, runs, lost;
};

// The link on the in-process virtual port, the model straight from the factory.
struct VirtualBench
{
    sim::VirtualSelector model;
    sim::VirtualPort port{model};
    SerialLink link;
    Spies spy{link};

    explicit VirtualBench(const char* plan = "")
    {
        model.loadMemory(sim::VirtualSelector::factoryMemory());
        auto parsed = sim::FaultPlan::parse(plan);
        EXPECT_TRUE(parsed.plan) << parsed.error;
        model.setFaultPlan(parsed.plan.value_or(sim::FaultPlan{}));
        port.open(QIODevice::ReadWrite);
        link.attachDevice(&port, QStringLiteral("virtual"));
    }
};

struct ReadCase
{
    const char* plan;
    bool succeeds;
    int timeOuts;
};

void readAgainst(const std::vector<ReadCase>& cases)
{
    for (const auto& c : cases) {
        VirtualBench b(c.plan);
        ParameterImage image;
        image.setText(230, "tool's own");
        ASSERT_TRUE(b.link.run(readJob(b.link, image))) << c.plan;
        EXPECT_TRUE(b.link.isBusy());
        EXPECT_EQ(b.spy.finish(), c.succeeds) << c.plan;
        EXPECT_FALSE(b.link.isBusy());
        EXPECT_EQ(b.spy.finished.size(), 1) << c.plan;
        EXPECT_EQ(countText(b.spy.reports, texts::kTimeOut), c.timeOuts) << c.plan;
        EXPECT_EQ(countText(b.spy.reports, texts::kReadError), c.succeeds ? 0 : 1) << c.plan;
        if (c.succeeds)
            expectSelectorCells(image, b.model);
        else
            EXPECT_TRUE(image.text(188).empty()) << c.plan;
        EXPECT_EQ(image.text(230), "tool's own");
    }
}

TEST(SerialLink, ReadAbsorbsFaultPlans)
{
    readAgainst({
        {"", true, 0},
        {"drop:3,badsum:10,split:20:3", true, 1},
        {"badcmd:5,badaddr:60,merge:100", true, 1},
        {"garbage:7:2,extra:50:4,drop:150", true, 1},
        {"drop:5,late:30:250ms", true, 2},
    });
}

TEST(SerialLink, ReadFailsOnTheFifthFault)
{
    readAgainst({
        {"drop:3,drop:4,drop:5,drop:6,drop:7", false, 5},
        {"drop:3,badsum:40,drop:80,badaddr:120,drop:160", false, 3},
    });
}

TEST(SerialLink, LostPortFailsTheTransferAndCloses)
{
    VirtualBench b("gone:40");
    ParameterImage image;
    ASSERT_TRUE(b.link.run(readJob(b.link, image)));
    EXPECT_FALSE(b.spy.finish());
    ASSERT_EQ(b.spy.lost.size(), 1);
    EXPECT_EQ(b.spy.lost.first().at(0).toString(), "The serial port virtual was disconnected.");
    EXPECT_EQ(b.spy.finished.first().at(0).value<Outcome>(), Outcome::Failed);
    EXPECT_EQ(countText(b.spy.reports, texts::kReadError), 1);
    EXPECT_FALSE(b.link.isOpen());
    EXPECT_TRUE(waitFor([&] { return b.link.portName().isEmpty(); })) << "never closed";
    EXPECT_FALSE(image.text(30).empty());

    runEventLoop(100);
    EXPECT_EQ(b.spy.lost.size(), 1);
    EXPECT_EQ(b.spy.runs.size(), 1);
}

TEST(SerialLink, DestroyedDeviceCountsAsLost)
{
    sim::VirtualSelector model;
    auto port = std::make_unique<sim::VirtualPort>(model);
    port->open(QIODevice::ReadWrite);
    SerialLink link;
    Spies spy(link);
    link.attachDevice(port.get(), QStringLiteral("bench"));
    ParameterImage image;
    ASSERT_TRUE(link.run(readJob(link, image)));
    port.reset();
    EXPECT_EQ(spy.runs.size(), 1);
    ASSERT_EQ(spy.lost.size(), 1);
    EXPECT_EQ(spy.lost.first().at(0).toString(), "The serial port bench was disconnected.");
    EXPECT_FALSE(link.isOpen());
}

TEST(SerialLink, RefusesWhileBusyAndWithoutAPort)
{
    VirtualBench b;
    const auto read = [] {
        Jobs jobs;
        jobs.push_back(std::make_unique<ReadTransfer>());
        return jobs;
    };
    ASSERT_TRUE(b.link.run(read()));
    QString refusal;
    EXPECT_FALSE(b.link.run(read(), &refusal));
    EXPECT_EQ(refusal, "Another device operation is still running.");
    EXPECT_FALSE(b.link.sendFrame(endSamplingFrame()));
    ASSERT_TRUE(b.spy.finish());
    EXPECT_EQ(b.model.counts().reads, 189);
    EXPECT_TRUE(b.link.sendFrame(endSamplingFrame()));
    EXPECT_TRUE(waitFor([&] { return b.model.counts().samplingEnds == 1; }));

    SerialLink unopened;
    EXPECT_FALSE(unopened.run(read(), &refusal));
    EXPECT_EQ(refusal, "No serial port is open.");
    QString error;
    EXPECT_FALSE(unopened.openPort(QStringLiteral("/dev/quarvel-none"), &error));
    EXPECT_TRUE(error.startsWith("The serial port /dev/quarvel-none could not be opened: "))
        << error.toStdString();
    EXPECT_FALSE(unopened.isOpen());
}

TEST(SerialLink, CancelOrCloseFromASignalEndsTheRead)
{
    for (const bool close : {false, true}) {
        VirtualBench b;
        ParameterImage image;
        // As a window's handler would, while the status window is being updated.
        QObject::connect(&b.link, &SerialLink::reported, &b.link, [&](const Report& report) {
            const auto* progress = std::get_if<SetProgress>(&report);
            if (progress && progress->value == 20) close ? b.link.closePort() : b.link.cancel();
        });
        ASSERT_TRUE(b.link.run(readJob(b.link, image)));
        EXPECT_FALSE(b.spy.finish()) << close;
        EXPECT_EQ(b.spy.finished.size(), 1) << close;
        EXPECT_EQ(countText(b.spy.reports, texts::kReadError), 1) << close;
        EXPECT_FALSE(image.text(19).empty()) << close;
        EXPECT_TRUE(image.text(20).empty()) << close;
        EXPECT_EQ(b.link.isOpen(), !close);
        EXPECT_TRUE(b.spy.lost.isEmpty()) << "closing on purpose is no loss";
        runEventLoop(300);
        EXPECT_LE(b.model.counts().reads, 21) << close << ": still sending";
        EXPECT_EQ(b.spy.runs.size(), 1) << close;
    }
}

// The next request is on the line before the reply that led to it reaches the traffic and
// status listeners (slow windows): the selector must not wait for them.
TEST(SerialLink, NextRequestLeavesBeforeTheReplyIsReported)
{
    VirtualBench b;
    ParameterImage image;
    std::vector<int> readsWhenReported;
    QObject::connect(&b.link, &SerialLink::traffic, &b.link, [&](const TrafficEntry& entry) {
        if (entry.direction == Direction::Received) readsWhenReported.push_back(b.model.counts().reads);
    });
    ASSERT_TRUE(b.link.run(readJob(b.link, image)));
    ASSERT_TRUE(b.spy.finish());
    ASSERT_EQ(readsWhenReported.size(), 189U);
    for (int cell = 0; cell < 188; ++cell)
        EXPECT_EQ(readsWhenReported[cell], cell + 2) << "reply of cell " << cell;
}

TEST(SerialLink, NextRunCanStartFromRunFinished)
{
    VirtualBench b;
    ParameterImage image;
    for (int a = 0; a < 189; ++a)
        image.setNumber(a, (a * 13) % 256);
    ParameterImage readBack;
    QObject::connect(&b.link, &SerialLink::runFinished, &b.link, [&](bool ok) {
        if (ok && b.spy.runs.size() == 1) {
            EXPECT_TRUE(b.link.run(readJob(b.link, readBack)));
        }
    });
    ASSERT_TRUE(b.link.run(programJobs(image)));
    ASSERT_TRUE(waitFor([&] { return b.spy.runs.size() == 2; }));
    EXPECT_TRUE(b.spy.runs.at(1).at(0).toBool());
    EXPECT_EQ(b.model.counts().endOfProgramming, 3);
    for (int a : {0, 84, 86, 121, 128, 179, 188})
        EXPECT_EQ(readBack.text(a), image.text(a)) << a;
}

// The real timer ends each exchange: five time-outs against nothing, then the failure.
TEST(SerialLink, SilentSelectorTimesOut)
{
    SilentDevice silent;
    SerialLink link;
    Spies spy(link);
    link.setTiming({20, 30});
    link.attachDevice(&silent, QStringLiteral("silent"));
    ParameterImage image;
    ASSERT_TRUE(link.run(readJob(link, image)));
    ASSERT_TRUE(spy.runs.wait(10000));
    EXPECT_FALSE(spy.runs.first().at(0).toBool());
    EXPECT_EQ(countText(spy.reports, texts::kTimeOut), 5);
}

// A whole sampling run through the driver: typed samples, the summary before the outcome, and a
// trace that starts with the handshake and ends with the end frame.
TEST(SerialLink, SamplingRunOnTheVirtualSelector)
{
    // The program knows a coin of irregular speed by the byte the device sends for it, whatever
    // the virtual selector's own default.
    for (const auto& [irregularType, seenIrregular] :
         {std::pair{std::uint8_t{0x92}, true}, std::pair{std::uint8_t{0x93}, false}}) {
        VirtualBench b;
        b.model.setIrregularRecordType(irregularType);
        QSignalSpy traffic(&b.link, &SerialLink::traffic);
        std::vector<std::string> order;
        TransferSummary summary;
        QObject::connect(&b.link, &SerialLink::transferEnded, &b.link, [&](const TransferSummary& s) {
            summary = s;
            order.push_back("ended");
        });
        QObject::connect(&b.link, &SerialLink::transferFinished, &b.link,
                         [&] { order.push_back("finished"); });
        Jobs jobs;
        jobs.push_back(std::make_unique<SamplingTransfer>());
        ASSERT_TRUE(b.link.run(std::move(jobs)));
        ASSERT_TRUE(waitFor([&] { return b.model.isSampling(); }));
        for (int n = 0; n < 12; ++n)
            ASSERT_TRUE(b.port.insertCoin(2, n == 4));
        ASSERT_TRUE(b.spy.finish());

        const auto& samples = std::get<std::vector<sampling::Sample>>(summary.output);
        ASSERT_EQ(samples.size(), 12u);
        EXPECT_EQ(samples[4].irregular, seenIrregular);
        EXPECT_EQ(summary.reason, EndReason::Succeeded);
        EXPECT_EQ(summary.cellsDone, 12);
        EXPECT_EQ(order, (std::vector<std::string>{"ended", "finished"}));
        EXPECT_EQ(b.model.counts().samplingEnds, 1);
        ASSERT_GE(traffic.size(), 14);
        EXPECT_EQ(traffic.first().at(0).value<TrafficEntry>().meaning, "start sampling");
        EXPECT_EQ(traffic.last().at(0).value<TrafficEntry>().meaning, "end sampling");
    }
}

#ifdef Q_OS_UNIX

// The real QSerialPort path, end to end through a pseudo-terminal.
struct PtyBench
{
    sim::VirtualSelector model;
    sim::PtyBridge bridge{model};
    SerialLink link;
    Spies spy{link};

    PtyBench()
    {
        model.loadMemory(sim::VirtualSelector::factoryMemory());
        QString error;
        EXPECT_TRUE(bridge.open(&error)) << error.toStdString();
        EXPECT_TRUE(link.openPort(bridge.slavePath(), &error)) << error.toStdString();
        EXPECT_EQ(link.portName(), bridge.slavePath());
    }
};

// Qt calls a port another program holds a permission error; the user needs to hear it is busy.
TEST(SerialLinkPty, APortHeldElsewhereIsInUseNotAPermissionProblem)
{
    PtyBench b;
    SerialLink second;
    QString error;
    EXPECT_FALSE(second.openPort(b.bridge.slavePath(), &error));
    EXPECT_EQ(error,
              QStringLiteral("The serial port %1 is in use by another program.").arg(b.bridge.slavePath()));
}

TEST(SerialLinkPty, FullReadIgnoresAnAnswerLeftOnTheLine)
{
    PtyBench b;
    // Taken for the first reply, this answer would echo the wrong address and cost a repeat.
    ASSERT_TRUE(b.link.sendFrame(readRequest(5)));
    ASSERT_TRUE(waitFor([&] { return b.model.counts().replies == 1; }));
    runEventLoop(20);
    ParameterImage image;
    ASSERT_TRUE(b.link.run(readJob(b.link, image)));
    ASSERT_TRUE(b.spy.finish());
    expectSelectorCells(image, b.model);
    ASSERT_EQ(b.model.log().size(), 1u + 189u) << "a request was repeated";
    for (int a = 0; a < 189; ++a)
        ASSERT_EQ(b.model.log()[1 + a].frame, readRequest(static_cast<std::uint8_t>(a))) << a;
    EXPECT_EQ(b.model.log()[1].frame, (Frame{225, 0, 8, 6, 239}));
}

TEST(SerialLinkPty, FullProgramming)
{
    PtyBench b;
    const auto before = b.model.memory();
    ParameterImage image;
    for (int a = 0; a < 189; ++a)
        image.setNumber(a, (a * 29 + 5) % 256);
    image.setText(7, "300");  // sent as 44
    image.setText(8, "12.5"); // sent as 12
    stampFixedCells(image);
    ASSERT_TRUE(b.link.run(programJobs(image)));
    ASSERT_TRUE(b.spy.finish());

    std::vector<Frame> expected;
    for (auto [begin, total] : {std::pair{0, 84}, std::pair{86, 123}, std::pair{128, 188}}) {
        for (int a = begin; a <= total; ++a)
            expected.push_back(writeRequest(static_cast<std::uint8_t>(a), cellByte(image.text(a))));
        expected.push_back(Frame{137, 1, 2, 3, 143});
    }
    std::vector<Frame> received;
    for (const auto& r : b.model.log())
        received.push_back(r.frame);
    EXPECT_EQ(received, expected);
    EXPECT_EQ(b.model.cell(7), 44);
    EXPECT_EQ(b.model.cell(8), 12);
    EXPECT_EQ(b.model.cell(121), 52);
    for (int a : {85, 124, 125, 126, 127})
        EXPECT_EQ(b.model.cell(a), before[a]) << a << " must never be written";
}

// The line thread keeps the time-outs: a lost reply costs one, and five in a row end the read.
TEST(SerialLinkPty, TimeOutsOnTheLineThread)
{
    for (const auto& [plan, succeeds, timeOuts] :
         {std::tuple{"drop:5", true, 1}, std::tuple{"drop:3,drop:4,drop:5,drop:6,drop:7", false, 5}}) {
        PtyBench b;
        b.model.setFaultPlan(sim::FaultPlan::parse(plan).plan.value_or(sim::FaultPlan{}));
        ParameterImage image;
        ASSERT_TRUE(b.link.run(readJob(b.link, image)));
        EXPECT_EQ(b.spy.finish(), succeeds) << plan;
        EXPECT_EQ(countText(b.spy.reports, texts::kTimeOut), timeOuts) << plan;
        if (succeeds) expectSelectorCells(image, b.model);
    }
}

// The line thread runs the exchanges while cancel and close come from the owner's thread, from
// inside a signal it delivered: the read ends at once, without a deadlock or another request.
TEST(SerialLinkPty, CancelOrCloseFromASignalEndsTheRead)
{
    for (const bool close : {false, true}) {
        PtyBench b;
        // At the line's own pace, as progress reaches the owner while the read goes on.
        b.bridge.setWireTime(true);
        ParameterImage image;
        QObject::connect(&b.link, &SerialLink::reported, &b.link, [&](const Report& report) {
            const auto* progress = std::get_if<SetProgress>(&report);
            if (progress && progress->value >= 20 && b.link.isBusy())
                close ? b.link.closePort() : b.link.cancel();
        });
        ASSERT_TRUE(b.link.run(readJob(b.link, image)));
        EXPECT_FALSE(b.spy.finish()) << close;
        EXPECT_EQ(b.spy.finished.size(), 1) << close;
        EXPECT_EQ(countText(b.spy.reports, texts::kReadError), 1) << close;
        EXPECT_TRUE(image.text(188).empty()) << close;
        EXPECT_EQ(b.link.isOpen(), !close);
        EXPECT_TRUE(b.spy.lost.isEmpty()) << "closing on purpose is no loss";
        const int reads = b.model.counts().reads;
        runEventLoop(300);
        EXPECT_EQ(b.model.counts().reads, reads) << close << ": still sending";
        EXPECT_EQ(b.spy.runs.size(), 1) << close;
    }
}

TEST(SerialLinkPty, VanishedPtyIsALostPort)
{
    PtyBench b;
    // At the line's pace, so the read is still going when the owner hears of cell 10.
    b.bridge.setWireTime(true);
    ParameterImage image;
    QObject::connect(&b.link, &SerialLink::reported, &b.bridge, [&](const Report& report) {
        const auto* progress = std::get_if<SetProgress>(&report);
        if (progress && progress->value == 10) b.bridge.close();
    });
    ASSERT_TRUE(b.link.run(readJob(b.link, image)));
    EXPECT_FALSE(b.spy.finish());
    if (b.spy.lost.isEmpty())
        GTEST_SKIP() << "this kernel reports a closed pty master as silence, not as an error";
    EXPECT_TRUE(waitFor([&] { return b.link.portName().isEmpty(); }));
}

// A run that only listens writes nothing that could fail, so the hang-up itself must end it.
TEST(SerialLinkPty, HangUpWhileWaitingForCoinsIsALostPort)
{
    PtyBench b;
    std::vector<sampling::Sample> samples{{}};
    QObject::connect(&b.link, &SerialLink::transferEnded, &b.link, [&](const TransferSummary& summary) {
        samples = std::get<std::vector<sampling::Sample>>(summary.output);
    });
    Jobs jobs;
    jobs.push_back(std::make_unique<SamplingTransfer>());
    ASSERT_TRUE(b.link.run(std::move(jobs)));
    ASSERT_TRUE(waitFor([&] { return b.model.isSampling(); }));
    b.bridge.close();
    EXPECT_FALSE(b.spy.finish());
    EXPECT_EQ(b.spy.lost.size(), 1);
    EXPECT_TRUE(samples.empty());
}

// The selector on a thread of its own, answering at once: its line moves whatever the thread
// of the link's owner is doing.
class ThreadedSelector
{
public:
    ThreadedSelector()
    {
        model.loadMemory(sim::VirtualSelector::factoryMemory());
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
        path = QString::fromLocal8Bit(::ptsname(m_master));
        m_thread = std::thread([this] { serve(); });
    }
    ~ThreadedSelector()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_master >= 0) ::close(m_master);
    }
    // Waits, without an event loop, until the selector has taken `count` frames.
    bool waitForFrames(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_seen.wait_for(lock, std::chrono::seconds(10), [&] { return model.log().size() >= count; });
    }

    sim::VirtualSelector model;
    QString path;

private:
    void serve()
    {
        std::uint8_t buffer[64];
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0) continue;
            const std::lock_guard lock(m_mutex);
            for (const auto& emission : model.receive(std::span(buffer, static_cast<std::size_t>(n)), 0))
                [[maybe_unused]] auto written =
                    ::write(m_master, emission.bytes.data(), emission.bytes.size());
            m_seen.notify_all();
        }
    }

    int m_master = -1;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_seen;
    std::thread m_thread;
};

// A busy window (a long repaint, a dialog being built) must not hold up the line: each reply
// is answered by the next request while the thread that owns the link does something else.
TEST(SerialLinkPty, RequestsFollowRepliesWhileTheOwnerIsBusy)
{
    ThreadedSelector selector;
    ASSERT_FALSE(selector.path.isEmpty());
    SerialLink link;
    Spies spy{link};
    QString error;
    ASSERT_TRUE(link.openPort(selector.path, &error)) << error.toStdString();
    ParameterImage image;
    ASSERT_TRUE(link.run(readJob(link, image)));
    EXPECT_TRUE(selector.waitForFrames(189));
    ASSERT_TRUE(spy.finish());
    expectSelectorCells(image, selector.model);
}

#endif

} // namespace
