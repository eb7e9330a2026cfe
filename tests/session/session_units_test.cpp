// The session's small units: refusal wording, the port fall-back rules, and an operation's one
// result.
#include "event_wait.h"
#include "session/port_advice.h"
#include "session/port_choice.h"
#include "session/selector_session.h"
#include "sim/virtual_selector.h"

#ifdef Q_OS_UNIX
#include "sim/qt/pty_bridge.h"
#endif

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace quarvel::session {
namespace {

TEST(Refusal, EachKindIsWordedForTheUser)
{
    const std::pair<Refusal, const char*> cases[] = {
        {{Refusal::Kind::NoPort, 0, {}}, "No serial port is open."},
        {{Refusal::Kind::Busy, 0, {}}, "Another device operation is still running."},
        {{Refusal::Kind::BadChannel, 13, {}}, "There is no coin channel 13; channels are 1 to 12."},
        {{Refusal::Kind::FileUnreadable, 0, QStringLiteral("x.cdt is not a coin data file")},
         "x.cdt is not a coin data file"},
        {{Refusal::Kind::FileTooShort, 120, QStringLiteral("x.cdt")},
         "x.cdt holds 120 values; programming needs 189"},
        {{Refusal::Kind::FileTooShort, 1, QStringLiteral("x.cdt")},
         "x.cdt holds 1 value; programming needs 189"},
        {{Refusal::Kind::FileTooShort, 1, QStringLiteral("%1.cdt")}, // a name is not a pattern
         "%1.cdt holds 1 value; programming needs 189"},
    };
    for (const auto& [refusal, text] : cases)
        EXPECT_EQ(refusalText(refusal), QString::fromUtf8(text));
}

// The one rule asked before the document is replaced or the program closes.
TEST(Document, UnsavedWorkIsItsOwnChangesOrAWindowsEditsWhileTheWindowLives)
{
    Document document;
    document.edit(ChangeSource::Sampling, [](ParameterImage& image) { image.setText(40, "99"); });
    EXPECT_TRUE(document.hasUnsavedWork()); // taught, neither saved nor programmed
    document.markSaved();
    EXPECT_FALSE(document.hasUnsavedWork());
    bool edits = true;
    auto window = std::make_unique<QObject>();
    document.holdPendingWork(window.get(), [&] { return edits; });
    EXPECT_TRUE(document.hasUnsavedWork());
    edits = false;
    EXPECT_FALSE(document.hasUnsavedWork());
    edits = true;
    window.reset(); // a closed window holds nothing
    EXPECT_FALSE(document.hasUnsavedWork());
}

#ifdef Q_OS_UNIX
// A port that does not open says what to do next, in the same words on both front ends.
TEST(PortOpenAdvice, NamesThePortHereAndWhatIsNoSerialPort)
{
    const QString listed =
        QStringLiteral("the serial ports found are listed by quarvelctl ports and in the System menu");
    const struct
    {
        QString port, error, advice;
    } cases[] = {
        {"COM3", "The serial port COM3 could not be opened: No such file or directory",
         "The serial port COM3 could not be opened: No such file or directory; COM3 is a Windows name, here "
         "it "
         "is /dev/ttyS2 (" +
             listed + ")"},
        {"/dev/null", "The serial port /dev/null could not be opened: Inappropriate ioctl for device",
         "/dev/null is not a serial port (" + listed + ")"},
        {"/dev/quarvel-none",
         "The serial port /dev/quarvel-none could not be opened: No such file or directory",
         "The serial port /dev/quarvel-none could not be opened: No such file or directory (" + listed + ")"},
        {"/dev/tty", "The serial port /dev/tty is in use by another program.",
         "The serial port /dev/tty is in use by another program."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(portOpenAdvice(c.port, c.error), c.advice);
}

TEST(PortChoice, FallsBackAsEachKindOfPortSays)
{
    sim::VirtualSelector model;
    sim::PtyBridge bridge(model);
    ASSERT_TRUE(bridge.open());
    const QString good = bridge.slavePath();
    const QString missing = QStringLiteral("/dev/quarvel-no-such-port");
    // Fixed ports 1 and 3 reach the pty (port 1 not, where a case says so); the others lead nowhere.
    bool port1Works = true;
    const auto names = [&](int port) {
        return (port == 1 && port1Works) || port == 3 ? good : missing + QString::number(port);
    };

    struct Case
    {
        const char* name;
        std::function<PortChoice::Result(PortChoice&)> choose;
        bool opened;
        std::optional<int> fellBackTo;
        std::optional<int> fixedPort;
        bool open;
        bool port1Works = true;
    };
    const Case cases[] = {
        {"a fixed port", [](PortChoice& c) { return c.chooseFixed(3); }, true, {}, 3, true},
        {"a fixed port that fails falls back to port 1", [](PortChoice& c) { return c.chooseFixed(2); },
         false, 1, 1, true},
        {"port 1 failing has nowhere to go",
         [](PortChoice& c) { return c.chooseFixed(1); },
         false,
         {},
         1,
         false,
         false},
        {"falling back to a port 1 that fails leaves none open",
         [](PortChoice& c) { return c.chooseFixed(4); }, false, 1, 1, false, false},
        {"a path", [&](PortChoice& c) { return c.choosePath(good); }, true, {}, {}, true},
        {"a path that fails keeps the fixed port in use",
         [&](PortChoice& c) {
             c.chooseFixed(3);
             return c.choosePath(missing);
         },
         false,
         {},
         3,
         true},
        {"a path that fails keeps the virtual selector in use",
         [&](PortChoice& c) {
             c.chooseVirtual();
             return c.choosePath(missing);
         },
         false,
         {},
         {},
         true},
        {"a path from the command line has no fall-back",
         [&](PortChoice& c) { return c.choosePath(missing); },
         false,
         {},
         {},
         false},
        {"the virtual selector", [](PortChoice& c) { return c.chooseVirtual(); }, true, {}, {}, true},
        {"start-up on a remembered path that is gone uses the marked port",
         [&](PortChoice& c) { return c.start(missing, 3); },
         true,
         {},
         3,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        port1Works = c.port1Works;
        SelectorSession session;
        PortChoice choice(session, names);
        const auto result = c.choose(choice);
        EXPECT_EQ(result.opened, c.opened);
        EXPECT_EQ(result.fellBackTo, c.fellBackTo);
        EXPECT_EQ(choice.fixedPort(), c.fixedPort);
        EXPECT_EQ(session.device().isOpen(), c.open);
    }
}
#endif

TEST(Operation, ReportsOneResultToItsStarterThenGoes)
{
    SelectorSession session;
    ASSERT_TRUE(session.bench().open());
    const auto started = session.readSelector();
    ASSERT_TRUE(started);
    QPointer<ReadOperation> operation = started.operation;
    QSignalSpy finished(operation, &ReadOperation::finished);
    QSignalSpy ended(operation, &Operation::ended);
    // Cancelled within the start's own turn of the event loop: the result still reaches the
    // starter, once, after it had the handle.
    operation->cancel();
    operation->cancel();
    EXPECT_TRUE(finished.count() > 0 || finished.wait(5000));
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(ended.size(), 1);
    EXPECT_EQ(finished.first().first().value<ReadResult>().reason, link::EndReason::Cancelled);
    EXPECT_EQ(session.device().current(), nullptr);
    EXPECT_TRUE(quarvel::testing::waitUntil([&] { return operation.isNull(); }, 1000));
}

} // namespace
} // namespace quarvel::session
