#include "gang_log.h"

#include <QDir>
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
    r.serialNo = 42;
    EXPECT_EQ(GangLog::row(r, QStringLiteral("FT232R USB UART"), QStringLiteral("A12"),
                           QStringLiteral("coins.cdt"), QStringLiteral("ab12")),
              QStringLiteral(
                  "2025-01-14T09:30:12.005+01:00,\"/dev/serial/by-id/usb-A,B\",FT232R USB UART,A12,FAIL,59,"
                  "no,5,0,1234,\"b/\"\"x\"\".cdt\",coins.cdt,ab12,42\n"));
    // The selector's own number last, so that readers of older logs find every column in place.
    EXPECT_TRUE(GangLog::header().endsWith(QStringLiteral(",sha256,selector_serial_number\n")));
}

// A new log starts with the header; a line break in a field is quoted, paths are absolute.
// (An existing log, and one cut short, are tested on quarvelctl itself.)
TEST(GangLog, ANewLogGetsTheHeaderAndWholeQuotedRows)
{
    QTemporaryDir dir;
    session::GangUnitResult r;
    r.port = QStringLiteral("odd\nport");
    {
        GangLog log;
        // A coin file named relative to where the command ran.
        const QString coins = QDir::current().relativeFilePath(dir.filePath("coins.cdt"));
        ASSERT_TRUE(log.open(dir.filePath("run.csv"), coins, "\x01", nullptr));
        ASSERT_TRUE(log.append(r, {}, {}));
    }
    QFile file(dir.filePath("run.csv"));
    // The log takes the system's line ends (CR LF on Windows); read back, they are line ends.
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.startsWith(GangLog::header()));
    EXPECT_TRUE(text.contains(QStringLiteral(",\"odd\nport\",")));
    // A selector never read has no serial number: an empty field, not a made-up one.
    EXPECT_TRUE(text.endsWith(QLatin1Char(',') + dir.filePath("coins.cdt") + QStringLiteral(",01,\n")));
}

} // namespace
} // namespace quarvel::cli
