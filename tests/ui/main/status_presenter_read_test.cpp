// The presenter driven by a real read transfer, answered by a scripted selector.
#include "link/read_transfer.h"
#include "ui/main/status_presenter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace quarvel {
namespace {

using link::Outcome;

struct Snapshot
{
    int address;
    QString text;
    QString colour;
    int barValue;
};

struct ReadRun
{
    Outcome outcome = Outcome::Running;
    bool opened = false;
    std::vector<Snapshot> snapshots; // the window as it looked before each reply or time-out
};

// Runs one read the way the link driver does: reports first, then the reply or time-out.
// timeOuts maps an address to how many times in a row its request goes unanswered.
ReadRun runRead(StatusPresenter& presenter, std::map<int, int> timeOuts)
{
    link::ReadTransfer transfer;
    ReadRun run;
    presenter.transferStarted();
    link::Step step = transfer.start();
    for (;;) {
        for (const link::Report& r : step.reports)
            presenter.apply(r);
        if (step.outcome != Outcome::Running) {
            presenter.transferFinished(step.outcome);
            run.outcome = step.outcome;
            run.opened = transfer.opened();
            return run;
        }
        const int address = (*step.send)[1];
        const StatusWindow* w = presenter.window();
        run.snapshots.push_back({address, w->labelStats()->text(),
                                 w->labelStats()->palette().color(QPalette::WindowText).name(),
                                 w->bar()->value()});
        if (timeOuts[address] > 0) {
            --timeOuts[address];
            step = transfer.timeout(0);
        } else {
            const auto value = static_cast<std::uint8_t>(address * 7);
            step = transfer.reply(
                link::makeFrame(link::command::kRead, static_cast<std::uint8_t>(address), 0, value));
        }
    }
}

void runDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(StatusPresenterWithReadTransfer, ReadWithTimeOutsSucceedsAndClosesWindow)
{
    StatusPresenter p;
    const ReadRun run = runRead(p, {{10, 2}});
    EXPECT_EQ(run.outcome, Outcome::Succeeded);
    EXPECT_TRUE(run.opened);
    runDeferredDeletes();
    EXPECT_EQ(p.window(), nullptr);

    // 189 cells plus two repeated requests.
    ASSERT_EQ(run.snapshots.size(), 191U);
    struct Expect
    {
        std::size_t index;
        int address;
        const char* text;
        const char* colour;
    };
    const std::vector<Expect> expects{
        {0, 0, "Try to communicate", "#0000ff"},           {10, 10, "Try to communicate", "#0000ff"},
        {11, 10, "Communication time out !", "#0000ff"}, // red, then blue again before the retry
        {12, 10, "Communication time out !", "#0000ff"},   {13, 11, "Communication time out !", "#0000ff"},
        {190, 188, "Communication time out !", "#0000ff"},
    };
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.index);
        const Snapshot& s = run.snapshots[e.index];
        EXPECT_EQ(s.address, e.address);
        EXPECT_EQ(s.barValue, e.address);
        EXPECT_EQ(s.text, e.text);
        EXPECT_EQ(s.colour, e.colour);
    }
}

TEST(StatusPresenterWithReadTransfer, FailedReadsLeaveTheErrorOnScreen)
{
    struct Case
    {
        const char* name;
        std::map<int, int> timeOuts;
        int failedAt;
    };
    const std::vector<Case> cases{
        {"no selector", {{0, 5}}, 0},
        {"two at 10, three at 100", {{10, 2}, {100, 3}}, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StatusPresenter p;
        const ReadRun run = runRead(p, c.timeOuts);
        EXPECT_EQ(run.outcome, Outcome::Failed);
        EXPECT_FALSE(run.opened);
        QPointer<StatusWindow> w = p.window();
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->labelStats()->text(), "Read selector error");
        EXPECT_EQ(w->labelStats()->palette().color(QPalette::WindowText).name(), "#ff0000");
        EXPECT_EQ(w->bar()->value(), c.failedAt);
        EXPECT_EQ(w->bar()->maximum(), 189);
        EXPECT_TRUE(w->comExit()->isEnabled());

        // A second read over the displayed failure reuses the window and succeeds.
        EXPECT_EQ(runRead(p, {}).outcome, Outcome::Succeeded);
        runDeferredDeletes();
        EXPECT_TRUE(w.isNull());
    }
}

} // namespace
} // namespace quarvel
