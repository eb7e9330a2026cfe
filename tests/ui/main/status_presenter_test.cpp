#include "ui/main/status_presenter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace quarvel {
namespace {

using link::Outcome;
using link::Report;
using link::SetColour;
using link::SetProgress;
using link::ShowText;
using link::StatusColour;

// What the read and programming transfers report, written out as the user sees it.
const std::vector<Report> kReadStart{ShowText{"Try to communicate", StatusColour::Blue}, SetProgress{0, 189}};
const std::vector<Report> kProgramStart{ShowText{"Communication", StatusColour::Blue}, SetProgress{0, 189}};
const std::vector<Report> kTimeOut{ShowText{"Communication time out !", StatusColour::Red}};
const std::vector<Report> kReadError{ShowText{"Read selector error", StatusColour::Red}};
std::vector<Report> beforeCell(int address)
{
    return {SetColour{StatusColour::Blue}, SetProgress{address, {}}};
}

void applyAll(StatusPresenter& p, const std::vector<Report>& reports)
{
    for (const Report& r : reports)
        p.apply(r);
}

// A closed window is deleted on the next pass of the event loop.
void runDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QString labelText(const StatusPresenter& p)
{
    return p.window()->labelStats()->text();
}
QString labelColour(const StatusPresenter& p)
{
    return p.window()->labelStats()->palette().color(QPalette::WindowText).name();
}

// A read that fails: five time-outs at address 0, then the error.
void failRead(StatusPresenter& p)
{
    p.transferStarted();
    applyAll(p, kReadStart);
    for (int attempt = 0; attempt < 5; ++attempt) {
        applyAll(p, beforeCell(0));
        applyAll(p, kTimeOut);
    }
    applyAll(p, kReadError);
    p.transferFinished(Outcome::Failed);
}

TEST(StatusPresenter, SuccessfulReadLeavesNoWindow)
{
    StatusPresenter p;
    EXPECT_EQ(p.window(), nullptr);
    p.transferStarted();
    ASSERT_NE(p.window(), nullptr);
    EXPECT_TRUE(p.window()->isVisible());
    EXPECT_FALSE(p.window()->isModal());
    EXPECT_EQ(labelText(p), "standby");
    EXPECT_FALSE(p.window()->comExit()->isEnabled());

    applyAll(p, kReadStart);
    EXPECT_EQ(labelText(p), "Try to communicate");
    EXPECT_EQ(labelColour(p), "#0000ff");
    EXPECT_EQ(p.window()->bar()->maximum(), 189);
    for (int address = 0; address <= 188; ++address) {
        applyAll(p, beforeCell(address));
        ASSERT_EQ(p.window()->bar()->value(), address);
    }
    p.transferFinished(Outcome::Succeeded);
    runDeferredDeletes();
    EXPECT_EQ(p.window(), nullptr);
}

TEST(StatusPresenter, FailedReadStaysUntilClosedAndComesBackFresh)
{
    StatusPresenter p;
    failRead(p);
    QPointer<StatusWindow> failed = p.window();
    ASSERT_NE(failed, nullptr);
    EXPECT_TRUE(failed->isVisible());
    EXPECT_EQ(labelText(p), "Read selector error");
    EXPECT_EQ(labelColour(p), "#ff0000");
    EXPECT_EQ(failed->bar()->value(), 0);

    QPushButton* exit = failed->findChild<QPushButton*>("ComExit");
    ASSERT_NE(exit, nullptr);
    EXPECT_TRUE(exit->isEnabled());
    QTest::mouseClick(exit, Qt::LeftButton);
    runDeferredDeletes();
    EXPECT_TRUE(failed.isNull());
    EXPECT_EQ(p.window(), nullptr);

    // The next transfer gets a freshly loaded window.
    p.transferStarted();
    ASSERT_NE(p.window(), nullptr);
    EXPECT_TRUE(p.window()->isVisible());
    EXPECT_EQ(labelText(p), "standby");
    EXPECT_EQ(p.window()->bar()->maximum(), 100);
    EXPECT_FALSE(p.window()->comExit()->isEnabled());
    applyAll(p, kProgramStart);
    EXPECT_EQ(labelText(p), "Communication");
    EXPECT_EQ(labelColour(p), "#0000ff");
}

TEST(StatusPresenter, TransferOverDisplayedFailureReusesWindow)
{
    StatusPresenter p;
    failRead(p);
    QPointer<StatusWindow> failed = p.window();

    p.transferStarted();
    applyAll(p, kProgramStart);
    EXPECT_EQ(p.window(), failed.data());
    EXPECT_EQ(labelText(p), "Communication");
    EXPECT_EQ(labelColour(p), "#0000ff");
    EXPECT_EQ(p.window()->bar()->value(), 0);
    // Only loading disables the close button.
    EXPECT_TRUE(p.window()->comExit()->isEnabled());

    applyAll(p, beforeCell(86));
    p.transferFinished(Outcome::Succeeded);
    runDeferredDeletes();
    EXPECT_TRUE(failed.isNull());
}

TEST(StatusPresenter, TimeOutTextStaysInBlueOnTheNextCell)
{
    struct Expect
    {
        std::vector<Report> reports;
        const char* text;
        const char* colour;
        int value;
    };
    // One read with a time-out at address 10, applied in sequence.
    const std::vector<Expect> steps{
        {kReadStart, "Try to communicate", "#0000ff", 0},
        {beforeCell(10), "Try to communicate", "#0000ff", 10},
        {kTimeOut, "Communication time out !", "#ff0000", 10},
        {beforeCell(10), "Communication time out !", "#0000ff", 10},
        {beforeCell(11), "Communication time out !", "#0000ff", 11},
    };
    StatusPresenter p;
    p.transferStarted();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        applyAll(p, steps[i].reports);
        EXPECT_EQ(labelText(p), steps[i].text);
        EXPECT_EQ(labelColour(p), steps[i].colour);
        EXPECT_EQ(p.window()->bar()->value(), steps[i].value);
        EXPECT_EQ(p.window()->bar()->maximum(), 189);
    }
}

TEST(StatusPresenter, ReportsReachAWindowTheUserClosedMidTransfer)
{
    StatusPresenter p;
    p.transferStarted();
    applyAll(p, kReadStart);
    p.window()->close();
    runDeferredDeletes();
    ASSERT_EQ(p.window(), nullptr);

    // A failure must not go unseen.
    applyAll(p, kReadError);
    p.transferFinished(Outcome::Failed);
    ASSERT_NE(p.window(), nullptr);
    EXPECT_TRUE(p.window()->isVisible());
    EXPECT_EQ(labelText(p), "Read selector error");
    EXPECT_TRUE(p.window()->comExit()->isEnabled());
}

TEST(StatusPresenter, WindowBelongsToTheGivenParent)
{
    QWidget owner;
    QPointer<StatusWindow> w;
    {
        StatusPresenter p(&owner);
        p.transferStarted();
        w = p.window();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget(), &owner);
        EXPECT_TRUE(w->isWindow());
    }
    // The presenter takes its window with it.
    EXPECT_TRUE(w.isNull());
}

} // namespace
} // namespace quarvel
