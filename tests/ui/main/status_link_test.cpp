// The status window following real operations that the session runs against the virtual selector.
#include "event_wait.h"
#include "link/qt/serial_link.h"
#include "session/selector_session.h"
#include "sim/fault_plan.h"
#include "sim/virtual_selector.h"
#include "ui/main/status_presenter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

struct Bench
{
    session::SelectorSession session;
    StatusPresenter presenter;

    explicit Bench(const char* faults)
    {
        session::VirtualSelectorOptions options;
        options.faults = *sim::FaultPlan::parse(faults).plan;
        EXPECT_TRUE(session.bench().open(options));
        // Short enough to keep the test quick, long enough for a loaded machine.
        driverOf(session.device()).setTiming({.replyTimeoutMs = 100, .closingPauseMs = 10});
        presenter.follow(session);
    }

    template <class Op> bool runToEnd(session::Started<Op> started)
    {
        if (!started) return false;
        QSignalSpy done(started.operation, &Op::finished);
        if (!done.wait(20000)) return false;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return done.first().first().template value<typename Op::Result>().succeeded();
    }
    const sim::VirtualSelector& model() { return *session.bench().model(); }
};

TEST(StatusWindowFollowsLink, SuccessfulReadLeavesNoWindow)
{
    Bench b("drop:7,badsum:20");
    EXPECT_TRUE(b.runToEnd(b.session.readSelector()));
    EXPECT_EQ(b.presenter.window(), nullptr);
    EXPECT_EQ(b.session.document().image().text(0), std::to_string(b.model().cell(0)));
    EXPECT_EQ(b.session.document().image().text(188), std::to_string(b.model().cell(188)));
}

TEST(StatusWindowFollowsLink, ExhaustedReadLeavesTheErrorWithAnEnabledCloseButton)
{
    // Every fault here ends its exchange at once or at the time-out: a late reply to one retry
    // of cell 0 would be a good answer to the next whenever a loaded machine lets it catch up.
    Bench b("drop:1,drop:2,badsum:3,badcmd:4,drop:5");
    EXPECT_FALSE(b.runToEnd(b.session.readSelector()));
    StatusWindow* w = b.presenter.window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->labelStats()->text(), "Read selector error");
    EXPECT_EQ(w->labelStats()->palette().color(QPalette::WindowText), QColor(0xFF, 0x00, 0x00));
    EXPECT_TRUE(w->comExit()->isEnabled());
    EXPECT_EQ(w->bar()->maximum(), 189);
    EXPECT_TRUE(
        b.session.document().image().text(0).empty()); // nothing stored from a refused or missing reply
}

TEST(StatusWindowFollowsLink, AFailedRangeStaysVisibleAfterTheOtherRangesRan)
{
    // Five dropped replies (after the two of the line probe) exhaust the first range; the
    // second and third still run, and the run shows as one that failed.
    Bench b("drop:3,drop:4,drop:5,drop:6,drop:7");
    b.session.document().edit(session::ChangeSource::Edit,
                              [&](ParameterImage& image) { image.setText(100, "77"); });
    QSignalSpy finished(&driverOf(b.session.device()), &link::SerialLink::transferFinished);
    EXPECT_FALSE(b.runToEnd(b.session.program({})));
    ASSERT_EQ(finished.size(), 4);
    EXPECT_EQ(finished.at(1).first().value<link::Outcome>(), link::Outcome::Failed);
    EXPECT_EQ(finished.at(3).first().value<link::Outcome>(), link::Outcome::Succeeded);
    ASSERT_NE(b.presenter.window(), nullptr);
    EXPECT_TRUE(b.presenter.window()->comExit()->isEnabled());
    EXPECT_EQ(b.model().cell(100), 77);
    EXPECT_EQ(b.model().cell(180), 'M');
}

TEST(StatusWindowFollowsLink, CancelStopsARunOnADeadLineAndSamplingHasNoStatusWindow)
{
    Bench b("drop:1");
    driverOf(b.session.device()).setTiming({.replyTimeoutMs = 3000, .closingPauseMs = 10});
    const auto read = b.session.readSelector();
    ASSERT_TRUE(read);
    QSignalSpy done(read.operation, &session::ReadOperation::finished);
    ASSERT_TRUE(quarvel::testing::waitUntil(
        [&] { return b.presenter.window() && b.presenter.window()->comCancel()->isVisible(); }));
    b.presenter.window()->comCancel()->click();
    // With no closing pause left the result comes within the click.
    ASSERT_TRUE(done.count() > 0 || done.wait(5000));
    EXPECT_EQ(done.first().first().value<session::ReadResult>().reason, link::EndReason::Cancelled);
    b.presenter.window()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // A sampling run waits for coins in its own window.
    const auto run = b.session.startSampling(1);
    ASSERT_TRUE(run);
    quarvel::testing::settle();
    EXPECT_EQ(b.presenter.window(), nullptr);
    run.operation->cancel();
}

// No to the question before the first write: the status window does not stay as if running.
TEST(StatusWindowFollowsLink, ADeclinedProgrammingLeavesNoWindow)
{
    Bench b("");
    ParameterImage other = b.session.document().image();
    other.setNumber(85, static_cast<std::uint8_t>(b.model().cell(85) + 1));
    session::ProgramRequest request;
    request.image = other;
    request.exact = true;
    const auto started = b.session.program(request);
    ASSERT_TRUE(started);
    QSignalSpy asked(started.operation, &session::ProgramOperation::question);
    QSignalSpy done(started.operation, &session::ProgramOperation::finished);
    ASSERT_TRUE(asked.wait(20000));
    started.operation->cancel();
    ASSERT_TRUE(done.count() > 0 || done.wait(20000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(b.presenter.window(), nullptr);
}

} // namespace
} // namespace quarvel
