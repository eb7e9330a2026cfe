#include "history/history_store.h"
#include "ui/main/history_window.h"

#include <QPlainTextEdit>
#include <QTableWidget>

#include <gtest/gtest.h>

using namespace quarvel;

TEST(HistoryWindow, ListsTheSelectorsOperationsNewestFirstWithWhatEachChanged)
{
    QTemporaryDir dir;
    history::HistoryTarget target;
    target.path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        history::HistoryStore store(QStringLiteral("fill"));
        ASSERT_TRUE(store.open(target));
        const auto add = [&](const char* id, const char* at, int serial, int changedCell) {
            history::HistoryRecord r;
            r.id = QLatin1String(id);
            r.at = QDateTime::fromString(QLatin1String(at), Qt::ISODate);
            r.serialNo = serial;
            r.operation = QStringLiteral("program");
            r.succeeded = true;
            r.before = QByteArray(189, '\x05');
            r.after = r.before;
            r.after[changedCell] = '\x06';
            ASSERT_TRUE(store.write(r));
        };
        add("older", "2026-12-01T10:00:00Z", 38, 1);
        add("newer", "2026-12-07T10:00:00Z", 38, 2);
        add("other", "2026-12-08T10:00:00Z", 17, 3);
    }
    HistoryWindow window(target, 38);
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableHistory"));
    auto* changes = window.findChild<QPlainTextEdit*>(QStringLiteral("textHistoryChanges"));
    ASSERT_TRUE(table && changes);
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(window.records().front().id, QStringLiteral("newer"));
    EXPECT_TRUE(
        table->item(0, table->columnCount() - 1)->text().startsWith(QStringLiteral("1 cell changed")));
    table->setCurrentCell(0, 0);
    EXPECT_TRUE(changes->toPlainText().contains(QStringLiteral("(cell 2): 5 -> 6")))
        << changes->toPlainText().toStdString();
    EXPECT_LE(window.width(), 1024);
    EXPECT_LE(window.height(), 768);
}
