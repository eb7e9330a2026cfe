#include "event_wait.h"
#include "ui/main/link_check_dialog.h"

#include "session/selector_session.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

// The menu entry follows the port, and its dialog shows the figures the check ends with.
TEST(LinkCheckDialog, MenuEntryRunsTheCheckOnTheCurrentPort)
{
    session::SelectorSession session;
    QMenu menu;
    ensureCheckLinkAction(menu, session, nullptr);
    auto* action = menu.findChild<QAction*>("mnuCheckLink");
    ASSERT_NE(action, nullptr);
    EXPECT_FALSE(action->isEnabled());

    ASSERT_TRUE(session.bench().open());
    ensureCheckLinkAction(menu, session, nullptr);
    EXPECT_EQ(menu.findChildren<QAction*>("mnuCheckLink").size(), 1);
    ASSERT_TRUE(action->isEnabled());
    action->trigger();
    QWidget* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "frmCheckLink") dialog = w;
    ASSERT_NE(dialog, nullptr);
    auto* text = dialog->findChild<QLabel*>("labelCheck");
    EXPECT_TRUE(
        quarvel::testing::waitUntil([&] { return text->text().contains("diagnosis: line healthy"); }, 10000))
        << text->text().toStdString();
    EXPECT_TRUE(text->text().contains("round trip of 50 answers to 50 reads of cell 0"));
    // The dialog grew with the result: every line down to the diagnosis shows.
    QApplication::processEvents();
    EXPECT_GE(text->height(), text->heightForWidth(text->width()));
    dialog->close();
}

} // namespace
} // namespace quarvel
