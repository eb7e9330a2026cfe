// The virtual selector window's fault plan box, driven like a user.
#include "event_wait.h"
#include "session/selector_session.h"
#include "sim/virtual_selector.h"
#include "ui/sim/virtual_selector_window.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(VirtualSelectorWindow, ATypedPlanThatDoesNotReadIsKeptAndNamed)
{
    session::SelectorSession session;
    ASSERT_TRUE(session.bench().open());
    VirtualSelectorWindow window(session);
    auto* plan = window.findChild<QLineEdit*>("faultPlan");
    auto* active = window.findChild<QLabel*>("activePlan");
    const QString typed = QStringLiteral("drop:2,,late:3");
    plan->setText(typed);

    // Neither adding a fault nor setting the plan may replace or half-apply what was typed.
    for (const char* button : {"addFault", "setPlan"}) {
        active->clear();
        QTest::mouseClick(window.findChild<QPushButton*>(button), Qt::LeftButton);
        EXPECT_EQ(plan->text(), typed) << button;
        EXPECT_FALSE(active->text().isEmpty()) << button;
        EXPECT_TRUE(active->styleSheet().contains("#FF0000")) << button;
    }
    EXPECT_TRUE(session.bench().model()->faultPlan().isEmpty());
}

// The coins offered are those of the channel whose sampling began, not of the one shown before.
TEST(VirtualSelectorWindow, FollowsTheChannelBeingTaught)
{
    session::SelectorSession session;
    ASSERT_TRUE(session.bench().open());
    VirtualSelectorWindow window(session);
    auto* channel = window.findChild<QComboBox*>("comboChannel");
    channel->setCurrentIndex(2);
    const auto started = session.startSampling(1);
    ASSERT_TRUE(started);
    EXPECT_EQ(channel->currentData().toInt(), 1);
    EXPECT_EQ(window.findChild<QComboBox*>("comboCoinType")->currentIndex(), 0);
    session.device().current()->cancel();
    EXPECT_TRUE(quarvel::testing::waitUntil([&] { return !session.device().isBusy(); }, 5000));
}

} // namespace
} // namespace quarvel
