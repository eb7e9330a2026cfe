// The status window following real transfers that SerialLink runs against the virtual selector.
#include "link/program_transfer.h"
#include "link/read_transfer.h"
#include "link/qt/serial_link.h"
#include "ui/main/status_presenter.h"
#include "sim/fault_plan.h"
#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

struct Bench
{
    sim::VirtualSelector model;
    sim::VirtualPort port{model};
    link::SerialLink serial;
    StatusPresenter presenter;

    explicit Bench(const char* faults)
    {
        model.setFaultPlan(*sim::FaultPlan::parse(faults).plan);
        port.open(QIODevice::ReadWrite);
        serial.attachDevice(&port, "virtual");
        // Short enough to keep the test quick, long enough for a loaded machine.
        serial.setTiming({.replyTimeoutMs = 100, .closingPauseMs = 10});
        presenter.follow(serial);
    }

    bool runToEnd(std::vector<std::unique_ptr<link::Transfer>> jobs)
    {
        QSignalSpy done(&serial, &link::SerialLink::runFinished);
        if (!serial.run(std::move(jobs))) return false;
        if (!done.wait(20000)) return false;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return done.first().first().toBool();
    }
};

std::vector<std::unique_ptr<link::Transfer>> readJob(ParameterImage& image)
{
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::ReadTransfer>(image));
    return jobs;
}

TEST(StatusWindowFollowsLink, SuccessfulReadLeavesNoWindow)
{
    Bench b("drop:7,badsum:20");
    ParameterImage image;
    EXPECT_TRUE(b.runToEnd(readJob(image)));
    EXPECT_EQ(b.presenter.window(), nullptr);
    EXPECT_EQ(image.text(0), std::to_string(b.model.cell(0)));
    EXPECT_EQ(image.text(188), std::to_string(b.model.cell(188)));
}

TEST(StatusWindowFollowsLink, ExhaustedReadLeavesTheErrorWithAnEnabledCloseButton)
{
    Bench b("drop:1,drop:2,late:3:400ms,badcmd:4,drop:5");
    ParameterImage image;
    EXPECT_FALSE(b.runToEnd(readJob(image)));
    StatusWindow* w = b.presenter.window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->labelStats()->text(), "Read selector error");
    EXPECT_EQ(w->labelStats()->palette().color(QPalette::WindowText), QColor(0xFF, 0x00, 0x00));
    EXPECT_TRUE(w->comExit()->isEnabled());
    EXPECT_EQ(w->bar()->maximum(), 189);
    EXPECT_TRUE(image.text(0).empty()); // nothing stored from a refused or missing reply
}

TEST(StatusWindowFollowsLink, FailedFirstRangeStaysVisibleUntilTheNextRangeSucceeds)
{
    // Five dropped replies exhaust the first range; the second and third still run.
    Bench b("drop:1,drop:2,drop:3,drop:4,drop:5");
    ParameterImage image;
    image.setText(100, "77");
    QSignalSpy finished(&b.serial, &link::SerialLink::transferFinished);
    EXPECT_FALSE(b.runToEnd(link::programJobs(image)));
    ASSERT_EQ(finished.size(), 3);
    EXPECT_EQ(finished.at(0).first().value<link::Outcome>(), link::Outcome::Failed);
    EXPECT_EQ(finished.at(2).first().value<link::Outcome>(), link::Outcome::Succeeded);
    EXPECT_EQ(b.presenter.window(), nullptr); // the last range closed it
    EXPECT_EQ(b.model.cell(100), 77);
    EXPECT_EQ(b.model.cell(180), 'M');
}

} // namespace
} // namespace quarvel
