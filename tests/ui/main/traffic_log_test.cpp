#include "ui/main/traffic_log_window.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

link::TrafficEntry entry(std::uint8_t address)
{
    return {0, 0, link::Direction::Sent, {0xE1, address, 8, 6, 0}, "read cell " + std::to_string(address)};
}

// Lines gathered while the window is hidden must neither be lost nor reordered when it shows,
// and Clear must drop them as well.
TEST(TrafficLog, LinesGatheredWhileHiddenKeepTheirOrder)
{
    TrafficLogWindow log;
    log.append(entry(1));
    log.append(entry(2));
    EXPECT_EQ(log.text().count(QStringLiteral("read cell")), 2);
    log.show();
    log.append(entry(3));
    const QString shown = log.findChild<QPlainTextEdit*>(QStringLiteral("TextTraffic"))->toPlainText();
    EXPECT_LT(shown.indexOf(QStringLiteral("read cell 1")), shown.indexOf(QStringLiteral("read cell 2")));
    EXPECT_LT(shown.indexOf(QStringLiteral("read cell 2")), shown.indexOf(QStringLiteral("read cell 3")));
    log.hide();
    log.append(entry(4));
    log.findChild<QPushButton*>(QStringLiteral("ComClear"))->click();
    EXPECT_TRUE(log.text().isEmpty());
}

} // namespace
} // namespace quarvel
