#include "gang_log.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quarvel::cli {
namespace {

// A spreadsheet must read the row back field for field, whatever a path holds.
TEST(GangLog, RowsQuoteWhatWouldSplitAField)
{
    session::GangUnitResult r;
    r.port = QStringLiteral("/dev/serial/by-id/usb-A,B");
    r.finishedAt = QDateTime(QDate(2025, 1, 14), QTime(9, 30, 12, 5), Qt::OffsetFromUTC, 3600);
    r.cellsProgrammed = 59;
    r.timeOuts = 5;
    r.durationMs = 1234;
    r.backupFile = QStringLiteral("b/\"x\".cdt");
    EXPECT_EQ(GangLog::row(r, QStringLiteral("FT232R USB UART"), QStringLiteral("A12"),
                           QStringLiteral("coins.cdt"), QStringLiteral("ab12")),
              QStringLiteral(
                  "2025-01-14T09:30:12.005+01:00,\"/dev/serial/by-id/usb-A,B\",FT232R USB UART,A12,FAIL,59,"
                  "no,5,0,1234,\"b/\"\"x\"\".cdt\",coins.cdt,ab12\n"));
    EXPECT_EQ(GangLog::header().count(QLatin1Char(',')), 12);
}

// The header goes only into a new log, a line break in a field is quoted, and an old row cut
// short gets its line end before the next one.
TEST(GangLog, AppendsWholeRowsAfterWhatIsThere)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("run.csv");
    const auto contents = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    session::GangUnitResult r;
    r.port = QStringLiteral("odd\nport");
    r.passed = true;
    {
        GangLog log;
        ASSERT_TRUE(log.open(path, dir.filePath("coins.cdt"), "\x01", nullptr));
        ASSERT_TRUE(log.append(r, {}, {}));
    }
    QStringList rows = contents().split(QLatin1Char('\n'));
    EXPECT_EQ(rows.at(0) + '\n', GangLog::header());
    EXPECT_TRUE(contents().contains(QStringLiteral(",\"odd\nport\",")));
    EXPECT_TRUE(contents().contains(QLatin1Char(',') + dir.filePath("coins.cdt") + QLatin1Char(',')));

    QFile cut(path);
    ASSERT_TRUE(cut.open(QIODevice::Append));
    cut.write("2025-01-14T09:30,/dev/tty"); // a full disk ended this row
    cut.close();
    {
        GangLog log;
        ASSERT_TRUE(log.open(path, dir.filePath("coins.cdt"), "\x01", nullptr));
        ASSERT_TRUE(log.append(r, {}, {}));
    }
    EXPECT_EQ(contents().count(GangLog::header()), 1);
    EXPECT_TRUE(contents().contains(QStringLiteral("/dev/tty\n"))) << contents().toStdString();
    EXPECT_TRUE(contents().endsWith(QStringLiteral(",01\n"))) << contents().toStdString();
}

} // namespace
} // namespace quarvel::cli
