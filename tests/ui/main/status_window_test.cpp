#include "ui/main/status_window.h"
#include "ui/main/window_geometry.h"
#include "ui/status_colour.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

#include <vector>

namespace quarvel {
namespace {

using link::StatusColour;

TEST(StatusWindow, TwipsToPixels)
{
    struct Case
    {
        int twips;
        double dpi;
        int pixels;
    };
    const std::vector<Case> cases{
        {4680, 96, 312},  {3195, 96, 213}, {100, 96, 7},     {315, 96, 21},
        {4680, 120, 390}, {315, 120, 26},  {1635, 144, 164}, {0, 96, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(twipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " twips at " << c.dpi;
}

TEST(StatusWindow, LoadedState)
{
    StatusWindow w;
    EXPECT_EQ(w.objectName(), "ff");
    EXPECT_EQ(w.windowTitle(), "status");
    EXPECT_TRUE(w.isWindow());
    EXPECT_EQ(w.windowType(), Qt::Tool);
    EXPECT_TRUE(w.testAttribute(Qt::WA_DeleteOnClose));

    auto* bar = w.findChild<QProgressBar*>("bar");
    auto* label = w.findChild<QLabel*>("labelStats");
    auto* exit = w.findChild<QPushButton*>("ComExit");
    ASSERT_TRUE(bar && label && exit);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(label->text(), "standby");
    EXPECT_EQ(label->font().family(), "Arial");
    EXPECT_FALSE(label->wordWrap());
    EXPECT_EQ(exit->text(), "close");
    EXPECT_FALSE(exit->isEnabled());
}

TEST(StatusWindow, GeometryInTwips)
{
    StatusWindow w;
    if (w.screen()->logicalDotsPerInch() != 96.0) GTEST_SKIP() << "pixel values below are for 96 dpi";
    EXPECT_EQ(w.size(), QSize(312, 213));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_EQ(w.bar()->geometry(), QRect(24, 60, 265, 21));
    EXPECT_EQ(w.labelStats()->geometry(), QRect(4, 108, 297, 21));
    EXPECT_EQ(w.comExit()->geometry(), QRect(92, 164, 109, 33));
    EXPECT_EQ(w.pos(), w.screen()->availableGeometry().topLeft() + QPoint(7, 7));
}

TEST(StatusWindow, LabelColoursAreExact)
{
    struct Case
    {
        StatusColour colour;
        const char* name;
    };
    const std::vector<Case> cases{
        {StatusColour::Blue, "#0000ff"}, {StatusColour::Red, "#ff0000"}, {StatusColour::Green, "#006400"}};
    StatusWindow w;
    for (const Case& c : cases) {
        w.setStatusText("Communication time out !", c.colour);
        EXPECT_EQ(w.labelStats()->palette().color(QPalette::WindowText).name(), c.name);
        EXPECT_EQ(w.labelStats()->text(), "Communication time out !");
    }
    w.setStatusColour(StatusColour::Blue);
    EXPECT_EQ(w.labelStats()->palette().color(QPalette::WindowText).name(), "#0000ff");
    EXPECT_EQ(w.labelStats()->text(), "Communication time out !");
}

// WCAG's contrast ratio: the green must read on the window's own background, and stay green.
TEST(StatusWindow, TheGreenReadsAtAContrastOfAtLeast4_5)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    StatusWindow w;
    const QColor green = statusColour(StatusColour::Green);
    const double background = luminance(w.palette().color(QPalette::Window));
    EXPECT_GE((background + 0.05) / (luminance(green) + 0.05), 4.5);
    EXPECT_GT(green.green(), 2 * std::max(green.red(), green.blue()));
}

// While a run can be stopped the keyboard is in the window, and Escape is its Cancel.
TEST(StatusWindow, EscapeReachesCancelWhileItShows)
{
    StatusWindow w;
    w.setCancelVisible(true);
    w.show();
    QSignalSpy cancel(&w, &StatusWindow::cancelRequested);
    EXPECT_EQ(w.focusWidget(), w.comCancel());
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_EQ(cancel.count(), 1);
    EXPECT_TRUE(w.isVisible());
}

TEST(StatusWindow, Progress)
{
    struct Case
    {
        const char* name;
        int value;
        std::optional<int> maximum;
        int expectedValue, expectedMaximum;
    };
    // Applied in sequence to one window.
    const std::vector<Case> cases{
        {"maximum before value", 150, 189, 150, 189},
        {"value only", 188, std::nullopt, 188, 189},
        {"back to zero", 0, 189, 0, 189},
        {"beyond maximum", 250, std::nullopt, 189, 189},
        {"below minimum", -3, std::nullopt, 0, 189},
        {"smaller maximum", 20, 50, 20, 50},
    };
    StatusWindow w;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w.setProgress(c.value, c.maximum);
        EXPECT_EQ(w.bar()->value(), c.expectedValue);
        EXPECT_EQ(w.bar()->maximum(), c.expectedMaximum);
        EXPECT_EQ(w.bar()->minimum(), 0);
    }
}

TEST(StatusWindow, CloseButtonClosesAndDestroys)
{
    QPointer<StatusWindow> w = new StatusWindow;
    w->show();
    w->enableClose();
    ASSERT_TRUE(w->comExit()->isEnabled());
    QTest::mouseClick(w->comExit(), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());
}

} // namespace
} // namespace quarvel
